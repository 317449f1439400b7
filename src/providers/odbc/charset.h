#pragma once
// Decoding text from a session's result character set into UTF-8.
//
// The MariaDB and MySQL drivers hand over text columns read as SQL_C_CHAR
// exactly as the server sent them, in the session's character_set_results.
// Usually that is UTF-8 and the bytes pass through unchanged; after a "set
// character_set_results=..." they are converted here.

#include <iconv.h>

#include <string>
#include <string_view>

namespace migrator::providers::odbc {

// The iconv name for a MySQL character set name ("latin1" -> "CP1252"); empty
// for UTF-8 and for names that need no or allow no conversion ("binary").
std::string IconvNameForMySqlCharset(std::string_view mysqlName);

// Whether a statement may change the session's result character set (so that
// the provider asks for it again before it next reads text).
bool MayChangeResultCharset(std::string_view statement);

class TextDecoder {
 public:
  // `mysqlName` as @@character_set_results gives it (empty for NULL).
  explicit TextDecoder(std::string_view mysqlName);
  ~TextDecoder();
  TextDecoder(const TextDecoder&) = delete;
  TextDecoder& operator=(const TextDecoder&) = delete;

  // Appends the UTF-8 form of `bytes` to `out`. Bytes that cannot be decoded
  // become U+FFFD; nothing is dropped silently.
  void Append(std::string_view bytes, std::string& out);
  const std::string& charset() const { return name_; }
  bool converts() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

 private:
  std::string name_;
  iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
};

// `utf8` in a MySQL character set (as @@character_set_client names it) into
// `out`; false when a character has no form in that set. UTF-8 sets and
// names without a conversion take the text as it is.
bool EncodeText(std::string_view mysqlName, std::string_view utf8, std::string& out);

// Appends `bytes` to `out`, replacing every byte that does not belong to a
// well-formed UTF-8 sequence with U+FFFD.
void AppendValidUtf8(std::string_view bytes, std::string& out);

}  // namespace migrator::providers::odbc
