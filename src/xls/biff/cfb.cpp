#include "xls/biff/cfb.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "xls/unicode.h"

namespace migrator::xls::cfb {
namespace {

constexpr uint32_t kFree = 0xFFFFFFFF;
constexpr uint32_t kEnd = 0xFFFFFFFE;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr uint32_t kMiniCutoff = 4096;
constexpr uint32_t kMiniSize = 64;
constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

Error Bad(const std::string& what) {
  return Fail("damaged compound file: " + what);
}

struct RawEntry {
  std::u16string name;
  uint8_t type = 0;
  uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
  std::array<uint8_t, 16> clsid{};
  uint32_t state = 0;
  uint64_t created = 0, modified = 0;
  uint32_t start = kEnd;
  uint64_t size = 0;
};

class Reader {
 public:
  Reader(std::span<const uint8_t> f, std::u16string_view borrow) : file_(f), borrow_(borrow) {}

  Result<CompoundFile> Run();

 private:
  // Copies sector `id` (zero-padded when the file ends inside it).
  void AppendSector(uint32_t id, Bytes& out, size_t want) const {
    size_t off = (static_cast<size_t>(id) + 1) * sectorSize_;
    size_t take = std::min<size_t>(want, sectorSize_);
    size_t old = out.size();
    out.resize(old + take, 0);
    if (off < file_.size()) {
      size_t avail = std::min(take, file_.size() - off);
      std::copy_n(file_.data() + off, avail, out.data() + old);
    }
  }
  // Follows a FAT chain, claiming each sector for one owner only. `want` is the
  // number of bytes needed (0: the whole chain).
  Status ReadChain(uint32_t start, uint64_t want, bool wholeChain, Bytes& out, const char* what);
  Status ReadMiniChain(uint32_t start, uint64_t size, Bytes& out, const std::u16string& name);

  // The stream in one piece inside the file, claimed; empty when it is not.
  std::span<const uint8_t> InPlace(uint32_t start, uint64_t size);

