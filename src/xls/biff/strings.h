#pragma once
// BIFF8 strings: the string fields of records and the shared string table.

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "xls/biff/records.h"
#include "xls/bytes.h"
#include "xls/text_pool.h"

namespace migrator::xls::detail {

// Reads a string field: a 1- or 2-byte character count, a flags byte, the
// run and phonetic sizes when flagged, the characters, then skips the runs
// and phonetic data. Runs, when wanted, are returned as raw 4-byte entries.
bool ReadXLString(ByteReader& r, bool longCount, std::u16string& out, Bytes* runs = nullptr);
// Reads the characters of a string whose count is already known (flags byte first).
bool ReadXLChars(ByteReader& r, size_t count, std::u16string& out);
// True when every character fits the compressed (8-bit) form.
bool Compressible(std::u16string_view s);
// Writes a string field with a 1- or 2-byte count.
void WriteXLString(ByteWriter& w, std::u16string_view s, bool longCount);
// Writes flags byte + characters (no count).
void WriteXLChars(ByteWriter& w, std::u16string_view s);

// Reads data that may continue over CONTINUE records, where a string's
// characters carry a fresh flags byte after each record boundary.
class SegmentedReader {
 public:
  explicit SegmentedReader(std::vector<std::span<const uint8_t>> segments);
  bool failed() const { return failed_; }
  bool AtEnd();
  uint8_t U8();
  uint16_t U16();
  uint32_t U32();
  void Skip(size_t n);
  void Read(size_t n, Bytes& out);
  // Appends `count` characters to `out`, starting with a flags byte.
  void ReadChars(size_t count, bool highByte, char16_t* out);
  // Bytes left in all segments.
  size_t Remaining() const;

 private:
  bool Advance();
  std::vector<std::span<const uint8_t>> segs_;
  std::vector<size_t> after_;  // bytes in the segments after each one
  size_t seg_ = 0;
  size_t pos_ = 0;
  bool failed_ = false;
};

// Parses the SST record and its CONTINUE records into `sst`.
bool ParseSst(std::vector<std::span<const uint8_t>> segments, SharedStrings& sst,
              std::string* error);

// Writes SST + EXTSST with the entries `order` lists, in that order. `total`
// is the number of cells that refer to the table.
void WriteSst(RecordWriter& w, const SharedStrings& sst, std::span<const uint32_t> order,
              uint32_t total);

// Reads the text of a STRING record (a formula's cached text), whose
// characters may continue in following CONTINUE records.
bool ReadStringRecord(const std::vector<const Bytes*>& parts, std::u16string& out);

}  // namespace migrator::xls::detail
