#include "providers/odbc/charset.h"

#include "platform/text.h"

#include <cctype>
#include <cerrno>
#include <string>

namespace migrator::providers::odbc {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

}  // namespace

std::string IconvNameForMySqlCharset(std::string_view mysqlName) {
  static constexpr struct {
    const char* mysql;
    const char* iconv;
  } kMap[] = {
      {"big5", "BIG5"},
      {"dec8", "DEC-MCS"},
      {"cp850", "CP850"},
      {"hp8", "HP-ROMAN8"},
      {"koi8r", "KOI8-R"},
      {"latin1", "CP1252"},
      {"latin2", "ISO-8859-2"},
      {"swe7", "ISO646-SE"},
      {"ascii", "ASCII"},
      {"ujis", "EUC-JP"},
      {"sjis", "SHIFT_JIS"},
      {"hebrew", "ISO-8859-8"},
      {"tis620", "TIS-620"},
      {"euckr", "EUC-KR"},
      {"koi8u", "KOI8-U"},
      {"gb2312", "GB2312"},
      {"greek", "ISO-8859-7"},
      {"cp1250", "CP1250"},
      {"gbk", "GBK"},
      {"latin5", "ISO-8859-9"},
      {"armscii8", "ARMSCII-8"},
      {"ucs2", "UCS-2BE"},
      {"cp866", "CP866"},
      {"macce", "MAC-CENTRALEUROPE"},
      {"macroman", "MACINTOSH"},
      {"cp852", "CP852"},
      {"latin7", "ISO-8859-13"},
      {"cp1251", "CP1251"},
      {"cp1256", "CP1256"},
      {"cp1257", "CP1257"},
      {"geostd8", "GEORGIAN-PS"},
      {"cp932", "CP932"},
      {"eucjpms", "EUC-JP-MS"},
      {"gb18030", "GB18030"},
      {"utf16", "UTF-16BE"},
      {"utf16le", "UTF-16LE"},
      {"utf32", "UTF-32BE"},
  };
  const std::string name = ToLowerAscii(mysqlName);
  for (const auto& m : kMap) {
    if (name == m.mysql) return m.iconv;
  }
  return {};  // utf8, utf8mb3, utf8mb4, binary, NULL and unknown names: taken as UTF-8
}

bool MayChangeResultCharset(std::string_view statement) {
  const std::string s = ToLowerAscii(statement);
  return s.find("charac") != std::string::npos || s.find("charset") != std::string::npos ||
         s.find("names") != std::string::npos;
}

TextDecoder::TextDecoder(std::string_view mysqlName) : name_(ToLowerAscii(mysqlName)) {
  const std::string from = IconvNameForMySqlCharset(name_);
  if (!from.empty()) cd_ = iconv_open("UTF-8", from.c_str());
}

TextDecoder::~TextDecoder() {
  if (converts()) iconv_close(cd_);
}

void TextDecoder::Append(std::string_view bytes, std::string& out) {
  if (!converts()) {
    AppendValidUtf8(bytes, out);
    return;
  }
  iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // a fresh shift state per value
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  char buffer[4096];
  while (inLeft > 0) {
    char* o = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t r = iconv(cd_, &in, &inLeft, &o, &outLeft);
    out.append(buffer, static_cast<std::size_t>(o - buffer));
    if (r == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // An invalid or incomplete sequence: one replacement, skip a byte.
      out += kReplacement;
      ++in;
      --inLeft;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
  }
  char* o = buffer;
  std::size_t outLeft = sizeof buffer;
  iconv(cd_, nullptr, nullptr, &o, &outLeft);  // flush a pending shift sequence
  out.append(buffer, static_cast<std::size_t>(o - buffer));
}

bool EncodeText(std::string_view mysqlName, std::string_view utf8, std::string& out) {
  const std::string to = IconvNameForMySqlCharset(mysqlName);
  if (to.empty()) {
    out.assign(utf8);
    return true;
  }
  iconv_t cd = iconv_open(to.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    out.assign(utf8);
    return true;
  }
  out.clear();
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  char buffer[4096];
  bool ok = true;
  for (;;) {
    char* o = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t r = iconv(cd, inLeft ? &in : nullptr, &inLeft, &o, &outLeft);
    out.append(buffer, static_cast<std::size_t>(o - buffer));
    if (r != static_cast<std::size_t>(-1)) {
      if (inLeft == 0 && o == buffer) break;  // flushed
      continue;
    }
    if (errno == E2BIG) continue;
    ok = false;  // a character the set has no form for, or broken UTF-8
    break;
  }
  iconv_close(cd);
  return ok;
}

void AppendValidUtf8(std::string_view bytes, std::string& out) {
  std::size_t start = 0;  // the run of valid text not yet appended
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      i += AsciiPrefixLength(bytes.substr(i));
      continue;
    }
    const std::size_t len = Utf8SequenceLength(bytes, i);
    if (len == 0) {
      out.append(bytes.data() + start, i - start);
      out += kReplacement;
      ++i;
      start = i;
    } else {
      i += len;
    }
  }
  out.append(bytes.data() + start, n - start);
}

}  // namespace migrator::providers::odbc
