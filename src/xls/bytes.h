#pragma once
// Little-endian byte access for the file formats of this directory: a bounds-
// checked reader that remembers the first overrun, and a growable writer.

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "xls/big_alloc.h"

namespace migrator::xls {

using Bytes = std::vector<uint8_t>;

// The output buffer that every record is appended to: new bytes are not
// zeroed on resize(), and a large buffer lies in huge pages.
using OutBytes = std::vector<uint8_t, BigUninitAlloc<uint8_t>>;

inline uint16_t Get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Get64(const uint8_t* p) {
  return static_cast<uint64_t>(Get32(p)) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
}
inline double GetDouble(const uint8_t* p) {
  uint64_t bits = Get64(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void Put64(uint8_t* p, uint64_t v) {
  Put32(p, static_cast<uint32_t>(v));
  Put32(p + 4, static_cast<uint32_t>(v >> 32));
}
inline void PutDouble(uint8_t* p, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  Put64(p, bits);
}

// Reads fields in order. A read past the end yields zeros and sets failed();
// callers check once after a group of reads.
class ByteReader {
 public:
  ByteReader() = default;
  ByteReader(const uint8_t* data, size_t size) : p_(data), n_(size) {}
  explicit ByteReader(std::span<const uint8_t> s) : p_(s.data()), n_(s.size()) {}

  size_t pos() const { return pos_; }
  size_t size() const { return n_; }
  size_t remaining() const { return pos_ <= n_ ? n_ - pos_ : 0; }
  bool failed() const { return failed_; }
  const uint8_t* here() const { return p_ + pos_; }

  bool Has(size_t k) {
    if (remaining() >= k) return true;
    failed_ = true;
    return false;
  }
  uint8_t U8() { return Has(1) ? p_[pos_++] : 0; }
  uint16_t U16() {
    if (!Has(2)) return 0;
    uint16_t v = Get16(p_ + pos_);
    pos_ += 2;
    return v;
  }
  uint32_t U32() {
    if (!Has(4)) return 0;
    uint32_t v = Get32(p_ + pos_);
    pos_ += 4;
    return v;
  }
  double F64() {
    if (!Has(8)) return 0;
    double v = GetDouble(p_ + pos_);
    pos_ += 8;
    return v;
  }
  void Skip(size_t k) {
    if (Has(k))
      pos_ += k;
    else
      pos_ = n_;
  }
  std::span<const uint8_t> Take(size_t k) {
    if (!Has(k)) {
      pos_ = n_;
      return {};
    }
    std::span<const uint8_t> s(p_ + pos_, k);
    pos_ += k;
    return s;
  }
  std::span<const uint8_t> Rest() {
    std::span<const uint8_t> s(p_ + pos_, remaining());
    pos_ = n_;
    return s;
  }

 private:
  const uint8_t* p_ = nullptr;
  size_t n_ = 0;
  size_t pos_ = 0;
  bool failed_ = false;
};

// Appends fields to a byte vector.
class ByteWriter {
 public:
  ByteWriter() = default;
  explicit ByteWriter(Bytes* out) : out_(out) {}

  Bytes& bytes() { return *out_; }
  size_t size() const { return out_->size(); }

  uint8_t* Extend(size_t k) {
    size_t old = out_->size();
    out_->resize(old + k);
    return out_->data() + old;
  }
  void U8(uint8_t v) { out_->push_back(v); }
  void U16(uint16_t v) { Put16(Extend(2), v); }
  void U32(uint32_t v) { Put32(Extend(4), v); }
  void F64(double v) { PutDouble(Extend(8), v); }
  void Zeros(size_t k) { Extend(k); }
  void Append(std::span<const uint8_t> s) {
    if (!s.empty()) std::memcpy(Extend(s.size()), s.data(), s.size());
  }

 private:
  Bytes* out_ = nullptr;
};

}  // namespace migrator::xls
