#pragma once
// AutomationError: how a failing member of the spreadsheet object model
// reports itself. It stands for the error exception of a late-bound
// automation call: a result code (an HRESULT) and the description the
// spreadsheet program supplied. It is the one exception in the code base and
// never leaves the operation that drives the object model; the operation
// catches it and shows ErrorMessage(code) and the description.

#include <exception>
#include <string>

#include "support/hresult.h"

namespace migrator::automation {

// Result codes that the object model raises.
// The spreadsheet program's own failures ("Application-defined or
// object-defined error"); the system has no text for this code.
inline constexpr HRESULT kExcelError = hr::Code(0x800A03ECu);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = hr::Code(0x80020006u);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = hr::Code(0x80020004u);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = hr::Code(0x80020005u);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = hr::Code(0x80020003u);
inline constexpr HRESULT DISP_E_EXCEPTION = hr::Code(0x80020009u);
inline constexpr HRESULT DISP_E_BADINDEX = hr::Code(0x8002000Bu);
inline constexpr HRESULT RPC_E_DISCONNECTED = hr::Code(0x80010108u);
inline constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = hr::Code(0x80080005u);

class AutomationError : public std::exception {
 public:
  AutomationError(HRESULT code, std::string description)
      : code_(code), description_(std::move(description)) {}
  HRESULT code() const { return code_; }
  // The description as the object model supplied it; may be empty.
  const std::string& description() const { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  HRESULT code_;
  std::string description_;
};

// The message text for an error code, as the error exception gives it: the
// system's text for the code without a trailing line break; for a code from
// 0x80040200 to 0x8004FFFF whose low word is not 0x0200 (and that the system
// has no text for) "IDispatch error #<code - 0x80040200>"; otherwise
// "Unknown error 0x<code in upper-case hex>".
std::string ErrorMessage(HRESULT code);

}  // namespace migrator::automation