  std::span<const uint8_t> file_;
  std::u16string_view borrow_;
  size_t sectorSize_ = 512;
  uint32_t nSectors_ = 0;
  std::vector<uint32_t> fat_;
  std::vector<uint8_t> claimed_;
  std::vector<uint32_t> miniFat_;
  std::vector<uint8_t> miniClaimed_;
  Bytes miniStream_;
};

Status Reader::ReadChain(uint32_t start, uint64_t want, bool wholeChain, Bytes& out,
                         const char* what) {
  uint64_t maxBytes = static_cast<uint64_t>(nSectors_) * sectorSize_;
  if (!wholeChain && want > maxBytes) return Bad(std::string(what) + " is larger than the file");
  if (!wholeChain) out.assign(static_cast<size_t>(want), 0);
  uint32_t id = start;
  uint64_t got = 0;
  while (wholeChain ? id != kEnd : got < want) {
    if (id >= nSectors_ || id >= fat_.size())
      return Bad(std::string(what) + " points outside the file");
    if (claimed_[id]) return Bad(std::string(what) + " shares or loops over a sector");
    claimed_[id] = 1;
    if (wholeChain) {
      AppendSector(id, out, sectorSize_);
      got += sectorSize_;
    } else {
      size_t take = static_cast<size_t>(std::min<uint64_t>(sectorSize_, want - got));
      size_t off = (static_cast<size_t>(id) + 1) * sectorSize_;
      if (off < file_.size())
        std::memcpy(out.data() + got, file_.data() + off, std::min(take, file_.size() - off));
      got += take;
    }
    id = fat_[id];
  }
  return {};
}

std::span<const uint8_t> Reader::InPlace(uint32_t start, uint64_t size) {
  uint64_t count = (size + sectorSize_ - 1) / sectorSize_;
  uint64_t off = (static_cast<uint64_t>(start) + 1) * sectorSize_;
  if (count == 0 || start >= nSectors_ || start + count > nSectors_ || off + size > file_.size())
    return {};
  for (uint64_t k = 0; k < count; ++k) {
    uint32_t id = static_cast<uint32_t>(start + k);
    if (id >= fat_.size() || claimed_[id]) return {};
    if (k + 1 < count && fat_[id] != id + 1) return {};
  }
  for (uint64_t k = 0; k < count; ++k)
    claimed_[start + k] = 1;
  return file_.subspan(static_cast<size_t>(off), static_cast<size_t>(size));
}

Status Reader::ReadMiniChain(uint32_t start, uint64_t size, Bytes& out,
                             const std::u16string& name) {
  std::string label = "stream " + Utf16ToUtf8(name);
  if (size > miniStream_.size()) return Bad(label + " is larger than the mini stream");
  out.reserve(static_cast<size_t>(size));
  uint32_t id = start;
  uint64_t got = 0;
  while (got < size) {
    if (id >= miniFat_.size() || static_cast<uint64_t>(id + 1) * kMiniSize > miniStream_.size())
      return Bad(label + " points outside the mini stream");
    if (miniClaimed_[id]) return Bad(label + " shares or loops over a mini sector");
    miniClaimed_[id] = 1;
    size_t take = static_cast<size_t>(std::min<uint64_t>(kMiniSize, size - got));
    const uint8_t* p = miniStream_.data() + static_cast<size_t>(id) * kMiniSize;
    out.insert(out.end(), p, p + take);
    got += take;
    id = miniFat_[id];
  }
  return {};
}

Result<CompoundFile> Reader::Run() {
  if (file_.size() < 512) return Fail("not a workbook: the file is too short");
  if (!std::equal(kSignature, kSignature + 8, file_.data()))
    return Fail("not a workbook: no OLE2 compound file signature");
  const uint8_t* h = file_.data();
  if (Get16(h + 28) != 0xFFFE) return Bad("wrong byte order mark");
  uint16_t major = Get16(h + 26);
  uint16_t shift = Get16(h + 30);
  if (shift != 9 && shift != 12) return Bad("unsupported sector size");
  if (Get16(h + 32) != 6) return Bad("unsupported mini sector size");
  sectorSize_ = size_t{1} << shift;
  if (file_.size() < sectorSize_) return Bad("the file ends inside the header");
  uint64_t secs = (file_.size() - sectorSize_ + sectorSize_ - 1) / sectorSize_;
  if (secs >= 0xFFFFFFF0ull) return Bad("too many sectors");
  nSectors_ = static_cast<uint32_t>(secs);
  claimed_.assign(nSectors_, 0);

  uint32_t numFat = Get32(h + 44);
  uint32_t firstDir = Get32(h + 48);
  uint32_t firstMiniFat = Get32(h + 60);
  uint32_t firstDifat = Get32(h + 68);
  if (numFat == 0 || numFat > nSectors_) return Bad("impossible FAT sector count");

  // The FAT's sectors: 109 in the header, the rest in a chain of DIFAT sectors.
  std::vector<uint32_t> fatSectors;
  fatSectors.reserve(numFat);
  for (int i = 0; i < 109 && fatSectors.size() < numFat; ++i)
    fatSectors.push_back(Get32(h + 76 + 4 * i));
  uint32_t next = firstDifat;
  size_t perDifat = sectorSize_ / 4 - 1;
  while (fatSectors.size() < numFat) {
    if (next >= nSectors_) return Bad("the DIFAT chain ends early");
    if (claimed_[next]) return Bad("the DIFAT chain loops");
    claimed_[next] = 1;
    Bytes sec;
    AppendSector(next, sec, sectorSize_);
    for (size_t i = 0; i < perDifat && fatSectors.size() < numFat; ++i)
      fatSectors.push_back(Get32(sec.data() + 4 * i));
    next = Get32(sec.data() + 4 * perDifat);
  }
  fat_.reserve(static_cast<size_t>(numFat) * (sectorSize_ / 4));
  for (uint32_t s : fatSectors) {
    if (s >= nSectors_) return Bad("a FAT sector lies outside the file");
    if (claimed_[s]) return Bad("a FAT sector is used twice");
    claimed_[s] = 1;
    Bytes sec;
    AppendSector(s, sec, sectorSize_);
    for (size_t i = 0; i < sectorSize_ / 4; ++i)
      fat_.push_back(Get32(sec.data() + 4 * i));
  }

  // Directory.
  Bytes dir;
  if (auto st = ReadChain(firstDir, 0, true, dir, "the directory"); !st) return st.error();
  size_t nEntries = dir.size() / 128;
  if (nEntries == 0) return Bad("empty directory");
  std::vector<RawEntry> raw(nEntries);
  for (size_t i = 0; i < nEntries; ++i) {
    const uint8_t* e = dir.data() + i * 128;
    RawEntry& r = raw[i];
    uint16_t nameBytes = Get16(e + 64);
    r.type = e[66];
    if (r.type != 1 && r.type != 2 && r.type != 5) {
      r.type = 0;
      continue;
    }
    if (nameBytes > 64) nameBytes = 64;
    size_t chars = nameBytes >= 2 ? nameBytes / 2 - 1 : 0;
    for (size_t k = 0; k < chars; ++k) {
      char16_t c = Get16(e + 2 * k);
      if (c == 0) break;
      r.name.push_back(c);
    }
    r.left = Get32(e + 68);
    r.right = Get32(e + 72);
    r.child = Get32(e + 76);
    std::copy_n(e + 80, 16, r.clsid.begin());
    r.state = Get32(e + 96);
    r.created = Get64(e + 100);
    r.modified = Get64(e + 108);
    r.start = Get32(e + 116);
    r.size = major == 3 ? Get32(e + 120) : Get64(e + 120);
  }
  if (raw[0].type != 5) return Bad("the first directory entry is not the root");

  // Mini stream and its allocation table.
  if (raw[0].size > 0) {
    if (auto st = ReadChain(raw[0].start, raw[0].size, false, miniStream_, "the mini stream"); !st)
      return st.error();
  }
  if (firstMiniFat != kEnd && firstMiniFat != kFree) {
    Bytes mf;
    if (auto st = ReadChain(firstMiniFat, 0, true, mf, "the mini FAT"); !st) return st.error();
    miniFat_.resize(mf.size() / 4);
    for (size_t i = 0; i < miniFat_.size(); ++i)
      miniFat_[i] = Get32(mf.data() + 4 * i);
  }
  miniClaimed_.assign(miniFat_.size(), 0);

  // Walk the tree from the root: each storage's children form a binary tree
  // through the left/right links.
  CompoundFile cf;
  std::vector<long> outIndex(nEntries, -1);
  std::vector<uint8_t> seen(nEntries, 0);
  auto makeEntry = [&](size_t i) {
    Entry e;
    const RawEntry& r = raw[i];
    e.name = r.name;
    e.type = static_cast<EntryType>(r.type);
    e.clsid = r.clsid;
    e.stateBits = r.state;
    e.created = r.created;
    e.modified = r.modified;
    outIndex[i] = static_cast<long>(cf.entries.size());
    cf.entries.push_back(std::move(e));
  };
  seen[0] = 1;
  makeEntry(0);
  std::vector<size_t> storages{0};
  while (!storages.empty()) {
    size_t s = storages.back();
    storages.pop_back();
    std::vector<size_t> kids;
    std::vector<uint32_t> stack;
    if (raw[s].child != kNoStream) stack.push_back(raw[s].child);
    while (!stack.empty()) {
      uint32_t id = stack.back();
      stack.pop_back();
      if (id >= nEntries) return Bad("a directory link points outside the directory");
      if (seen[id]) return Bad("the directory tree loops");
      seen[id] = 1;
      if (raw[id].type == 0 || raw[id].type == 5)
        return Bad("a directory link points to an unused entry");
      kids.push_back(id);
      if (raw[id].left != kNoStream) stack.push_back(raw[id].left);
      if (raw[id].right != kNoStream) stack.push_back(raw[id].right);
    }
    for (size_t k : kids) {
      makeEntry(k);
      cf.entries[outIndex[s]].children.push_back(static_cast<size_t>(outIndex[k]));
      if (raw[k].type == 1) storages.push_back(k);
    }
  }
  // Stream contents.
  for (size_t i = 0; i < nEntries; ++i) {
    if (outIndex[i] < 0 || raw[i].type != 2 || raw[i].size == 0) continue;
    Entry& e = cf.entries[outIndex[i]];
    if (!borrow_.empty() && raw[i].size >= kMiniCutoff && EqualsIgnoreCase(raw[i].name, borrow_)) {
      const auto& top = cf.entries[0].children;
      if (std::find(top.begin(), top.end(), static_cast<size_t>(outIndex[i])) != top.end()) {
        e.view = InPlace(raw[i].start, raw[i].size);
        if (!e.view.empty()) continue;
      }
    }
    Status st = raw[i].size < kMiniCutoff
                    ? ReadMiniChain(raw[i].start, raw[i].size, e.data, raw[i].name)
                    : ReadChain(raw[i].start, raw[i].size, false, e.data,
                                ("stream " + Utf16ToUtf8(raw[i].name)).c_str());
    if (!st) return st.error();
  }
  return cf;
}

// Directory order: shorter names first, then by upper-cased characters.
bool NameLess(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = FoldCase(a[i]), y = FoldCase(b[i]);
    if (x != y) return x < y;
  }
  return false;
}

class BufferedSink {
 public:
  explicit BufferedSink(Sink& s) : sink_(s) { buf_.reserve(kCap); }
  bool Put(const uint8_t* p, size_t n) {
    if (n >= kCap) return Flush() && sink_.Write(p, n);
    if (buf_.size() + n > kCap && !Flush()) return false;
    buf_.insert(buf_.end(), p, p + n);
    return true;
  }
  bool Zeros(size_t n) {
    static const uint8_t z[512] = {};
    while (n > 0) {
      size_t k = std::min<size_t>(n, sizeof z);
      if (!Put(z, k)) return false;
      n -= k;
    }
    return true;
  }
  bool U32(uint32_t v) {
    uint8_t b[4];
    Put32(b, v);
    return Put(b, 4);
  }
  bool Flush() {
    if (buf_.empty()) return true;
    bool ok = sink_.Write(buf_.data(), buf_.size());
    buf_.clear();
    return ok;
  }

