#pragma once
// The styles part of a workbook (xl/styles.xml): number formats, fonts,
// fills, borders and cell formats, kept as the element tree they were read
// as, so that what is not changed is written back as it was; changes add
// elements.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/result.h"
#include "xls/workbook.h"
#include "xls/xlsx/xml.h"

namespace migrator::xls::xlsx {

class Styles {
 public:
  static Result<Styles> Parse(std::string_view doc);
  // The styles of a new workbook: one font, the two fills every file has,
  // one border and the default cell format 0.
  static Styles New();
  std::string Write() const;

  size_t fontCount() const;
  std::optional<Font> font(uint16_t index) const;
  size_t xfCount() const;
  CellFormat format(uint16_t xf) const;
  std::string NumberFormatCode(uint16_t id) const;
  bool IsDateFormat(uint16_t xf) const;
  Result<uint16_t> WithNumberFormat(uint16_t xf, std::string_view code);
  Result<uint16_t> Formatted(uint16_t xf, const RowFormat& f, bool lastCol);
  Result<uint16_t> Import(const CellFormat& f, const Font& font, std::string_view code);

 private:
  enum List { kNumFmts, kFonts, kFills, kBorders, kCellStyleXfs, kCellXfs, kLists };
  const XmlNode* Get(List l) const;
  XmlNode& Edit(List l);
  const XmlNode* Item(List l, size_t i) const;
  Result<uint16_t> FindOrAdd(List l, XmlNode node);
  Result<uint16_t> NumberFormatId(std::string_view code);
  uint16_t XfAttr(const XmlNode& xf, std::string_view name) const;
  bool DateFormatOf(uint16_t xf) const;

  XmlNode root_;
  std::string main_;  // the prefix of the main namespace ("x:" or "")
  mutable std::unordered_map<std::string, uint16_t> index_[kLists];
  mutable std::vector<int8_t> dateXf_;  // by cell format: -1 not known yet, 0, 1
  // WithNumberFormat's answers: every date cell of a table asks the same.
  // Formats are only ever added, so an answer stays true.
  struct WithFormat {
    uint16_t xf;
    std::string code;
    uint16_t result;
  };
  std::vector<WithFormat> withFormat_;
};

}  // namespace migrator::xls::xlsx
