#pragma once
// The zip container of a package, over libzip: reading the parts of a
// package held in memory, within bounds on what they inflate to, and writing
// a package to a save's output, parts produced as they are compressed.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "xls/output.h"
#include "xls/workbook.h"

namespace migrator::xls::xlsx {

class ZipReader {
 public:
  struct Entry {
    std::string name;   // the part name, without the leading "/"
    uint64_t size = 0;  // as the directory states it
    uint64_t index = 0;
  };

  // Opens the package and checks its directory: entry names that would
  // matter as paths, two entries of one name, encrypted entries and unknown
  // compression are refused. What the parts may inflate to in all follows
  // from `limits` and the package's size.
  static Result<std::unique_ptr<ZipReader>> Open(std::span<const uint8_t> image,
                                                 const LoadLimits& limits);
  // The same, reading the package from its file as its parts are read,
  // without holding the file in memory.
  static Result<std::unique_ptr<ZipReader>> OpenFile(const std::string& path, uint64_t size,
                                                     const LoadLimits& limits);
  ~ZipReader();

  const std::vector<Entry>& entries() const { return entries_; }
  // The entry of a part name (compared without regard to ASCII case, as
  // package part names are); -1 when none.
  long Find(std::string_view name) const;
  // Reads an entry in pieces, giving each to `sink` (which stops the read
  // by failing).
  Status Read(size_t entry, const std::function<Status(const char*, size_t)>& sink);
  // Reads an entry whole, refusing one larger than `maxBytes`.
  Result<std::string> ReadAll(size_t entry, size_t maxBytes);
  // What the parts read so far inflated to.
  uint64_t inflated() const { return inflated_; }

 private:
  ZipReader() = default;
  // Opens the package a libzip source (zip_source_t) reads, and checks its
  // directory.
  static Result<std::unique_ptr<ZipReader>> FromSource(void* source, uint64_t packageSize,
                                                       const LoadLimits& limits);
  struct Archive;
  std::unique_ptr<Archive> za_;
  std::vector<Entry> entries_;
  uint64_t budget_ = 0;
  uint64_t inflated_ = 0;
};

// Writes a package. Parts are added in order; their bytes are asked for
// while the package is written (Finish), so what a part refers to must live
// until then.
class ZipWriter {
 public:
  // The part's next piece, held by the callee until it is called again;
  // empty at the end; a failure stops the save.
  using PieceSource = std::function<Result<std::string_view>()>;

  explicit ZipWriter(detail::Output& out);
  ~ZipWriter();
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // `level` of deflate, 1 to 9; by default 1 for large parts (sheets are
  // most of a save's time) and 6 for the others.
  Status Add(const std::string& name, std::string_view bytes, int level = 0);
  // A part made in pieces (a sheet), each compressed where it lies (no copy
  // of the part's bytes is made on the way); by default at the fastest level.
  Status AddPieces(const std::string& name, PieceSource pieces, int level = 0);
  // Writes everything; the output then holds the whole package.
  Status Finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace migrator::xls::xlsx
