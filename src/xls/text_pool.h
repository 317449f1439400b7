#pragma once
// The workbook's text pool: the text of every text cell, kept once for all
// sheets, as the shared string table of a file holds it.

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "xls/big_alloc.h"
#include "xls/bytes.h"

namespace migrator::xls::detail {

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
  // The same, but a short text met before gives the entry it has already:
  // a column of a few values (a status, a category) then holds each once.
  // The table of short texts is bounded; past it texts are added anew.
  Result<uint32_t> AddShared(std::u16string_view s);
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
  // AddShared's table: entry + 1 by hash, 0 for a free slot.
  static constexpr size_t kShortText = 24;
  static constexpr size_t kShortSlots = size_t{1} << 16;
  std::unique_ptr<uint32_t[]> shortSlots_;
  size_t shortTexts_ = 0;
};

}  // namespace migrator::xls::detail
