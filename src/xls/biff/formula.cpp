#include "xls/biff/formula.h"

namespace migrator::xls::detail {
namespace {

// Token ids without their class bits (0x20 reference, 0x40 value, 0x60 array).
enum : uint8_t {
  kArray = 0x20,
  kFunc = 0x21,
  kFuncVar = 0x22,
  kName = 0x23,
  kRef = 0x24,
  kArea = 0x25,
  kMemArea = 0x26,
  kMemErr = 0x27,
  kMemNoMem = 0x28,
  kMemFunc = 0x29,
  kRefErr = 0x2A,
  kAreaErr = 0x2B,
  kRefN = 0x2C,
  kAreaN = 0x2D,
  kMemAreaN = 0x2E,
  kMemNoMemN = 0x2F,
  kNameX = 0x39,
  kRef3d = 0x3A,
  kArea3d = 0x3B,
  kRefErr3d = 0x3C,
  kAreaErr3d = 0x3D,
};

uint8_t Base(uint8_t t) {
  return t < 0x20 ? t : static_cast<uint8_t>((t & 0x1F) | 0x20);
}

}  // namespace

size_t TokenSize(std::span<const uint8_t> rgce, size_t pos) {
  if (pos >= rgce.size()) return 0;
  const uint8_t* p = rgce.data() + pos;
  size_t left = rgce.size() - pos;
  uint8_t t = p[0];
  size_t size = 0;
  if (t >= 0x80) return 0;
  if (t < 0x20) {
    switch (t) {
      case 0x01:  // ptgExp
      case 0x02:  // ptgTbl
        size = 5;
        break;
      case 0x17:  // ptgStr
        if (left < 3) return 0;
        size = 3 + static_cast<size_t>(p[1]) * ((p[2] & 1) ? 2 : 1);
        break;
      case 0x19: {  // ptgAttr
        if (left < 4) return 0;
        size = 4;
        if (p[1] & 0x04) size += (static_cast<size_t>(Get16(p + 2)) + 1) * 2;  // choose
        break;
      }
      case 0x1C:  // ptgErr
      case 0x1D:  // ptgBool
        size = 2;
        break;
      case 0x1E:  // ptgInt
        size = 3;
        break;
      case 0x1F:  // ptgNum
        size = 9;
        break;
      default:
        if (t >= 0x03 && t <= 0x16) size = 1;  // operators, paren, missing argument
        break;
    }
  } else {
    switch (Base(t)) {
      case kArray:
        size = 8;
        break;
      case kFunc:
        size = 3;
        break;
      case kFuncVar:
        size = 4;
        break;
      case kName:
        size = 5;
        break;
      case kRef:
        size = 5;
        break;
      case kArea:
        size = 9;
        break;
      case kMemArea:
        size = 7;
        break;
      case kMemErr:
        size = 7;
        break;
      case kMemNoMem:
        size = 7;
        break;
      case kMemFunc:
        size = 3;
        break;
      case kRefErr:
        size = 5;
        break;
      case kAreaErr:
        size = 9;
        break;
      case kRefN:
        size = 5;
        break;
      case kAreaN:
        size = 9;
        break;
      case kMemAreaN:
        size = 3;
        break;
      case kMemNoMemN:
        size = 3;
        break;
      case kNameX:
        size = 7;
        break;
      case kRef3d:
        size = 7;
        break;
      case kArea3d:
        size = 11;
        break;
      case kRefErr3d:
        size = 7;
        break;
      case kAreaErr3d:
        size = 11;
        break;
      default:
        break;
    }
  }
  if (size == 0 || size > left) return 0;
  return size;
}

bool Walkable(std::span<const uint8_t> rgce) {
  size_t pos = 0;
  while (pos < rgce.size()) {
    size_t k = TokenSize(rgce, pos);
    if (k == 0) return false;
    pos += k;
  }
  return true;
}

bool RenumberNameRefs(std::span<uint8_t> rgce, uint16_t deleted) {
  if (!Walkable(rgce)) return false;
  size_t pos = 0;
  while (pos < rgce.size()) {
    size_t k = TokenSize(rgce, pos);
    uint8_t* p = rgce.data() + pos;
    if (p[0] >= 0x20 && Base(p[0]) == kName) {
      uint16_t idx = Get16(p + 1);
      if (idx == deleted) {
        // Same size, same class: a reference error.
        p[0] = static_cast<uint8_t>((p[0] & 0x60) | (kRefErr & 0x1F));
        Put16(p + 1, 0);
        Put16(p + 3, 0);
      } else if (idx > deleted) {
        Put16(p + 1, static_cast<uint16_t>(idx - 1));
      }
    }
    pos += k;
  }
  return true;
}

std::optional<Bytes> ExpandSharedFormula(std::span<const uint8_t> rgce, uint32_t row,
                                         uint32_t col) {
  if (!Walkable(rgce)) return std::nullopt;
  Bytes out(rgce.begin(), rgce.end());
  auto moveRow = [&](uint8_t* f, uint16_t colWord) {
    if (colWord & 0x8000) Put16(f, static_cast<uint16_t>((row + Get16(f)) & 0xFFFF));
  };
  auto moveCol = [&](uint8_t* f) {
    uint16_t w = Get16(f);
    if (w & 0x4000) w = static_cast<uint16_t>((w & 0xC000) | ((col + (w & 0xFF)) & 0xFF));
    Put16(f, w);
  };
  size_t pos = 0;
  while (pos < out.size()) {
    size_t k = TokenSize(out, pos);
    uint8_t* p = out.data() + pos;
    if (p[0] >= 0x20) {
      uint8_t b = Base(p[0]);
      uint8_t cls = p[0] & 0x60;
      if (b == kRefN) {
        uint16_t cw = Get16(p + 3);
        moveRow(p + 1, cw);
        moveCol(p + 3);
        p[0] = static_cast<uint8_t>(cls | (kRef & 0x1F));
      } else if (b == kAreaN) {
        uint16_t c1 = Get16(p + 5), c2 = Get16(p + 7);
        moveRow(p + 1, c1);
        moveRow(p + 3, c2);
        moveCol(p + 5);
        moveCol(p + 7);
        p[0] = static_cast<uint8_t>(cls | (kArea & 0x1F));
      } else if (b == kMemAreaN || b == kMemNoMemN) {
        return std::nullopt;
      } else if (b == kRef || b == kRef3d) {
        if (Get16(p + (b == kRef ? 3 : 5)) & 0xC000) return std::nullopt;
      } else if (b == kArea || b == kArea3d) {
        size_t c = b == kArea ? 5 : 7;
        if ((Get16(p + c) | Get16(p + c + 2)) & 0xC000) return std::nullopt;
      }
    }
    pos += k;
  }
  return out;
}

std::optional<Ref3d> ParseRef3d(std::span<const uint8_t> rgce) {
  if (rgce.empty() || rgce[0] < 0x20) return std::nullopt;
  uint8_t b = Base(rgce[0]);
  Ref3d r;
  if ((b == kRef3d || b == kRefErr3d) && rgce.size() == 7) {
    r.ixti = Get16(rgce.data() + 1);
    r.range.firstRow = r.range.lastRow = Get16(rgce.data() + 3);
    r.range.firstCol = r.range.lastCol = Get16(rgce.data() + 5) & 0xFF;
    r.error = b == kRefErr3d;
    return r;
  }
  if ((b == kArea3d || b == kAreaErr3d) && rgce.size() == 11) {
    const uint8_t* p = rgce.data();
    r.ixti = Get16(p + 1);
    r.range.firstRow = Get16(p + 3);
    r.range.lastRow = Get16(p + 5);
    r.range.firstCol = Get16(p + 7) & 0xFF;
    r.range.lastCol = Get16(p + 9) & 0xFF;
    r.error = b == kAreaErr3d;
    return r;
  }
  return std::nullopt;
}

Bytes MakeRef3d(uint16_t ixti, const Range& r) {
  Bytes out;
  ByteWriter w(&out);
  if (r.firstRow == r.lastRow && r.firstCol == r.lastCol) {
    w.U8(kRef3d);  // reference class
    w.U16(ixti);
    w.U16(static_cast<uint16_t>(r.firstRow));
    w.U16(static_cast<uint16_t>(r.firstCol));
  } else {
    w.U8(kArea3d);
    w.U16(ixti);
    w.U16(static_cast<uint16_t>(r.firstRow));
    w.U16(static_cast<uint16_t>(r.lastRow));
    w.U16(static_cast<uint16_t>(r.firstCol));
    w.U16(static_cast<uint16_t>(r.lastCol));
  }
  return out;
}

}  // namespace migrator::xls::detail
