#pragma once
// The package around a workbook's parts: content types, relationships, and
// the names of parts.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "xls/xlsx/xml.h"

namespace migrator::xls::xlsx {

// Relationship types and content types the engine writes or looks for.
namespace rel {
inline constexpr std::string_view kBase =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
inline constexpr std::string_view kStrictBase =
    "http://purl.oclc.org/ooxml/officeDocument/relationships/";
inline const std::string kOfficeDocument = std::string(kBase) + "officeDocument";
inline const std::string kWorksheet = std::string(kBase) + "worksheet";
inline const std::string kChartsheet = std::string(kBase) + "chartsheet";
inline const std::string kDialogsheet = std::string(kBase) + "dialogsheet";
inline const std::string kMacrosheet =
    "http://schemas.microsoft.com/office/2006/relationships/xlMacrosheet";
inline const std::string kStyles = std::string(kBase) + "styles";
inline const std::string kSharedStrings = std::string(kBase) + "sharedStrings";
inline const std::string kComments = std::string(kBase) + "comments";
inline const std::string kVmlDrawing = std::string(kBase) + "vmlDrawing";
inline const std::string kHyperlink = std::string(kBase) + "hyperlink";
inline const std::string kThreadedComment =
    "http://schemas.microsoft.com/office/2017/10/relationships/threadedComment";
inline const std::string kCoreProperties =
    "http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties";
inline const std::string kExtendedProperties = std::string(kBase) + "extended-properties";
}  // namespace rel

namespace ct {
inline constexpr std::string_view kBase = "application/vnd.openxmlformats-officedocument.";
inline const std::string kWorkbook = std::string(kBase) + "spreadsheetml.sheet.main+xml";
inline const std::string kTemplate = std::string(kBase) + "spreadsheetml.template.main+xml";
inline const std::string kMacroWorkbook = "application/vnd.ms-excel.sheet.macroEnabled.main+xml";
inline const std::string kMacroTemplate = "application/vnd.ms-excel.template.macroEnabled.main+xml";
inline const std::string kBinaryWorkbook =
    "application/vnd.ms-excel.sheet.binary.macroEnabled.main";
inline const std::string kWorksheet = std::string(kBase) + "spreadsheetml.worksheet+xml";
inline const std::string kStyles = std::string(kBase) + "spreadsheetml.styles+xml";
inline const std::string kSharedStrings = std::string(kBase) + "spreadsheetml.sharedStrings+xml";
inline const std::string kComments = std::string(kBase) + "spreadsheetml.comments+xml";
inline const std::string kRelationships =
    "application/vnd.openxmlformats-package.relationships+xml";
inline const std::string kCore = "application/vnd.openxmlformats-package.core-properties+xml";
inline const std::string kApp = std::string(kBase) + "extended-properties+xml";
inline const std::string kVml = "application/vnd.openxmlformats-officedocument.vmlDrawing";
}  // namespace ct

struct Relationship {
  std::string id, type, target;
  bool external = false;
};

struct Relationships {
  std::vector<Relationship> list;

  static Result<Relationships> Parse(std::string_view doc, const std::string& what);
  std::string Write() const;
  const Relationship* Find(std::string_view id) const;
  const Relationship* FirstOfType(std::string_view type) const;
  // An id no relationship has yet ("rId7").
  std::string NewId() const;
  void Remove(std::string_view id);
};

struct ContentTypes {
  std::vector<std::pair<std::string, std::string>> defaults;   // extension, type
  std::vector<std::pair<std::string, std::string>> overrides;  // part name ("/xl/..."), type

  static Result<ContentTypes> Parse(std::string_view doc);
  std::string Write() const;
  // The type of a part ("xl/workbook.xml"), empty when it has none.
  std::string TypeOf(std::string_view part) const;
  void Set(std::string_view part, std::string type);
  void Remove(std::string_view part);
};

// Part names are the same names whatever the case of their letters.
bool SamePartName(std::string_view a, std::string_view b);

// The part a relationship of `source` ("xl/workbook.xml") names: its target
// taken from the source's folder, or from the package's root when it starts
// with "/". Nothing when it climbs out of the package.
std::optional<std::string> ResolveTarget(std::string_view source, std::string_view target);
// The relationships part of a part: "xl/_rels/workbook.xml.rels".
std::string RelsPartOf(std::string_view part);
// The target to write for `part`, relative to `source`'s folder.
std::string RelativeTarget(std::string_view source, std::string_view part);

}  // namespace migrator::xls::xlsx
