#pragma once
// UTF-8 <-> UTF-16 for the wide ODBC calls. Malformed input becomes U+FFFD;
// nothing is dropped silently.

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <string>
#include <string_view>

namespace migrator::providers::odbc {

using WString = std::basic_string<SQLWCHAR>;

WString ToWide(std::string_view utf8);
// Appends the UTF-8 form of `count` code units to `out`.
void AppendUtf8(const SQLWCHAR* text, std::size_t count, std::string& out);
inline std::string ToUtf8(const SQLWCHAR* text, std::size_t count) {
  std::string out;
  AppendUtf8(text, count, out);
  return out;
}
inline std::string ToUtf8(const WString& text) {
  return ToUtf8(text.data(), text.size());
}

}  // namespace migrator::providers::odbc
