#include "automation/automation_error.h"

#include <cstdint>
#include <cstdio>

namespace migrator::automation {
namespace {

struct Entry {
  HRESULT code;
  const char* text;
};

// The system's texts for the codes an automation call can end with.
constexpr Entry kSystemTexts[] = {
    {hr::E_NOTIMPL, "Not implemented."},
    {hr::E_NOINTERFACE, "No such interface supported."},
    {hr::E_POINTER, "Invalid pointer."},
    {hr::E_ABORT, "Operation aborted."},
    {hr::E_FAIL, "Unspecified error."},
    {hr::E_UNEXPECTED, "Catastrophic failure."},
    {hr::E_ACCESSDENIED, "Access is denied."},
    {hr::E_OUTOFMEMORY, "Not enough storage is available to complete this operation."},
    {hr::E_INVALIDARG, "The parameter is incorrect."},
    {hr::REGDB_E_CLASSNOTREG, "Class not registered."},
    {hr::CO_E_CLASSSTRING, "Invalid class string."},
    {DISP_E_MEMBERNOTFOUND, "Member not found."},
    {DISP_E_PARAMNOTFOUND, "Parameter not found."},
    {DISP_E_TYPEMISMATCH, "Type mismatch."},
    {DISP_E_UNKNOWNNAME, "Unknown name."},
    {DISP_E_EXCEPTION, "Exception occurred."},
    {DISP_E_BADINDEX, "Invalid index."},
    {RPC_E_DISCONNECTED, "The object invoked has disconnected from its clients."},
    {CO_E_SERVER_EXEC_FAILURE, "Server execution failed."},
};

}  // namespace

std::string ErrorMessage(HRESULT code) {
  for (const Entry& e : kSystemTexts) {
    if (e.code == code) return e.text;
  }
  const auto u = static_cast<std::uint32_t>(code);
  char buffer[64];
  if (u >= 0x80040200u && u <= 0x8004FFFFu && (u & 0xFFFFu) != 0x0200u) {
    std::snprintf(buffer, sizeof buffer, "IDispatch error #%d", static_cast<int>(u - 0x80040200u));
  } else {
    std::snprintf(buffer, sizeof buffer, "Unknown error 0x%0lX", static_cast<unsigned long>(u));
  }
  return buffer;
}

}  // namespace migrator::automation
