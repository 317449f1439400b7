#pragma once
// Property and PropertySet: what a data source is initialised with and what a
// command asks of its rowset.

#include <optional>
#include <string>
#include <vector>

#include "oledb/types.h"

namespace migrator::oledb {

enum class PropertyOptions { Required, Optional };

struct Property {
  DBPROPID id = 0;
  Variant value;
  PropertyOptions options = PropertyOptions::Required;
};

// One property set (DBPROPSET): the properties in the order they were added.
class PropertySet {
 public:
  explicit PropertySet(PropertySetId set = PropertySetId::DBInit) : set_(set) {}

  PropertySetId set() const { return set_; }

  // Appends a property, even when one with the same id is already there (the
  // first one is the one Find sees).
  void Add(DBPROPID id, Variant value, PropertyOptions options = PropertyOptions::Required);
  // Replaces the value of the first property with this id, or appends it.
  void Set(DBPROPID id, Variant value, PropertyOptions options = PropertyOptions::Required);
  // Removes every property with this id; returns how many were removed.
  std::size_t Remove(DBPROPID id);
  // The first property with this id, or null.
  const Property* Find(DBPROPID id) const;
  bool Has(DBPROPID id) const { return Find(id) != nullptr; }

  // Shortcuts for typed reads: the value when the property is there and of the
  // type asked for.
  std::optional<std::string> FindText(DBPROPID id) const;
  std::optional<bool> FindBool(DBPROPID id) const;
  std::optional<std::int32_t> FindI4(DBPROPID id) const;
  std::optional<std::int16_t> FindI2(DBPROPID id) const;

  const std::vector<Property>& properties() const { return props_; }
  std::size_t size() const { return props_.size(); }
  bool empty() const { return props_.empty(); }
  void Clear() { props_.clear(); }

 private:
  PropertySetId set_;
  std::vector<Property> props_;
};

// The rowset properties every command is run with: DBPROP_IRowset = true
// (VT_BOOL) and DBPROP_UPDATABILITY = change | delete | insert (VT_I4, 7). The
// single-value query adds DBPROP_IRowsetChange = true between the two.
PropertySet StandardRowsetProperties(bool withRowsetChange = false);

}  // namespace migrator::oledb
