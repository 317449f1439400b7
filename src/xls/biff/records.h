#pragma once
// BIFF8 record identifiers and the record layer: reading records from a
// workbook stream and writing them, split into CONTINUE records when long.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "xls/bytes.h"

namespace migrator::xls::detail {

namespace rt {
constexpr uint16_t kFormula = 0x0006;
constexpr uint16_t kEof = 0x000A;
constexpr uint16_t kCalcCount = 0x000C;
constexpr uint16_t kProtect = 0x0012;
constexpr uint16_t kExternSheet = 0x0017;
constexpr uint16_t kName = 0x0018;
constexpr uint16_t kSelection = 0x001D;
constexpr uint16_t kDateMode = 0x0022;
constexpr uint16_t kFilePass = 0x002F;
constexpr uint16_t kFont = 0x0031;
constexpr uint16_t kContinue = 0x003C;
constexpr uint16_t kWindow1 = 0x003D;
constexpr uint16_t kPane = 0x0041;
constexpr uint16_t kCodePage = 0x0042;
constexpr uint16_t kDefColWidth = 0x0055;
constexpr uint16_t kColInfo = 0x007D;
constexpr uint16_t kBoundSheet = 0x0085;
constexpr uint16_t kPalette = 0x0092;
constexpr uint16_t kFilterMode = 0x009B;
constexpr uint16_t kAutoFilterInfo = 0x009D;
constexpr uint16_t kAutoFilter = 0x009E;
constexpr uint16_t kScl = 0x00A0;
constexpr uint16_t kMulRk = 0x00BD;
constexpr uint16_t kMulBlank = 0x00BE;
constexpr uint16_t kRString = 0x00D6;
constexpr uint16_t kDbCell = 0x00D7;
constexpr uint16_t kXf = 0x00E0;
constexpr uint16_t kMergedCells = 0x00E5;
constexpr uint16_t kSst = 0x00FC;
constexpr uint16_t kLabelSst = 0x00FD;
constexpr uint16_t kExtSst = 0x00FF;
constexpr uint16_t kTabId = 0x013D;
constexpr uint16_t kSupBook = 0x01AE;
constexpr uint16_t kDimensions = 0x0200;
constexpr uint16_t kBlank = 0x0201;
constexpr uint16_t kNumber = 0x0203;
constexpr uint16_t kLabel = 0x0204;
constexpr uint16_t kBoolErr = 0x0205;
constexpr uint16_t kString = 0x0207;
constexpr uint16_t kRow = 0x0208;
constexpr uint16_t kIndex = 0x020B;
constexpr uint16_t kArray = 0x0221;
constexpr uint16_t kDefaultRowHeight = 0x0225;
constexpr uint16_t kTable = 0x0236;
constexpr uint16_t kWindow2 = 0x023E;
constexpr uint16_t kRk = 0x027E;
constexpr uint16_t kStyle = 0x0293;
constexpr uint16_t kFormat = 0x041E;
constexpr uint16_t kShrFmla = 0x04BC;
constexpr uint16_t kAutoFilter12 = 0x087E;
constexpr uint16_t kBof = 0x0809;
constexpr uint16_t kPlv = 0x088B;
}  // namespace rt

constexpr size_t kMaxRecordData = 8224;

struct Record {
  uint16_t type = 0;
  Bytes data;
};

// A record as it lies in the stream.
struct RecordView {
  uint16_t type = 0;
  std::span<const uint8_t> data;
  size_t offset = 0;  // stream position of the record header
};

// Walks the records of a workbook stream from a position.
class RecordCursor {
 public:
  RecordCursor(std::span<const uint8_t> stream, size_t pos) : s_(stream), pos_(pos) {}
  // False at the end of the stream; sets *error when a record overruns it.
  bool Next(RecordView& r, std::string* error);
  // The next record without consuming it (false at the end).
  bool PeekType(uint16_t& type) const;
  size_t pos() const { return pos_; }

 private:
  std::span<const uint8_t> s_;
  size_t pos_;
};

// Appends records to a stream buffer.
class RecordWriter {
 public:
  explicit RecordWriter(OutBytes& out) : out_(out) {}
  size_t pos() const { return out_.size(); }
  OutBytes& bytes() { return out_; }

  // Writes one record; data longer than a record holds continues in CONTINUE
  // records.
  void Write(uint16_t type, std::span<const uint8_t> data);
  // Starts a record of known size and returns a pointer to its data.
  uint8_t* Begin(uint16_t type, size_t size) {
    size_t old = out_.size();
    out_.resize(old + 4 + size);
    uint8_t* p = out_.data() + old;
    Put16(p, type);
    Put16(p + 2, static_cast<uint16_t>(size));
    return p + 4;
  }

 private:
  OutBytes& out_;
};

}  // namespace migrator::xls::detail
