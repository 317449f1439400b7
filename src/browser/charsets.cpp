#include "browser/charsets.h"

#include <array>

#include "platform/text.h"

namespace migrator {
namespace {

constexpr std::array<CharsetEntry, 37> kCharsets{{
    {"big5", "Big5 Traditional Chinese", "BIG5"},
    {"dec8", "DEC West European ", "DEC8"},
    {"cp850", "DOS West European", "CP850"},
    {"hp8", "HP West European", "HP8"},
    {"koi8r", "KOI8-R Relcom Russian", "KOI8R"},
    {"latin1", "cp1252 West European", "LATIN1"},
    {"latin2", "ISO 8859-2 Central European", "LATIN2"},
    {"swe7", "7bit Swedish", "SWE7"},
    {"ascii", "US ASCII", "ASCII"},
    {"ujis", "EUC-JP Japanese", "UJIS"},
    {"sjis", "Shift-JIS Japanese", "SJIS"},
    {"hebrew", "ISO 8859-8 Hebrew", "HEBREW"},
    {"tis620", "TIS620 Thai", "TIS620"},
    {"euckr", "EUC-KR Korean", "EUCKR"},
    {"koi8u", "KOI8-U Ukrainian", "KOI8U"},
    {"gb2312", "GB2312 Simplified Chinese", "GB2312"},
    {"greek", "ISO 8859-7 Greek", "GREEK"},
    {"cp1250", " Windows Central European", "CP1250"},
    {"gbk", "GBK Simplified Chinese", "GBK"},
    {"latin5", "ISO 8859-9 Turkish", "LATIN5"},
    {"armscii8", "ARMSCII-8 Armenian", "ARMSCII8"},
    {"utf8", "UTF-8 Unicode", "UTF8"},
    {"ucs2", "UCS-2 Unicode", "UCS2"},
    {"cp866", "DOS Russian", "CP866"},
    {"keybcs2", "DOS Kamenicky Czech-Slovak", "KEYBCS2"},
    {"macce", "Mac Central European", "MACCE"},
    {"macroman", "Mac West European", "MACROMAN"},
    {"cp852", "DOS Central European", "CP852"},
    {"latin7", "ISO 8859-13 Baltic", "LATIN7"},
    {"cp1251", " Windows Cyrillic", "CP1251"},
    {"cp1256", " Windows Arabic", "CP1256"},
    {"cp1257", " Windows Baltic", "CP1257"},
    {"binary", "Binary pseudo charset", "BINARY"},
    {"geostd8", "GEOSTD8 Georgian", "GEOSTD8"},
    {"cp932", "SJIS for Windows Japanese", "CP932"},
    {"eucjpms", "UJIS for Windows Japanese", "EUCJPMS"},
    // The whole of Unicode, the character set of today's servers.
    {"utf8mb4", "UTF-8 Unicode (4 bytes)", "UTF8MB4"},
}};

bool PlainWord(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

}  // namespace

std::span<const CharsetEntry> Charsets() {
  return kCharsets;
}

std::string CharsetName(int index) {
  if (index < 0 || index >= static_cast<int>(kCharsets.size())) return "UNKOWNEN";
  return kCharsets[index].name;
}

int CharsetIndex(std::string_view name) {
  for (std::size_t i = 0; i < kCharsets.size(); ++i)
    if (name == kCharsets[i].name) return static_cast<int>(i);
  return -1;
}

std::vector<CharsetChoice> OfferedCharsets(
    const std::vector<std::pair<std::string, std::string>>& serverSets) {
  std::vector<CharsetChoice> choices;
  for (const CharsetEntry& e : kCharsets)
    choices.push_back({e.button, e.description, e.name});
  for (const auto& [name, description] : serverSets) {
    if (!PlainWord(name)) continue;
    bool known = false;
    for (const CharsetChoice& c : choices)
      known = known || EqualNoCase(c.name, name);
    if (!known) choices.push_back({name, description, Upper(name)});
  }
  return choices;
}

int ChoiceIndex(const std::vector<CharsetChoice>& choices, std::string_view name) {
  for (std::size_t i = 0; i < choices.size(); ++i)
    if (name == choices[i].name) return static_cast<int>(i);
  return -1;
}

}  // namespace migrator