 private:
  static constexpr size_t kCap = 1 << 20;
  Sink& sink_;
  Bytes buf_;
};

class VectorSink : public Sink {
 public:
  bool Write(const uint8_t* data, size_t size) override {
    out.insert(out.end(), data, data + size);
    return true;
  }
  Bytes out;
};

}  // namespace

long CompoundFile::FindChild(size_t storage, std::u16string_view name) const {
  if (storage >= entries.size()) return -1;
  for (size_t k : entries[storage].children)
    if (EqualsIgnoreCase(entries[k].name, name)) return static_cast<long>(k);
  return -1;
}

Result<CompoundFile> Parse(std::span<const uint8_t> file, std::u16string_view borrow) {
  return Reader(file, borrow).Run();
}

Status Write(const std::vector<OutEntry>& entries, Sink& sink) {
  constexpr size_t kSector = 512;
  constexpr size_t kPerFat = kSector / 4;
  if (entries.empty() || entries[0].type != EntryType::kRoot)
    return Fail("internal error: the compound file has no root");
  size_t n = entries.size();
  for (const auto& e : entries) {
    if (e.name.size() > 31) return Fail("compound file entry name too long");
    if (e.data.size() > 0xFFFFFFFFull - kSector)
      return Fail("stream too large for the file format");
  }

  // Where each stream goes.
  std::vector<uint32_t> start(n, kEnd);
  std::vector<bool> mini(n, false);
  uint64_t regular = 0, miniSectors = 0;
  for (size_t i = 0; i < n; ++i) {
    if (entries[i].type != EntryType::kStream || entries[i].data.empty()) continue;
    size_t sz = entries[i].data.size();
    if (sz < kMiniCutoff) {
      mini[i] = true;
      start[i] = static_cast<uint32_t>(miniSectors);
      miniSectors += (sz + kMiniSize - 1) / kMiniSize;
    } else {
      start[i] = static_cast<uint32_t>(regular);
      regular += (sz + kSector - 1) / kSector;
    }
  }
  uint64_t containerSectors = (miniSectors * kMiniSize + kSector - 1) / kSector;
  uint64_t miniFatSectors = (miniSectors * 4 + kSector - 1) / kSector;
  uint64_t dirSectors = (n * 128 + kSector - 1) / kSector;
  uint64_t data = regular + containerSectors + miniFatSectors + dirSectors;
  uint64_t fatSecs = 1, difatSecs = 0;
  for (;;) {
    uint64_t total = data + fatSecs + difatSecs;
    uint64_t needFat = (total + kPerFat - 1) / kPerFat;
    uint64_t needDifat = needFat > 109 ? (needFat - 109 + 126) / 127 : 0;
    if (needFat == fatSecs && needDifat == difatSecs) break;
    fatSecs = std::max(needFat, fatSecs);
    difatSecs = std::max(needDifat, difatSecs);
  }
  uint64_t totalSectors = data + fatSecs + difatSecs;
  if (totalSectors >= 0xFFFFFFF0ull) return Fail("workbook too large for the file format");

  uint32_t containerStart = static_cast<uint32_t>(regular);
  uint32_t miniFatStart = static_cast<uint32_t>(regular + containerSectors);
  uint32_t dirStart = static_cast<uint32_t>(miniFatStart + miniFatSectors);
  uint32_t fatStart = static_cast<uint32_t>(dirStart + dirSectors);
  uint32_t difatStart = static_cast<uint32_t>(fatStart + fatSecs);

  // The directory: each storage's children as a balanced red-black tree.
  struct DirLinks {
    uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
    uint8_t color = 1;  // black
  };
  std::vector<DirLinks> links(n);
  for (size_t s = 0; s < n; ++s) {
    if (entries[s].children.empty()) continue;
    std::vector<size_t> kids = entries[s].children;
    for (size_t k : kids)
      if (k == 0 || k >= n) return Fail("internal error: bad compound file tree");
    std::sort(kids.begin(), kids.end(),
              [&](size_t a, size_t b) { return NameLess(entries[a].name, entries[b].name); });
    int maxDepth = 0;
    std::function<uint32_t(size_t, size_t, int)> build = [&](size_t lo, size_t hi,
                                                             int depth) -> uint32_t {
      if (lo >= hi) return kNoStream;
      size_t mid = lo + (hi - lo) / 2;
      size_t id = kids[mid];
      maxDepth = std::max(maxDepth, depth);
      links[id].left = build(lo, mid, depth + 1);
      links[id].right = build(mid + 1, hi, depth + 1);
      return static_cast<uint32_t>(id);
    };
    links[s].child = build(0, kids.size(), 0);
    // Colour the deepest level red so that every path has the same number of
    // black nodes.
    std::function<void(uint32_t, int)> paint = [&](uint32_t id, int depth) {
      if (id == kNoStream) return;
      links[id].color = (depth == maxDepth && maxDepth > 0) ? 0 : 1;
      paint(links[id].left, depth + 1);
      paint(links[id].right, depth + 1);
    };
    paint(links[s].child, 0);
  }

  BufferedSink out(sink);
  auto fail = [] { return Fail("cannot write the workbook file"); };

  // Header.
  uint8_t hdr[512] = {};
  std::copy(kSignature, kSignature + 8, hdr);
  Put16(hdr + 24, 0x003E);
  Put16(hdr + 26, 3);
  Put16(hdr + 28, 0xFFFE);
  Put16(hdr + 30, 9);
  Put16(hdr + 32, 6);
  Put32(hdr + 44, static_cast<uint32_t>(fatSecs));
  Put32(hdr + 48, dirStart);
  Put32(hdr + 56, kMiniCutoff);
  Put32(hdr + 60, miniFatSectors ? miniFatStart : kEnd);
  Put32(hdr + 64, static_cast<uint32_t>(miniFatSectors));
  Put32(hdr + 68, difatSecs ? difatStart : kEnd);
  Put32(hdr + 72, static_cast<uint32_t>(difatSecs));
  for (int i = 0; i < 109; ++i)
    Put32(hdr + 76 + 4 * i, i < static_cast<int>(fatSecs) ? fatStart + i : kFree);
  if (!out.Put(hdr, sizeof hdr)) return fail();

  // Regular streams.
  for (size_t i = 0; i < n; ++i) {
    if (start[i] == kEnd || mini[i]) continue;
    const auto& d = entries[i].data;
    if (!out.Put(d.data(), d.size())) return fail();
    size_t pad = (kSector - d.size() % kSector) % kSector;
    if (!out.Zeros(pad)) return fail();
  }
  // Mini stream container.
  for (size_t i = 0; i < n; ++i) {
    if (!mini[i]) continue;
    const auto& d = entries[i].data;
    if (!out.Put(d.data(), d.size())) return fail();
    if (!out.Zeros((kMiniSize - d.size() % kMiniSize) % kMiniSize)) return fail();
  }
  if (!out.Zeros(containerSectors * kSector - miniSectors * kMiniSize)) return fail();
  // Mini FAT.
  for (size_t i = 0; i < n; ++i) {
    if (!mini[i]) continue;
    uint32_t cnt = static_cast<uint32_t>((entries[i].data.size() + kMiniSize - 1) / kMiniSize);
    for (uint32_t k = 0; k < cnt; ++k)
      if (!out.U32(k + 1 < cnt ? start[i] + k + 1 : kEnd)) return fail();
  }
  for (uint64_t k = miniSectors; k < miniFatSectors * kPerFat; ++k)
    if (!out.U32(kFree)) return fail();
  // Directory.
  for (size_t i = 0; i < dirSectors * 4; ++i) {
    uint8_t e[128] = {};
    if (i < n) {
      const OutEntry& oe = entries[i];
      for (size_t k = 0; k < oe.name.size(); ++k)
        Put16(e + 2 * k, oe.name[k]);
      Put16(e + 64, static_cast<uint16_t>((oe.name.size() + 1) * 2));
      e[66] = static_cast<uint8_t>(oe.type);
      e[67] = links[i].color;
      Put32(e + 68, links[i].left);
      Put32(e + 72, links[i].right);
      Put32(e + 76, links[i].child);
      std::copy(oe.clsid.begin(), oe.clsid.end(), e + 80);
      Put32(e + 96, oe.stateBits);
      Put64(e + 100, oe.created);
      Put64(e + 108, oe.modified);
      if (oe.type == EntryType::kRoot) {
        Put32(e + 116, miniSectors ? containerStart : kEnd);
        Put64(e + 120, miniSectors * kMiniSize);
      } else if (oe.type == EntryType::kStream) {
        Put32(e + 116, oe.data.empty() ? kEnd : start[i]);
        Put64(e + 120, oe.data.size());
      } else {
        Put32(e + 116, 0);
      }
    } else {
      Put32(e + 68, kNoStream);
      Put32(e + 72, kNoStream);
      Put32(e + 76, kNoStream);
    }
    if (!out.Put(e, sizeof e)) return fail();
  }
  // FAT.
  auto chain = [&](uint32_t first, uint64_t count) -> bool {
    for (uint64_t k = 0; k < count; ++k)
      if (!out.U32(k + 1 < count ? static_cast<uint32_t>(first + k + 1) : kEnd)) return false;
    return true;
  };
  uint64_t written = 0;
  for (size_t i = 0; i < n; ++i) {
    if (start[i] == kEnd || mini[i]) continue;
    uint64_t cnt = (entries[i].data.size() + kSector - 1) / kSector;
    if (!chain(start[i], cnt)) return fail();
    written += cnt;
  }
  if (!chain(containerStart, containerSectors) || !chain(miniFatStart, miniFatSectors) ||
      !chain(dirStart, dirSectors))
    return fail();
  written += containerSectors + miniFatSectors + dirSectors;
  for (uint64_t k = 0; k < fatSecs; ++k, ++written)
    if (!out.U32(kFatSect)) return fail();
  for (uint64_t k = 0; k < difatSecs; ++k, ++written)
    if (!out.U32(kDifSect)) return fail();
  for (; written < fatSecs * kPerFat; ++written)
    if (!out.U32(kFree)) return fail();
  // DIFAT sectors: the FAT sectors beyond the 109 in the header.
  uint64_t listed = 109;
  for (uint64_t d = 0; d < difatSecs; ++d) {
    for (size_t k = 0; k < 127; ++k, ++listed)
      if (!out.U32(listed < fatSecs ? static_cast<uint32_t>(fatStart + listed) : kFree))
        return fail();
    if (!out.U32(d + 1 < difatSecs ? static_cast<uint32_t>(difatStart + d + 1) : kEnd))
      return fail();
  }
  if (!out.Flush()) return fail();
  return {};
}

Result<Bytes> WriteToBytes(const std::vector<OutEntry>& entries) {
  VectorSink s;
  if (auto st = Write(entries, s); !st) return st.error();
  return std::move(s.out);
}

}  // namespace migrator::xls::cfb
