#include "xls/biff/strings.h"

#include <algorithm>

namespace migrator::xls::detail {

// ---- string fields ----

namespace {
// The characters of a string field: UTF-16 when `wide`, else one byte each.
bool ReadCharData(ByteReader& r, size_t count, bool wide, std::u16string& out) {
  out.resize(count);
  if (wide) {
    if (!r.Has(count * 2)) return false;
    const uint8_t* p = r.here();
    for (size_t i = 0; i < count; ++i)
      out[i] = Get16(p + 2 * i);
    r.Skip(count * 2);
  } else {
    if (!r.Has(count)) return false;
    const uint8_t* p = r.here();
    for (size_t i = 0; i < count; ++i)
      out[i] = p[i];
    r.Skip(count);
  }
  return true;
}
}  // namespace

bool ReadXLChars(ByteReader& r, size_t count, std::u16string& out) {
  uint8_t flags = r.U8();
  if (r.failed()) return false;
  return ReadCharData(r, count, flags & 1, out);
}

bool ReadXLString(ByteReader& r, bool longCount, std::u16string& out, Bytes* runs) {
  size_t count = longCount ? r.U16() : r.U8();
  uint8_t flags = r.U8();
  if (r.failed()) return false;
  size_t nRuns = (flags & 0x08) ? r.U16() : 0;
  size_t ext = (flags & 0x04) ? r.U32() : 0;
  if (r.failed()) return false;
  if (!ReadCharData(r, count, flags & 1, out)) return false;
  auto runBytes = r.Take(nRuns * 4);
  if (runs) runs->assign(runBytes.begin(), runBytes.end());
  r.Skip(ext);
  return !r.failed();
}

bool Compressible(std::u16string_view s) {
  for (char16_t c : s)
    if (c > 0xFF) return false;
  return true;
}

void WriteXLChars(ByteWriter& w, std::u16string_view s) {
  if (Compressible(s)) {
    w.U8(0);
    uint8_t* p = w.Extend(s.size());
    for (size_t i = 0; i < s.size(); ++i)
      p[i] = static_cast<uint8_t>(s[i]);
  } else {
    w.U8(1);
    uint8_t* p = w.Extend(s.size() * 2);
    for (size_t i = 0; i < s.size(); ++i)
      Put16(p + 2 * i, s[i]);
  }
}

void WriteXLString(ByteWriter& w, std::u16string_view s, bool longCount) {
  if (longCount)
    w.U16(static_cast<uint16_t>(s.size()));
  else
    w.U8(static_cast<uint8_t>(s.size()));
  WriteXLChars(w, s);
}

// ---- segmented reading ----

bool SegmentedReader::Advance() {
  while (seg_ < segs_.size() && pos_ >= segs_[seg_].size()) {
    ++seg_;
    pos_ = 0;
  }
  return seg_ < segs_.size();
}

bool SegmentedReader::AtEnd() {
  return !Advance();
}

SegmentedReader::SegmentedReader(std::vector<std::span<const uint8_t>> segments)
    : segs_(std::move(segments)), after_(segs_.size(), 0) {
  for (size_t i = segs_.size(); i-- > 1;)
    after_[i - 1] = after_[i] + segs_[i].size();
}

size_t SegmentedReader::Remaining() const {
  if (seg_ >= segs_.size()) return 0;
  return (pos_ < segs_[seg_].size() ? segs_[seg_].size() - pos_ : 0) + after_[seg_];
}

uint8_t SegmentedReader::U8() {
  if (!Advance()) {
    failed_ = true;
    return 0;
  }
  return segs_[seg_][pos_++];
}

uint16_t SegmentedReader::U16() {
  uint16_t a = U8();
  uint16_t b = U8();
  return static_cast<uint16_t>(a | (b << 8));
}

uint32_t SegmentedReader::U32() {
  uint32_t a = U16();
  uint32_t b = U16();
  return a | (b << 16);
}

void SegmentedReader::Skip(size_t n) {
  while (n > 0) {
    if (!Advance()) {
      failed_ = true;
      return;
    }
    size_t k = std::min(n, segs_[seg_].size() - pos_);
    pos_ += k;
    n -= k;
  }
}

void SegmentedReader::Read(size_t n, Bytes& out) {
  out.clear();
  while (n > 0) {
    if (!Advance()) {
      failed_ = true;
      return;
    }
    size_t k = std::min(n, segs_[seg_].size() - pos_);
    out.insert(out.end(), segs_[seg_].data() + pos_, segs_[seg_].data() + pos_ + k);
    pos_ += k;
    n -= k;
  }
}

void SegmentedReader::ReadChars(size_t count, bool high, char16_t* out) {
  // `high` comes from the flags byte already read. When the characters reach
  // the end of a record, the next record starts with a fresh flags byte.
  size_t done = 0;
  while (done < count) {
    if (seg_ >= segs_.size()) {
      failed_ = true;
      return;
    }
    const auto& s = segs_[seg_];
    size_t avail = pos_ < s.size() ? s.size() - pos_ : 0;
    size_t k = std::min(count - done, high ? avail / 2 : avail);
    if (k == 0) {
      ++seg_;
      pos_ = 0;
      if (seg_ >= segs_.size() || segs_[seg_].empty()) {
        failed_ = true;
        return;
      }
      high = segs_[seg_][pos_++] & 1;
      continue;
    }
    if (high)
      for (size_t i = 0; i < k; ++i)
        out[done + i] = Get16(s.data() + pos_ + 2 * i);
    else
      for (size_t i = 0; i < k; ++i)
        out[done + i] = s[pos_ + i];
    pos_ += high ? 2 * k : k;
    done += k;
  }
}

bool ParseSst(std::vector<std::span<const uint8_t>> segments, SharedStrings& sst,
              std::string* error) {
  if (segments.empty() || segments[0].size() < 8) {
    *error = "the shared string table is too short";
    return false;
  }
  uint32_t unique = Get32(segments[0].data() + 4);
  segments[0] = segments[0].subspan(8);
  SegmentedReader r(std::move(segments));
  size_t remaining = r.Remaining();
  // Every string takes at least three bytes; never trust the count further.
  size_t cap = std::min<size_t>(unique, remaining / 3);
  sst.Reserve(cap, remaining);
  for (uint32_t i = 0; i < unique; ++i) {
    if (r.AtEnd()) break;  // writers sometimes overstate the count
    uint16_t cch = r.U16();
    uint8_t flags = r.U8();
    uint16_t nRuns = (flags & 0x08) ? r.U16() : 0;
    uint32_t extLen = (flags & 0x04) ? r.U32() : 0;
    if (r.failed()) break;
    if (cch > r.Remaining()) {
      r.Skip(r.Remaining() + 1);
      break;
    }
    uint32_t off;
    char16_t* p = sst.BeginChars(cch, off);
    if (!p) {
      *error = "the workbook holds too much text";
      return false;
    }
    // The flags byte was already read: the first piece uses it.
    r.ReadChars(cch, flags & 1, p);
    Bytes runs, ext;
    if (nRuns) r.Read(size_t{nRuns} * 4, runs);
    if (extLen) {
      if (extLen > r.Remaining()) {
        r.Skip(r.Remaining() + 1);
        break;
      }
      r.Read(extLen, ext);
    }
    if (r.failed()) break;
    sst.FinishEntry(off, cch, std::move(runs), std::move(ext));
  }
  if (r.failed()) {
    *error = "the shared string table is damaged (string " + std::to_string(sst.size()) + ")";
    return false;
  }
  return true;
}

namespace {

bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}

// Writes the SST as records of at most kMaxRecordData bytes, splitting a
// string's characters over a CONTINUE record with a fresh flags byte.
class SstWriter {
 public:
  explicit SstWriter(RecordWriter& w) : w_(w) {}

