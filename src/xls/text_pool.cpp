#include "xls/text_pool.h"

#include <algorithm>

namespace migrator::xls::detail {

void SharedStrings::Reserve(size_t entries, size_t) {
  entries_.reserve(entries);
}

char16_t* SharedStrings::BeginChars(size_t n, uint32_t& offset) {
  if (n > kChunk) return nullptr;
  if (chunks_.empty() || chunkUsed_ + n > kChunk) {
    if (chunks_.size() >= (1u << (32 - kChunkBits)) - 1) return nullptr;
    auto* chunk = static_cast<char16_t*>(BigAllocate(kChunk * sizeof(char16_t)));
    if (!chunk) return nullptr;
    chunks_.emplace_back(chunk);
    chunkUsed_ = 0;
  }
  offset = (static_cast<uint32_t>(chunks_.size() - 1) << kChunkBits) | chunkUsed_;
  char16_t* p = chunks_.back().get() + chunkUsed_;
  chunkUsed_ += static_cast<uint32_t>(n);
  chars_ += n;
  return p;
}

Result<uint32_t> SharedStrings::Add(std::u16string_view s) {
  uint32_t off;
  char16_t* p = BeginChars(s.size(), off);
  if (!p || entries_.size() >= 0xFFFFFFF0ull) return Fail("the workbook holds too much text");
  std::copy(s.begin(), s.end(), p);
  uint32_t idx = static_cast<uint32_t>(entries_.size());
  entries_.push_back({off, static_cast<uint32_t>(s.size()), kNone});
  changed_ = true;
  return idx;
}

Result<uint32_t> SharedStrings::AddShared(std::u16string_view s) {
  if (s.size() > kShortText) return Add(s);
  if (!shortSlots_) shortSlots_ = std::make_unique<uint32_t[]>(kShortSlots);
  const size_t mask = kShortSlots - 1;
  for (size_t at = Hash(s) & mask;; at = (at + 1) & mask) {
    const uint32_t slot = shortSlots_[at];
    if (slot == 0) {
      auto added = Add(s);
      // Half full at most, so that a probe ends soon.
      if (added && shortTexts_ < kShortSlots / 2) {
        shortSlots_[at] = *added + 1;
        ++shortTexts_;
      }
      return added;
    }
    const uint32_t e = slot - 1;
    if (entries_[e].extra == kNone && Text(e) == s) return e;
  }
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
      if (entries_[i].extra != kNone) {
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
      const std::u16string_view text = Text(e);
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

uint32_t SharedStrings::FinishEntry(uint32_t offset, uint32_t len, Bytes runs, Bytes ext) {
  uint32_t extra = kNone;
  if (!runs.empty() || !ext.empty()) {
    extra = static_cast<uint32_t>(extras_.size());
    extras_.push_back({std::move(runs), std::move(ext)});
  }
  uint32_t idx = static_cast<uint32_t>(entries_.size());
  entries_.push_back({offset, len, extra});
  return idx;
}

uint32_t SharedStrings::AddLoaded(std::u16string_view s, Bytes runs, Bytes ext) {
  uint32_t off;
  char16_t* p = BeginChars(s.size(), off);
  if (!p) return kNone;
  std::copy(s.begin(), s.end(), p);
  return FinishEntry(off, static_cast<uint32_t>(s.size()), std::move(runs), std::move(ext));
}

}  // namespace migrator::xls::detail
