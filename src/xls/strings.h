#pragma once
// BIFF8 strings: the string fields of records and the shared string table.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "xls/bytes.h"
#include "xls/records.h"

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
  explicit SegmentedReader(std::vector<std::span<const uint8_t>> segments)
      : segs_(std::move(segments)) {}
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
  size_t seg_ = 0;
  size_t pos_ = 0;
  bool failed_ = false;
};

// The shared string table. Text is kept as UTF-16 in one pool; plain strings
// are found again through a hash table so that adding a string is O(1).
class SharedStrings {
 public:
  struct Extra {
    Bytes runs;  // formatting runs, 4 bytes each
    Bytes ext;   // phonetic data
  };

  uint32_t size() const { return static_cast<uint32_t>(entries_.size()); }
  std::u16string_view Text(uint32_t i) const {
    const Entry& e = entries_[i];
    return std::u16string_view(pool_.data() + e.off, e.len);
  }
  const Extra* ExtraOf(uint32_t i) const {
    uint32_t x = entries_[i].extra;
    return x == kNone ? nullptr : &extras_[x];
  }
  // Finds or adds a plain string.
  Result<uint32_t> Intern(std::u16string_view s);
  // Adds an entry as read, with optional runs and phonetic data.
  uint32_t AddLoaded(std::u16string_view s, Bytes runs, Bytes ext);
  // Appends `n` characters to the pool for an entry being read; returns where.
  char16_t* BeginChars(size_t n, uint32_t& offset);
  uint32_t FinishEntry(uint32_t offset, uint32_t len, Bytes runs, Bytes ext);
  void Reserve(size_t entries, size_t chars);
  size_t poolChars() const { return pool_.size(); }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFF;
  struct Entry {
    uint32_t off;
    uint32_t len;
    uint32_t extra;
  };
  static uint32_t Hash(std::u16string_view s);
  void BuildTable();
  void Grow();
  void InsertIndex(uint32_t idx);

  std::vector<char16_t> pool_;
  std::vector<Entry> entries_;
  std::vector<Extra> extras_;
  std::vector<uint32_t> table_;  // entry index + 1, 0 = empty
  size_t tableCount_ = 0;
  bool tableBuilt_ = false;
};

// Parses the SST record and its CONTINUE records into `sst`.
bool ParseSst(std::vector<std::span<const uint8_t>> segments, SharedStrings& sst,
              std::string* error);

// Writes SST + EXTSST for the entries whose `remap` is not kUnused, in the
// order of their new indices. `total` is the number of cells that refer to it.
constexpr uint32_t kUnusedString = 0xFFFFFFFF;
void WriteSst(RecordWriter& w, const SharedStrings& sst, const std::vector<uint32_t>* remap,
              uint32_t unique, uint32_t total);

// Reads the text of a STRING record (a formula's cached text), whose
// characters may continue in following CONTINUE records.
bool ReadStringRecord(const std::vector<const Bytes*>& parts, std::u16string& out);

}  // namespace migrator::xls::detail
