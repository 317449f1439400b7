#include "oledb/properties.h"

#include <algorithm>

namespace migrator::oledb {

void PropertySet::Add(DBPROPID id, Variant value, PropertyOptions options) {
  props_.push_back(Property{id, std::move(value), options});
}

void PropertySet::Set(DBPROPID id, Variant value, PropertyOptions options) {
  for (auto& p : props_) {
    if (p.id == id) {
      p.value = std::move(value);
      p.options = options;
      return;
    }
  }
  Add(id, std::move(value), options);
}

std::size_t PropertySet::Remove(DBPROPID id) {
  return std::erase_if(props_, [id](const Property& p) { return p.id == id; });
}

const Property* PropertySet::Find(DBPROPID id) const {
  auto it =
      std::find_if(props_.begin(), props_.end(), [id](const Property& p) { return p.id == id; });
  return it == props_.end() ? nullptr : &*it;
}

std::optional<std::string> PropertySet::FindText(DBPROPID id) const {
  const Property* p = Find(id);
  if (!p || p->value.vt() != VT_BSTR) return std::nullopt;
  return p->value.AsBstr();
}

std::optional<bool> PropertySet::FindBool(DBPROPID id) const {
  const Property* p = Find(id);
  if (!p || p->value.vt() != VT_BOOL) return std::nullopt;
  return p->value.AsBool();
}

std::optional<std::int32_t> PropertySet::FindI4(DBPROPID id) const {
  const Property* p = Find(id);
  if (!p || p->value.vt() != VT_I4) return std::nullopt;
  return p->value.AsI4();
}

std::optional<std::int16_t> PropertySet::FindI2(DBPROPID id) const {
  const Property* p = Find(id);
  if (!p || p->value.vt() != VT_I2) return std::nullopt;
  return p->value.AsI2();
}

PropertySet StandardRowsetProperties(bool withRowsetChange) {
  PropertySet set(PropertySetId::Rowset);
  set.Add(DBPROP_IRowset, Variant::Bool(true));
  if (withRowsetChange) set.Add(DBPROP_IRowsetChange, Variant::Bool(true));
  set.Add(DBPROP_UPDATABILITY,
          Variant::I4(DBPROPVAL_UP_CHANGE | DBPROPVAL_UP_DELETE | DBPROPVAL_UP_INSERT));
  return set;
}

}  // namespace migrator::oledb
