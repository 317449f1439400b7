#include "oledb/errors.h"

#include <algorithm>

namespace migrator::oledb {

void ErrorStore::Set(ErrorRecords records) {
  const auto self = std::this_thread::get_id();
  std::lock_guard lock(m_);
  auto it = std::find_if(byThread_.begin(), byThread_.end(),
                         [&](const auto& entry) { return entry.first == self; });
  if (records.empty()) {
    if (it != byThread_.end()) byThread_.erase(it);
  } else if (it != byThread_.end()) {
    it->second = std::move(records);
  } else {
    byThread_.emplace_back(self, std::move(records));
  }
  held_.store(byThread_.size(), std::memory_order_release);
}

std::optional<ErrorRecords> ErrorStore::Get() const {
  const auto self = std::this_thread::get_id();
  std::lock_guard lock(m_);
  for (const auto& [id, records] : byThread_) {
    if (id == self) return records;
  }
  return std::nullopt;
}

std::string ErrorDescription(const ErrorInfoSource* object, Iid iid) {
  if (!object || !object->InterfaceSupportsErrorInfo(iid)) return kUnknownError;
  auto records = object->ErrorObject();
  if (!records || records->empty()) return kUnknownError;
  // Only the first record counts.
  return records->front().description;
}

ErrorRecord LayerError(HRESULT code, std::string description) {
  ErrorRecord r;
  r.hr = code;
  r.description = std::move(description);
  r.source = "Migrator data-source layer";
  return r;
}

}  // namespace migrator::oledb
