#include "xls/text_pool.h"

#include <algorithm>

#include "xls/unicode.h"

namespace migrator::xls::detail {

namespace {

bool Narrow(std::u16string_view s) {
  for (char16_t c : s)
    if (c > 0xFF) return false;
  return true;
}

std::string_view BytesOf(std::u16string_view s) {
  return {reinterpret_cast<const char*>(s.data()), s.size() * sizeof(char16_t)};
}

}  // namespace

void PoolText::CopyTo(std::u16string& out) const {
  if (wide_) {
    out.assign(wideChars());
    return;
  }
  out.resize(n_);
  for (uint32_t i = 0; i < n_; ++i)
    out[i] = static_cast<unsigned char>(p_[i]);
}

std::string PoolText::Utf8() const {
  if (wide_) return Utf16ToUtf8(wideChars());
  std::string out;
  out.reserve(n_);
  for (uint32_t i = 0; i < n_; ++i) {
    const unsigned char c = static_cast<unsigned char>(p_[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool PoolText::operator==(std::u16string_view s) const {
  if (s.size() != n_) return false;
  if (wide_) return wideChars() == s;
  for (uint32_t i = 0; i < n_; ++i)
    if (s[i] != static_cast<unsigned char>(p_[i])) return false;
  return true;
}

void SharedStrings::Reserve(size_t entries, size_t) {
  entries_.reserve(entries);
}

char* SharedStrings::Room(size_t bytes, bool even, uint32_t& offset) {
  if (bytes > kChunk) return nullptr;
  if (even) chunkUsed_ += chunkUsed_ & 1;
  if (chunkUsed_ >= kChunk || chunkUsed_ + bytes > kChunk) {
    if (chunks_.size() >= (1u << (32 - kChunkBits)) - 1) return nullptr;
    auto* chunk = static_cast<char*>(BigAllocate(kChunk));
    if (!chunk) return nullptr;
    chunks_.emplace_back(chunk);
    chunkUsed_ = 0;
  }
  offset = (static_cast<uint32_t>(chunks_.size() - 1) << kChunkBits) | chunkUsed_;
  char* p = chunks_.back().get() + chunkUsed_;
  chunkUsed_ += static_cast<uint32_t>(bytes);
  return p;
}

uint32_t SharedStrings::Push(uint32_t off, uint32_t len, Bytes runs, Bytes ext) {
  const uint32_t idx = static_cast<uint32_t>(entries_.size());
  if (!runs.empty() || !ext.empty()) {
    extraEntries_.push_back(idx);
    extras_.push_back({std::move(runs), std::move(ext)});
  }
  entries_.push_back({off, len});
  chars_ += len & ~kWide;
  return idx;
}

char16_t* SharedStrings::BeginChars(size_t n, uint32_t& offset) {
  if (n >= kWide / 2) return nullptr;
  return reinterpret_cast<char16_t*>(Room(n * sizeof(char16_t), true, offset));
}

uint32_t SharedStrings::FinishEntry(uint32_t offset, uint32_t len, Bytes runs, Bytes ext) {
  char* p = chunks_[offset >> kChunkBits].get() + (offset & (kChunk - 1));
  const std::u16string_view wide(reinterpret_cast<const char16_t*>(p), len);
  if (!Narrow(wide)) return Push(offset, len | kWide, std::move(runs), std::move(ext));
  // Narrowed where it lies: each byte goes to or before the unit it comes
  // from. The half no longer needed goes back to the chunk.
  for (uint32_t i = 0; i < len; ++i) {
    const char16_t c = wide[i];
    p[i] = static_cast<char>(c);
  }
  chunkUsed_ -= len;
  return Push(offset, len, std::move(runs), std::move(ext));
}

Result<uint32_t> SharedStrings::Add(std::u16string_view s) {
  const bool wide = !Narrow(s);
  uint32_t off;
  char* p = s.size() < kWide / 2 ? Room(wide ? s.size() * 2 : s.size(), wide, off) : nullptr;
  if (!p || entries_.size() >= 0xFFFFFFF0ull) return Fail("the workbook holds too much text");
  if (wide) {
    std::memcpy(p, s.data(), s.size() * sizeof(char16_t));
  } else {
    for (size_t i = 0; i < s.size(); ++i)
      p[i] = static_cast<char>(s[i]);
  }
  changed_ = true;
  return Push(off, static_cast<uint32_t>(s.size()) | (wide ? kWide : 0), {}, {});
}

Result<uint32_t> SharedStrings::Add(const PoolText& s) {
  const std::string_view bytes = s.bytes();
  uint32_t off;
  char* p = Room(bytes.size(), s.wide(), off);
  if (!p || entries_.size() >= 0xFFFFFFF0ull) return Fail("the workbook holds too much text");
  std::memcpy(p, bytes.data(), bytes.size());
  changed_ = true;
  return Push(off, static_cast<uint32_t>(s.size()) | (s.wide() ? kWide : 0), {}, {});
}

Result<uint32_t> SharedStrings::AddNarrow(std::string_view latin1) {
  uint32_t off;
  char* p = latin1.size() < kWide / 2 ? Room(latin1.size(), false, off) : nullptr;
  if (!p || entries_.size() >= 0xFFFFFFF0ull) return Fail("the workbook holds too much text");
  std::memcpy(p, latin1.data(), latin1.size());
  changed_ = true;
  return Push(off, static_cast<uint32_t>(latin1.size()), {}, {});
}

template <typename Adder>
Result<uint32_t> SharedStrings::Shared(std::string_view bytes, bool wide, Adder add) {
  if (!shortSlots_) shortSlots_ = std::make_unique<uint64_t[]>(kShortSlots);
  // A set of kWays slots per hash, the text met last first: a text not
  // found pushes out the one met longest ago, so that the table keeps what
  // recurs while unique texts (keys, amounts, times) pass through it.
  const uint32_t h = Hash(bytes, wide);
  uint64_t* set = &shortSlots_[(h & (kShortSlots - 1)) & ~size_t{kWays - 1}];
  for (size_t w = 0; w < kWays && set[w] != 0; ++w) {
    const uint64_t slot = set[w];
    const uint32_t e = static_cast<uint32_t>(slot) - 1;
    if ((slot >> 32) != h) continue;
    const PoolText t = Text(e);
    if (t.wide() == wide && t.bytes() == bytes) {
      std::move_backward(set, set + w, set + w + 1);
      set[0] = slot;
      return e;
    }
  }
  auto added = add();
  if (added) {
    std::move_backward(set, set + kWays - 1, set + kWays);
    set[0] = (static_cast<uint64_t>(h) << 32) | (*added + 1ull);
  }
  return added;
}

Result<uint32_t> SharedStrings::AddShared(std::u16string_view s) {
  if (s.size() > kShortText) return Add(s);
  // A text is kept in one form, and looked up in it.
  if (Narrow(s)) {
    char narrow[kShortText];
    for (size_t i = 0; i < s.size(); ++i)
      narrow[i] = static_cast<char>(s[i]);
    return AddSharedNarrow({narrow, s.size()});
  }
  return Shared(BytesOf(s), true, [&] { return Add(s); });
}

Result<uint32_t> SharedStrings::AddSharedNarrow(std::string_view latin1) {
  if (latin1.size() > kShortText) return AddNarrow(latin1);
  return Shared(latin1, false, [&] { return AddNarrow(latin1); });
}

const std::vector<uint32_t, BigAlloc<uint32_t>>& SharedStrings::FirstEqual() const {
  const size_t size = entries_.size();
  size_t i = firstEqual_.size();
  if (i == size) return firstEqual_;
  // Slots carry their text's hash, so a probe rarely looks at text: the
  // table can be two thirds full, and fresh memory costs more than probes.
  // Room for every new entry being a text of its own; the table grows only
  // when that room is missing, to a size that has it.
  const size_t texts = textsInSlots_ + (size - i);
  if (texts + texts / 2 > textSlots_.size()) {
    size_t cap = 1024;
    while (cap < texts + texts / 2)
      cap *= 2;
    std::vector<uint64_t, BigAlloc<uint64_t>> grown(cap, 0);
    for (uint64_t slot : textSlots_) {
      if (slot == 0) continue;
      size_t at = (slot >> 32) & (cap - 1);
      while (grown[at] != 0)
        at = (at + 1) & (cap - 1);
      grown[at] = slot;
    }
    textSlots_.swap(grown);
  }
  const size_t mask = textSlots_.size() - 1;
  firstEqual_.resize(size);
  // The table is far larger than the caches: hash a batch of texts and ask
  // for their slots before probing any of them.
  constexpr uint32_t kBatch = 16;
  uint32_t batch[kBatch];
  uint32_t hashes[kBatch];
  while (i < size) {
    uint32_t k = 0;
    for (; i < size && k < kBatch; ++i) {
      if (ExtraOf(static_cast<uint32_t>(i))) {
        firstEqual_[i] = static_cast<uint32_t>(i);
        continue;
      }
      batch[k] = static_cast<uint32_t>(i);
      hashes[k] = Hash(Text(static_cast<uint32_t>(i)));
      __builtin_prefetch(&textSlots_[hashes[k] & mask]);
      ++k;
    }
    for (uint32_t q = 0; q < k; ++q) {
      const uint32_t e = batch[q];
      const uint32_t h = hashes[q];
      const PoolText text = Text(e);
      for (size_t at = h & mask;; at = (at + 1) & mask) {
        const uint64_t slot = textSlots_[at];
        if (slot == 0) {
          textSlots_[at] = (static_cast<uint64_t>(h) << 32) | (e + 1ull);
          firstEqual_[e] = e;
          ++textsInSlots_;
          break;
        }
        const uint32_t j = static_cast<uint32_t>(slot) - 1;
        if ((slot >> 32) == h && Text(j) == text) {
          firstEqual_[e] = j;
          break;
        }
      }
    }
  }
  return firstEqual_;
}

uint32_t SharedStrings::AddLoaded(std::u16string_view s, Bytes runs, Bytes ext) {
  uint32_t off;
  char16_t* p = BeginChars(s.size(), off);
  if (!p) return kNone;
  std::copy(s.begin(), s.end(), p);
  return FinishEntry(off, static_cast<uint32_t>(s.size()), std::move(runs), std::move(ext));
}

}  // namespace migrator::xls::detail
