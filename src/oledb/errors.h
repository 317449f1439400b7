#pragma once
// Error records and the error-record reader.
//
// A failing call on a layer object (data source, session, command, rowset)
// leaves the provider's error records on that object for the calling thread,
// the way OLE DB leaves an error object on the thread. The next call on the
// same object from the same thread replaces them. A caller reads them right
// after the failing call, on the thread that made it, with ErrorDescription.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "oledb/types.h"

namespace migrator::oledb {

// One error record as a provider reports it.
struct ErrorRecord {
  HRESULT hr = hr::E_FAIL;
  std::string description;  // UTF-8, the provider's own words
  std::string source;       // the provider's name
  std::int32_t nativeError = 0;
  std::string sqlState;  // five characters, or empty
};
using ErrorRecords = std::vector<ErrorRecord>;

// Per-thread error records of one object. Thread-safe.
class ErrorStore {
 public:
  // Replaces the calling thread's records; empty records clear them.
  void Set(ErrorRecords records);
  // Every successful call clears: when no thread has records there is
  // nothing to take the lock for.
  void Clear() {
    if (held_.load(std::memory_order_acquire) != 0) Set({});
  }
  // The calling thread's records, or nothing when the last call left none.
  std::optional<ErrorRecords> Get() const;

 private:
  mutable std::mutex m_;
  std::vector<std::pair<std::thread::id, ErrorRecords>> byThread_;
  std::atomic<size_t> held_{0};  // byThread_.size(), for Clear
};

// What the error-record reader asks of an object (ISupportErrorInfo and the
// thread's error object).
class ErrorInfoSource {
 public:
  virtual ~ErrorInfoSource() = default;
  // Whether the object reports error information for calls of this interface.
  virtual bool InterfaceSupportsErrorInfo(Iid iid) const = 0;
  // The records the calling thread's last failing call on the object left.
  std::optional<ErrorRecords> ErrorObject() const { return errors_.Get(); }

 protected:
  ErrorStore& errors() const { return errors_; }

 private:
  mutable ErrorStore errors_;
};

inline constexpr const char* kUnknownError = "Unknown Error!";

// The error-record reader: the description of the first error record that the
// calling thread's last failing call on `object` left. "Unknown Error!" when
// there is no object, the object does not report error information for `iid`,
// or there are no records.
std::string ErrorDescription(const ErrorInfoSource* object, Iid iid);

// A record made by the layer itself (no provider involved).
ErrorRecord LayerError(HRESULT code, std::string description);

}  // namespace migrator::oledb
