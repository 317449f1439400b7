#pragma once
// Result<T>: a value or an error text. Errors are values in this code base; no
// operation lets an exception cross its boundary.

#include <string>
#include <utility>
#include <variant>

namespace migrator {

struct Error {
  std::string message;
  int code = 0;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::move(value)) {}      // NOLINT: implicit by design
  Result(Error error) : v_(std::move(error)) {}  // NOLINT

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  const Error& error() const { return std::get<1>(v_); }
  const std::string& message() const { return error().message; }

 private:
  std::variant<T, Error> v_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)), ok_(false) {}  // NOLINT

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  const Error& error() const { return error_; }
  const std::string& message() const { return error_.message; }

 private:
  Error error_;
  bool ok_ = true;
};

using Status = Result<void>;

inline Error Fail(std::string message, int code = 0) {
  return Error{std::move(message), code};
}

}  // namespace migrator
