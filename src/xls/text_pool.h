#pragma once
// The workbook's text pool: the text of every text cell, kept once for all
// sheets, as the shared string table of a file holds it.

#include <algorithm>
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

// One text of the pool: Latin-1 bytes when every character of it is below
// U+0100 (most texts of a database take half the memory so), UTF-16
// otherwise. A text has one form only, so equal texts have equal bytes.
class PoolText {
 public:
  PoolText() = default;
  PoolText(const char* data, uint32_t size, bool wide) : p_(data), n_(size), wide_(wide) {}

  size_t size() const { return n_; }
  bool empty() const { return n_ == 0; }
  bool wide() const { return wide_; }
  // The Latin-1 bytes (!wide()) or the UTF-16 units (wide()).
  std::string_view narrowChars() const { return {p_, n_}; }
  std::u16string_view wideChars() const { return {reinterpret_cast<const char16_t*>(p_), n_}; }
  // The bytes of either form.
  std::string_view bytes() const { return {p_, wide_ ? size_t{n_} * 2 : n_}; }
  char16_t operator[](size_t i) const {
    return wide_ ? wideChars()[i] : static_cast<char16_t>(static_cast<unsigned char>(p_[i]));
  }
  // The text as UTF-16 (replacing out's content) and as UTF-8.
  void CopyTo(std::u16string& out) const;
  std::string Utf8() const;
  bool operator==(std::u16string_view s) const;
  bool operator==(const PoolText& o) const { return wide_ == o.wide_ && bytes() == o.bytes(); }

 private:
  const char* p_ = nullptr;
  uint32_t n_ = 0;
  bool wide_ = false;
};

// The shared string table. Texts are kept in one pool, each in the form
// PoolText says. Adding a string is an append; equal strings are merged when
// the table is written.
class SharedStrings {
 public:
  struct Extra {
    Bytes runs;  // formatting runs, 4 bytes each
    Bytes ext;   // phonetic data
  };

  uint32_t size() const { return static_cast<uint32_t>(entries_.size()); }
  PoolText Text(uint32_t i) const {
    const Entry& e = entries_[i];
    return PoolText(chunks_[e.off >> kChunkBits].get() + (e.off & (kChunk - 1)), e.len & ~kWide,
                    (e.len & kWide) != 0);
  }
  const Extra* ExtraOf(uint32_t i) const {
    if (extraEntries_.empty() || i < extraEntries_.front() || i > extraEntries_.back())
      return nullptr;
    auto it = std::lower_bound(extraEntries_.begin(), extraEntries_.end(), i);
    return it != extraEntries_.end() && *it == i ? &extras_[it - extraEntries_.begin()] : nullptr;
  }
  // Adds a plain string.
  Result<uint32_t> Add(std::u16string_view s);
  Result<uint32_t> Add(const PoolText& s);
  // The same for a text whose characters are all below U+0100, given as
  // their Latin-1 bytes.
  Result<uint32_t> AddNarrow(std::string_view latin1);
  // The same, but a short text met lately gives the entry it has already:
  // a column of a few values (a status, a category) then holds each once.
  // The table of short texts is bounded: texts that recur stay in it, while
  // those met once give way to newer ones.
  Result<uint32_t> AddShared(std::u16string_view s);
  Result<uint32_t> AddSharedNarrow(std::string_view latin1);
  // Adds an entry as read, with optional runs and phonetic data.
  uint32_t AddLoaded(std::u16string_view s, Bytes runs, Bytes ext);
  // Room for `n` UTF-16 units of an entry being read (nullptr when the
  // workbook holds too much text); `offset` says where. FinishEntry ends
  // the entry (the last one begun).
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

  // Eight bytes at a time: texts are hashed by the hundred thousand.
  static uint32_t Hash(std::string_view bytes, uint64_t seed = 0) {
    const char* p = bytes.data();
    size_t n = bytes.size();
    uint64_t h = 0x9E3779B97F4A7C15ull ^ n ^ seed;
    for (; n >= 8; n -= 8, p += 8) {
      uint64_t w;
      std::memcpy(&w, p, sizeof w);
      h = (h ^ w) * 0xFF51AFD7ED558CCDull;
      h ^= h >> 32;
    }
    uint64_t w = 0;
    std::memcpy(&w, p, n);
    h = (h ^ w) * 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 29;
    h *= 0xFF51AFD7ED558CCDull;
    return static_cast<uint32_t>(h ^ (h >> 32));
  }
  static uint32_t Hash(const PoolText& t) { return Hash(t.bytes(), t.wide()); }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFF;
  static constexpr uint32_t kWide = 0x80000000;  // Entry::len: the text is UTF-16
  // Text lives in chunks that never move, so adding never copies old text.
  static constexpr uint32_t kChunkBits = 21;
  static constexpr uint32_t kChunk = 1u << kChunkBits;
  struct Entry {
    uint32_t off;  // chunk << kChunkBits | byte offset in it
    uint32_t len;  // characters, with kWide
  };
  // Room for `bytes` in a chunk, at an even offset when `even`.
  char* Room(size_t bytes, bool even, uint32_t& offset);
  uint32_t Push(uint32_t off, uint32_t len, Bytes runs, Bytes ext);
  // AddShared's lookup of a text's bytes in its form (hashed as Hash(PoolText)).
  template <typename Add>
  Result<uint32_t> Shared(std::string_view bytes, bool wide, Add add);

  struct ChunkFree {
    void operator()(char* p) const { BigFree(p, kChunk); }
  };
  std::vector<std::unique_ptr<char[], ChunkFree>> chunks_;
  uint32_t chunkUsed_ = kChunk;
  size_t chars_ = 0;
  std::vector<Entry, BigAlloc<Entry>> entries_;
  // The entries with runs or phonetic data (in order) and those.
  std::vector<uint32_t> extraEntries_;
  std::vector<Extra> extras_;
  bool changed_ = false;
  // FirstEqual's answer so far, and its table of the first entries of each
  // plain text: hash << 32 | (entry + 1), 0 for a free slot.
  mutable std::vector<uint32_t, BigAlloc<uint32_t>> firstEqual_;
  mutable std::vector<uint64_t, BigAlloc<uint64_t>> textSlots_;
  mutable size_t textsInSlots_ = 0;
  // AddShared's table: hash << 32 | (entry + 1) in sets of kWays slots by
  // hash, the latest first, 0 for a free slot.
  static constexpr size_t kShortText = 24;
  static constexpr size_t kShortSlots = size_t{1} << 16;
  static constexpr size_t kWays = 4;
  std::unique_ptr<uint64_t[]> shortSlots_;
};

}  // namespace migrator::xls::detail
