#pragma once
// Slot<T>: a field that holds a shared object and may be replaced from either
// thread. A side's session and data source live in slots; holders keep a
// pointer to the slot, never a copy of the object, so that a reconnect or a
// close is seen by every holder at once. A caller takes a strong reference
// with Get() for the length of one operation, so an object in use is never
// freed under it.

#include <memory>
#include <mutex>

namespace migrator::oledb {

class Session;
class DataSource;

template <class T>
class Slot {
 public:
  std::shared_ptr<T> Get() const {
    std::lock_guard lock(m_);
    return p_;
  }
  void Set(std::shared_ptr<T> p) {
    std::shared_ptr<T> old;
    {
      std::lock_guard lock(m_);
      old.swap(p_);
      p_ = std::move(p);
    }
    // old is released outside the lock
  }
  void Reset() { Set(nullptr); }
  bool Empty() const { return Get() == nullptr; }

 private:
  mutable std::mutex m_;
  std::shared_ptr<T> p_;
};

using SessionSlot = Slot<Session>;
using DataSourceSlot = Slot<DataSource>;

// A reference to a side's session field: null means "no reference". The
// session counts as missing when the reference is null or the slot is empty.
using SessionRef = const SessionSlot*;

inline std::shared_ptr<Session> Resolve(SessionRef ref) {
  return ref ? ref->Get() : nullptr;
}

}  // namespace migrator::oledb