  void Start(uint32_t total, uint32_t unique) {
    recStart_ = w_.pos();
    w_.Begin(rt::kSst, 0);
    Put32(Reserve(4), total);
    Put32(Reserve(4), unique);
  }
  // Stream position and offset in the current record of the next byte.
  size_t streamPos() const { return w_.pos(); }
  size_t recordOffset() const { return w_.pos() - recStart_; }
  size_t room() const { return kMaxRecordData - (w_.pos() - recStart_ - 4); }

  void NewContinue() {
    Finish();
    recStart_ = w_.pos();
    w_.Begin(rt::kContinue, 0);
  }
  uint8_t* Reserve(size_t n) {
    OutBytes& b = w_.bytes();
    size_t old = b.size();
    b.resize(old + n);
    return b.data() + old;
  }
  void Finish() {
    OutBytes& b = w_.bytes();
    Put16(b.data() + recStart_ + 2, static_cast<uint16_t>(b.size() - recStart_ - 4));
  }
  // Raw bytes that may be split anywhere.
  void Raw(const uint8_t* p, size_t n) {
    while (n > 0) {
      if (room() == 0) NewContinue();
      size_t k = std::min(n, room());
      std::memcpy(Reserve(k), p, k);
      p += k;
      n -= k;
    }
  }

