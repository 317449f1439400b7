// Number formats: those both file formats know by number, and whether a
// format code shows dates or times.

#include <string>

#include "xls/model.h"

namespace migrator::xls::detail {

const char* BuiltinNumberFormat(uint16_t id) {
  switch (id) {
    case 0:
      return "General";
    case 1:
      return "0";
    case 2:
      return "0.00";
    case 3:
      return "#,##0";
    case 4:
      return "#,##0.00";
    case 9:
      return "0%";
    case 10:
      return "0.00%";
    case 11:
      return "0.00E+00";
    case 12:
      return "# ?/?";
    case 13:
      return "# ?\?/??";
    case 14:
      return "M/D/YY";
    case 15:
      return "D-MMM-YY";
    case 16:
      return "D-MMM";
    case 17:
      return "MMM-YY";
    case 18:
      return "h:mm AM/PM";
    case 19:
      return "h:mm:ss AM/PM";
    case 20:
      return "h:mm";
    case 21:
      return "h:mm:ss";
    case 22:
      return "M/D/YY h:mm";
    case 37:
      return "#,##0_);(#,##0)";
    case 38:
      return "#,##0_);[Red](#,##0)";
    case 39:
      return "#,##0.00_);(#,##0.00)";
    case 40:
      return "#,##0.00_);[Red](#,##0.00)";
    case 45:
      return "mm:ss";
    case 46:
      return "[h]:mm:ss";
    case 47:
      return "mm:ss.0";
    case 48:
      return "##0.0E+0";
    case 49:
      return "@";
    default:
      return nullptr;
  }
}

bool IsBuiltinDateFormat(uint16_t id) {
  return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
         (id >= 50 && id <= 58);
}

bool IsDateFormatCode(std::u16string_view code) {
  // A date or time code holds d, m, y, h or s outside quotes, escapes and
  // bracketed colours or conditions.
  bool inQuote = false;
  for (size_t i = 0; i < code.size(); ++i) {
    char16_t c = code[i];
    if (inQuote) {
      if (c == '"') inQuote = false;
      continue;
    }
    if (c == '"') {
      inQuote = true;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;
    } else if (c == '[') {
      size_t e = code.find(u']', i);
      if (e == std::u16string_view::npos) break;
      std::u16string_view in = code.substr(i + 1, e - i - 1);
      if (!in.empty() && ((in[0] | 0x20) == 'h' || (in[0] | 0x20) == 'm' || (in[0] | 0x20) == 's'))
        return true;
      i = e;
    } else if (c < 0x80) {
      char16_t l = c | 0x20;
      if (l == 'g' && i + 7 <= code.size()) {
        bool general = true;
        const char16_t* g = u"general";
        for (size_t k = 0; k < 7; ++k)
          if ((code[i + k] | 0x20) != g[k]) general = false;
        if (general) {
          i += 6;
          continue;
        }
      }
      if (l == 'd' || l == 'm' || l == 'y' || l == 'h' || l == 's') return true;
    }
  }
  return false;
}

}  // namespace migrator::xls::detail
