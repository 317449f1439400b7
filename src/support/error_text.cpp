#include "support/error_text.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace migrator {
namespace {

// strerror_r comes in two flavours; both are handled so the build does not
// depend on the feature macros in force.
[[maybe_unused]] const char* StrErrorResult(int rc, const char* buffer) {
  return rc == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* StrErrorResult(const char* text, const char*) {
  return text;
}

// Built by concatenation rather than printf so that a NUL inside the
// caller's text is carried along instead of ending the line early.
std::string FormatLine(std::string_view text, std::uint32_t code, std::string_view message) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(code));
  std::string line;
  line.reserve(text.size() + message.size() + 64);
  line.append(text);
  line.append(" \r\n failed with error code:[0x");
  line.append(hex);
  line.append("] \r\n discription:");
  line.append(message);
  return line;
}

}  // namespace

std::string SystemErrorMessage(int code) {
  char buffer[512] = {};
  const char* text = StrErrorResult(strerror_r(code, buffer, sizeof buffer), buffer);
  return text ? std::string(text) : std::string();
}

std::string SystemErrorLine(std::string_view text) {
  const int code = errno;  // read before anything here can change it
  return SystemErrorLine(text, code);
}

std::string SystemErrorLine(std::string_view text, int code) {
  return FormatLine(text, static_cast<std::uint32_t>(code), SystemErrorMessage(code));
}

std::string HResultLine(HRESULT result, std::string_view text) {
  return FormatLine(text, static_cast<std::uint32_t>(result), HResultMessage(result));
}

}  // namespace migrator
