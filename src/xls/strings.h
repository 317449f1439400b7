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

// The shared string table. Text is kept as UTF-16 in one pool. Adding a
// string is an append; equal strings are merged when the table is written.
class SharedStrings {
 public:
  struct Extra {
    Bytes runs;  // formatting runs, 4 bytes each
    Bytes ext;   // phonetic data
  };

  uint32_t size() const { return static_cast<uint32_t>(entries_.size()); }
  std::u16string_view Text(uint32_t i) const {
    const Entry& e = entries_[i];
    return std::u16string_view(chunks_[e.off >> kChunkBits].get() + (e.off & (kChunk - 1)), e.len);
  }
  const Extra* ExtraOf(uint32_t i) const {
    uint32_t x = entries_[i].extra;
    return x == kNone ? nullptr : &extras_[x];
  }
  // Adds a plain string.
  Result<uint32_t> Add(std::u16string_view s);
  // Adds an entry as read, with optional runs and phonetic data.
  uint32_t AddLoaded(std::u16string_view s, Bytes runs, Bytes ext);
  // Room for `n` characters of an entry being read (nullptr when the
  // workbook holds too much text); `offset` says where.
  char16_t* BeginChars(size_t n, uint32_t& offset);
  uint32_t FinishEntry(uint32_t offset, uint32_t len, Bytes runs, Bytes ext);
  void Reserve(size_t entries, size_t chars);
  size_t poolChars() const { return chars_; }
  // Strings added since the table was read from a file.
  bool changed() const { return changed_; }
  // For every entry, the first entry with the same text: itself for the
  // first of its text and for formatted text, which is never merged.
  // Entries are only ever added, so the answer is kept from call to call and
  // only new entries are looked at. Not for two threads at once.
  const std::vector<uint32_t, BigAlloc<uint32_t>>& FirstEqual() const;

  // Four characters at a time: texts are hashed by the hundred thousand.
  static uint32_t Hash(std::u16string_view s) {
    const char16_t* p = s.data();
    size_t n = s.size();
    uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
    for (; n >= 4; n -= 4, p += 4) {
      uint64_t w;
      std::memcpy(&w, p, sizeof w);
      h = (h ^ w) * 0xFF51AFD7ED558CCDull;
      h ^= h >> 32;
    }
    uint64_t w = 0;
    std::memcpy(&w, p, n * sizeof(char16_t));
    h = (h ^ w) * 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 29;
    h *= 0xFF51AFD7ED558CCDull;
    return static_cast<uint32_t>(h ^ (h >> 32));
  }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFF;
  // Text lives in chunks that never move, so adding never copies old text.
  static constexpr uint32_t kChunkBits = 20;
  static constexpr uint32_t kChunk = 1u << kChunkBits;
  struct Entry {
    uint32_t off;
    uint32_t len;
    uint32_t extra;
  };

  struct ChunkFree {
    void operator()(char16_t* p) const { BigFree(p, kChunk * sizeof(char16_t)); }
  };
  std::vector<std::unique_ptr<char16_t[], ChunkFree>> chunks_;
  uint32_t chunkUsed_ = kChunk;
  size_t chars_ = 0;
  std::vector<Entry, BigAlloc<Entry>> entries_;
  std::vector<Extra> extras_;
  bool changed_ = false;
  // FirstEqual's answer so far, and its table of the first entries of each
  // plain text: hash << 32 | (entry + 1), 0 for a free slot.
  mutable std::vector<uint32_t, BigAlloc<uint32_t>> firstEqual_;
  mutable std::vector<uint64_t, BigAlloc<uint64_t>> textSlots_;
  mutable size_t textsInSlots_ = 0;
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
