#pragma once
// The OLE2 compound file ("structured storage") that holds a workbook: a small
// file system of storages and streams inside one file. The reader loads every
// stream into memory; the writer lays out a fresh file from a tree of entries.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/result.h"
#include "xls/bytes.h"

namespace migrator::xls::cfb {

enum class EntryType : uint8_t { kStorage = 1, kStream = 2, kRoot = 5 };

struct Entry {
  std::u16string name;
  EntryType type = EntryType::kStream;
  std::array<uint8_t, 16> clsid{};
  uint32_t stateBits = 0;
  uint64_t created = 0;
  uint64_t modified = 0;
  Bytes data;                     // streams only
  std::span<const uint8_t> view;  // instead of `data`: see Parse
  std::vector<size_t> children;   // storages and the root: indices into the entry list
};

// A loaded compound file: entries[0] is the root storage.
struct CompoundFile {
  std::vector<Entry> entries;

  // The child of `storage` named `name` (case-insensitive, as the format
  // compares names), or -1.
  long FindChild(size_t storage, std::u16string_view name) const;
};

// Parses a compound file image. Every malformed structure gives an error text.
// The stream of the root storage named `borrow` (if any), when it lies in the
// image in one piece, is not copied: its entry's `view` points into `file`.
Result<CompoundFile> Parse(std::span<const uint8_t> file, std::u16string_view borrow = {});

// What the writer stores: the same tree, with stream contents given as views
// so that a large stream need not be copied.
struct OutEntry {
  std::u16string name;
  EntryType type = EntryType::kStream;
  std::array<uint8_t, 16> clsid{};
  uint32_t stateBits = 0;
  uint64_t created = 0;
  uint64_t modified = 0;
  std::span<const uint8_t> data;
  std::vector<size_t> children;
};

// Streams the file image of `entries` (entries[0] the root) to a sink.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual bool Write(const uint8_t* data, size_t size) = 0;
};

Status Write(const std::vector<OutEntry>& entries, Sink& sink);

// Convenience for tests and the fuzzer: the image as bytes.
Result<Bytes> WriteToBytes(const std::vector<OutEntry>& entries);

}  // namespace migrator::xls::cfb
