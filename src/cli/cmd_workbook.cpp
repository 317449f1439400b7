// migrator-cli workbook: look into a workbook file and copy it through the
// workbook engine.

#include <cctype>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "cli/commands.h"
#include "platform/workbook_guard.h"
#include "xls/workbook.h"

namespace migrator::cli {
namespace {

int Usage() {
  std::fprintf(stderr,
               "Usage: migrator-cli workbook info FILE\n"
               "       migrator-cli workbook cat FILE [SHEET]\n"
               "       migrator-cli workbook copy [--replace] IN OUT\n"
               "  copy: OUT named .xls or .xlsx for the other format converts; an existing\n"
               "  OUT (or one whose name differs only in case) is replaced only with\n"
               "  --replace, and then only when no one holds it.\n");
  return 2;
}

const char* TypeText(xls::SheetType t) {
  switch (t) {
    case xls::SheetType::kWorksheet:
      return "worksheet";
    case xls::SheetType::kChart:
      return "chart";
    case xls::SheetType::kMacro:
      return "macro sheet";
    case xls::SheetType::kVisualBasic:
      return "module";
  }
  return "sheet";
}

const char* VisibilityText(xls::Visibility v) {
  switch (v) {
    case xls::Visibility::kVisible:
      return "visible";
    case xls::Visibility::kHidden:
      return "hidden";
    case xls::Visibility::kVeryHidden:
      return "very hidden";
  }
  return "";
}

std::string NumberText(double v) {
  if (v == std::floor(v) && std::fabs(v) < 1e15) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", v);
    return buf;
  }
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

// One field of tab-separated output: tabs, line breaks and backslashes escaped.
void PutField(std::string& line, const xls::Value& v) {
  switch (v.kind) {
    case xls::Value::Kind::kEmpty:
      break;
    case xls::Value::Kind::kNumber:
      line += NumberText(v.number);
      break;
    case xls::Value::Kind::kBoolean:
      line += v.boolean ? "TRUE" : "FALSE";
      break;
    case xls::Value::Kind::kError:
      line += xls::ErrorText(v.error);
      break;
    case xls::Value::Kind::kText:
      for (char c : v.text) {
        switch (c) {
          case '\t':
            line += "\\t";
            break;
          case '\n':
            line += "\\n";
            break;
          case '\r':
            line += "\\r";
            break;
          case '\\':
            line += "\\\\";
            break;
          default:
            line += c;
        }
      }
      break;
  }
}

int Info(const std::string& path) {
  auto wb = xls::Workbook::Load(path);
  if (!wb) {
    std::fprintf(stderr, "migrator-cli workbook: %s\n", wb.message().c_str());
    return 1;
  }
  std::printf("Sheets: %zu\n", wb->sheetCount());
  for (size_t i = 0; i < wb->sheetCount(); ++i) {
    const xls::Sheet& s = wb->sheet(i);
    std::printf("  %zu. %s (%s, %s)", i + 1, s.name().c_str(), TypeText(s.type()),
                VisibilityText(s.visibility()));
    if (s.isWorksheet()) {
      auto used = s.UsedRange();
      std::printf(" used %s", used ? xls::RangeName(*used).c_str() : "none");
    }
    std::printf("\n");
  }
  std::printf("Names: %zu\n", wb->nameCount());
  for (size_t i = 0; i < wb->nameCount(); ++i) {
    xls::DefinedName n = wb->name(i);
    std::string scope;
    if (n.scope && *n.scope < wb->sheetCount()) scope = " [" + wb->sheet(*n.scope).name() + "]";
    std::printf("  %s%s = %s%s\n", n.name.c_str(), scope.c_str(), n.reference.c_str(),
                n.hidden ? " (hidden)" : "");
  }
  return 0;
}

int Cat(const std::string& path, const std::string* sheetName) {
  auto wb = xls::Workbook::Load(path);
  if (!wb) {
    std::fprintf(stderr, "migrator-cli workbook: %s\n", wb.message().c_str());
    return 1;
  }
  if (wb->sheetCount() == 0) {
    std::fprintf(stderr, "migrator-cli workbook: %s has no sheets\n", path.c_str());
    return 1;
  }
  size_t index = 0;
  if (sheetName) {
    auto found = wb->FindSheet(*sheetName);
    if (!found) {
      std::fprintf(stderr, "migrator-cli workbook: %s has no sheet named %s\n", path.c_str(),
                   sheetName->c_str());
      return 1;
    }
    index = *found;
  }
  const xls::Sheet& s = wb->sheet(index);
  if (!s.isWorksheet()) {
    std::fprintf(stderr, "migrator-cli workbook: sheet %s is not a worksheet\n", s.name().c_str());
    return 1;
  }
  auto used = s.UsedRange();
  if (!used) return 0;
  std::string line;
  for (uint32_t r = 0; r <= used->lastRow; ++r) {
    line.clear();
    for (uint32_t c = 0; c <= used->lastCol; ++c) {
      if (c) line += '\t';
      PutField(line, s.GetValue(r, c));
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  return 0;
}

// The format a copy's name asks for: .xls or .xlsx; nothing for another name.
std::optional<xls::FileFormat> NamedFormat(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return std::nullopt;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "xls") return xls::FileFormat::kXls;
  if (ext == "xlsx") return xls::FileFormat::kXlsx;
  return std::nullopt;
}

// The copy is saved beside OUT under a name of its own and then renamed to
// OUT in a step that fails when OUT was made meanwhile: a file that is there
// is never replaced unless `replace` says so.
Status SaveAsNew(const xls::Workbook& wb, const std::string& out) {
  const std::string tmp = out + ".~" + std::to_string(::getpid()) + ".new";
  if (auto st = wb.Save(tmp); !st) {
    ::unlink(tmp.c_str());
    return st;
  }
  if (auto moved = RenameNoReplace(tmp, out); !moved) {
    ::unlink(tmp.c_str());
    return Fail("cannot save " + out + ": " + moved.message());
  }
  return {};
}

int Copy(const std::string& in, const std::string& out, bool replace) {
  if (const std::string there = EntryNamedLike(out); !there.empty() && !replace) {
    std::fprintf(stderr,
                 "migrator-cli workbook: %s is there already; it is not replaced (give "
                 "--replace to replace it)\n",
                 there.c_str());
    return 1;
  }
  auto wb = xls::Workbook::Load(in);
  if (!wb) {
    std::fprintf(stderr, "migrator-cli workbook: %s\n", wb.message().c_str());
    return 1;
  }
  // A copy named for the other format is a conversion.
  if (auto want = NamedFormat(out); want && *want != wb->format()) {
    std::vector<std::string> notes;
    auto converted = wb->ConvertedTo(*want, &notes);
    if (!converted) {
      std::fprintf(stderr, "migrator-cli workbook: %s cannot be converted: %s\n", in.c_str(),
                   converted.message().c_str());
      return 1;
    }
    for (const auto& n : notes)
      std::fprintf(stderr, "migrator-cli workbook: %s\n", n.c_str());
    *wb = std::move(*converted);
  }
  Status saved;
  if (replace) {
    // One writer at a time: a workbook a data source holds is not replaced
    // under it.
    auto lock = WorkbookLock::Acquire(out);
    if (!lock) {
      std::fprintf(stderr, "migrator-cli workbook: %s\n", lock.message().c_str());
      return 1;
    }
    saved = wb->Save(out);
  } else {
    saved = SaveAsNew(*wb, out);
  }
  if (!saved) {
    std::fprintf(stderr, "migrator-cli workbook: %s\n", saved.message().c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int RunWorkbook(const Args& args) {
  if (args.empty()) return Usage();
  const std::string& sub = args[0];
  if (sub == "info" && args.size() == 2) return Info(args[1]);
  if (sub == "cat" && (args.size() == 2 || args.size() == 3))
    return Cat(args[1], args.size() == 3 ? &args[2] : nullptr);
  if (sub == "copy" && args.size() == 3) return Copy(args[1], args[2], false);
  if (sub == "copy" && args.size() == 4 && args[1] == "--replace")
    return Copy(args[2], args[3], true);
  return Usage();
}

}  // namespace migrator::cli
