// The record layer of a workbook stream.

#include "xls/biff/records.h"

#include <algorithm>
#include <cstring>

namespace migrator::xls::detail {

// ---- records ----

bool RecordCursor::Next(RecordView& r, std::string* error) {
  if (pos_ + 4 > s_.size()) return false;
  const uint8_t* p = s_.data() + pos_;
  uint16_t type = Get16(p);
  uint16_t len = Get16(p + 2);
  if (pos_ + 4 + len > s_.size()) {
    if (error)
      *error = "record 0x" + std::to_string(type) + " at offset " + std::to_string(pos_) +
               " runs past the end of the workbook stream";
    pos_ = s_.size();
    return false;
  }
  r.type = type;
  r.data = s_.subspan(pos_ + 4, len);
  r.offset = pos_;
  pos_ += 4 + len;
  return true;
}

bool RecordCursor::PeekType(uint16_t& type) const {
  if (pos_ + 4 > s_.size()) return false;
  type = Get16(s_.data() + pos_);
  return true;
}

void RecordWriter::Write(uint16_t type, std::span<const uint8_t> data) {
  size_t first = std::min(data.size(), kMaxRecordData);
  uint8_t* p = Begin(type, first);
  if (first) std::memcpy(p, data.data(), first);
  size_t done = first;
  while (done < data.size()) {
    size_t k = std::min(data.size() - done, kMaxRecordData);
    p = Begin(rt::kContinue, k);
    std::memcpy(p, data.data() + done, k);
    done += k;
  }
}

}  // namespace migrator::xls::detail