  void String(std::u16string_view s, const SharedStrings::Extra* extra) {
    bool high = !Compressible(s);
    size_t header = 3;
    uint8_t flags = high ? 1 : 0;
    if (extra && !extra->runs.empty()) {
      flags |= 0x08;
      header += 2;
    }
    if (extra && !extra->ext.empty()) {
      flags |= 0x04;
      header += 4;
    }
    size_t unit = high ? 2 : 1;
    // The header and the first character stay in one record.
    if (room() < header + (s.empty() ? 0 : unit)) NewContinue();
    uint8_t* h = Reserve(header);
    Put16(h, static_cast<uint16_t>(s.size()));
    h[2] = flags;
    size_t at = 3;
    if (flags & 0x08) {
      Put16(h + at, static_cast<uint16_t>(extra->runs.size() / 4));
      at += 2;
    }
    if (flags & 0x04) Put32(h + at, static_cast<uint32_t>(extra->ext.size()));
    size_t done = 0;
    while (done < s.size()) {
      size_t k = std::min(s.size() - done, room() / unit);
      // A surrogate pair stays in one record: readers that decode each
      // record's piece on its own (xlrd) fail on half a pair.
      if (high && k > 0 && done + k < s.size() && IsHighSurrogate(s[done + k - 1])) --k;
      if (k == 0) {
        NewContinue();
        *Reserve(1) = high ? 1 : 0;
        continue;
      }
      uint8_t* p = Reserve(k * unit);
      if (high)
        for (size_t i = 0; i < k; ++i)
          Put16(p + 2 * i, s[done + i]);
      else
        for (size_t i = 0; i < k; ++i)
          p[i] = static_cast<uint8_t>(s[done + i]);
      done += k;
    }
    if (extra) {
      // Formatting runs stay whole; the phonetic block may split anywhere.
      for (size_t i = 0; i + 4 <= extra->runs.size(); i += 4) {
        if (room() < 4) NewContinue();
        std::memcpy(Reserve(4), extra->runs.data() + i, 4);
      }
      Raw(extra->ext.data(), extra->ext.size());
    }
  }

 private:
  RecordWriter& w_;
  size_t recStart_ = 0;
};

}  // namespace

void WriteSst(RecordWriter& w, const SharedStrings& sst, std::span<const uint32_t> order,
              uint32_t total) {
  SstWriter sw(w);
  uint32_t unique = static_cast<uint32_t>(order.size());
  sw.Start(total, unique);
  // Strings per EXTSST bucket: at least 8, and no more than 128 buckets.
  uint32_t perBucket = std::max<uint32_t>(8, (unique + 127) / 128);
  struct Bucket {
    uint32_t pos;
    uint16_t off;
  };
  std::vector<Bucket> buckets;
  uint32_t written = 0;
  std::u16string s;
  for (uint32_t i : order) {
    sst.Text(i).CopyTo(s);
    const auto* x = sst.ExtraOf(i);
    if (written % perBucket == 0) {
      // The bucket points at where the string's header will be: if it does
      // not fit the current record, it starts the next one.
      size_t header = 3 + (x && !x->runs.empty() ? 2 : 0) + (x && !x->ext.empty() ? 4 : 0);
      size_t unit = Compressible(s) ? 1 : 2;
      if (sw.room() < header + (s.empty() ? 0 : unit)) sw.NewContinue();
      buckets.push_back(
          {static_cast<uint32_t>(sw.streamPos()), static_cast<uint16_t>(sw.recordOffset())});
    }
    sw.String(s, x);
    ++written;
  }
  sw.Finish();
  // EXTSST.
  Bytes ext;
  ByteWriter ew(&ext);
  ew.U16(static_cast<uint16_t>(perBucket));
  for (const auto& b : buckets) {
    ew.U32(b.pos);
    ew.U16(b.off);
    ew.U16(0);
  }
  if (ext.size() > kMaxRecordData) ext.resize(kMaxRecordData - (kMaxRecordData - 2) % 8);
  w.Write(rt::kExtSst, ext);
}

bool ReadStringRecord(const std::vector<const Bytes*>& parts, std::u16string& out) {
  if (parts.empty() || parts[0]->size() < 3) return false;
  std::vector<std::span<const uint8_t>> segs;
  for (const Bytes* b : parts)
    segs.emplace_back(b->data(), b->size());
  uint16_t cch = Get16(segs[0].data());
  bool high = segs[0][2] & 1;
  segs[0] = segs[0].subspan(3);
  SegmentedReader r(std::move(segs));
  out.resize(cch);
  r.ReadChars(cch, high, out.data());
  return !r.failed();
}

}  // namespace migrator::xls::detail
