#pragma once
// Where a save writes a workbook file: bytes in order, with a way back to
// bytes already written (a zip package patches each entry's header after its
// data).

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace migrator::xls::detail {

class Output {
 public:
  virtual ~Output() = default;
  virtual bool Write(const uint8_t* p, size_t n) = 0;
  // Moves to `pos`, at most the size written so far.
  virtual bool Seek(uint64_t pos) = 0;
  virtual uint64_t Tell() const = 0;
  // Why the last call failed.
  virtual std::string Error() const = 0;
};

// Into memory.
class MemoryOutput : public Output {
 public:
  explicit MemoryOutput(std::vector<uint8_t>& bytes) : b_(bytes) { b_.clear(); }
  bool Write(const uint8_t* p, size_t n) override {
    if (n == 0) return true;
    if (pos_ + n > b_.size()) b_.resize(pos_ + n);
    std::memcpy(b_.data() + pos_, p, n);
    pos_ += n;
    return true;
  }
  bool Seek(uint64_t pos) override {
    if (pos > b_.size()) return false;
    pos_ = static_cast<size_t>(pos);
    return true;
  }
  uint64_t Tell() const override { return pos_; }
  std::string Error() const override { return "cannot seek past the end"; }

 private:
  std::vector<uint8_t>& b_;
  size_t pos_ = 0;
};

// Into an open file.
class FdOutput : public Output {
 public:
  explicit FdOutput(int fd) : fd_(fd) {}
  bool Write(const uint8_t* p, size_t n) override {
    while (n > 0) {
      ssize_t k = ::write(fd_, p, n);
      if (k < 0 && errno == EINTR) continue;
      if (k <= 0) {
        err_ = k < 0 ? errno : EIO;
        return false;
      }
      p += k;
      n -= static_cast<size_t>(k);
      pos_ += static_cast<uint64_t>(k);
    }
    return true;
  }
  bool Seek(uint64_t pos) override {
    if (::lseek(fd_, static_cast<off_t>(pos), SEEK_SET) < 0) {
      err_ = errno;
      return false;
    }
    pos_ = pos;
    return true;
  }
  uint64_t Tell() const override { return pos_; }
  std::string Error() const override { return std::strerror(err_ ? err_ : EIO); }
  int error() const { return err_; }

 private:
  int fd_;
  uint64_t pos_ = 0;
  int err_ = 0;
};

}  // namespace migrator::xls::detail
