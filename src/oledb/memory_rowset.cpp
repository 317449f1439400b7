#include "oledb/memory_rowset.h"

#include <string>

namespace migrator::oledb {

MemoryRowset::MemoryRowset(std::vector<ColumnInfo> columns) : columns_(std::move(columns)) {}

void MemoryRowset::AddRow(std::vector<Value> row) {
  row.resize(columns_.size());
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i].IsBookmark() && !row[i]) row[i] = std::to_string(rows_.size() + 1);
  }
  rows_.push_back(std::move(row));
}

HRESULT MemoryRowset::GetColumnInfo(std::vector<ColumnInfo>& columns, ErrorRecords&) {
  columns = columns_;
  return hr::S_OK;
}

HRESULT MemoryRowset::CreateAccessor(std::span<const DBORDINAL> ordinals, ErrorRecords& errors) {
  std::vector<std::size_t> bound;
  bound.reserve(ordinals.size());
  for (DBORDINAL ordinal : ordinals) {
    std::size_t pos = columns_.size();
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      if (columns_[i].ordinal == ordinal) {
        pos = i;
        break;
      }
    }
    if (pos == columns_.size()) {
      errors.push_back(LayerError(hr::DB_E_BADORDINAL,
                                  "The rowset has no column " + std::to_string(ordinal) + "."));
      return hr::DB_E_BADORDINAL;
    }
    bound.push_back(pos);
  }
  bound_ = std::move(bound);
  return hr::S_OK;
}

HRESULT MemoryRowset::GetNextRow(ErrorRecords&) {
  if (next_ >= rows_.size()) {
    next_ = rows_.size() + 1;  // past the end: no current row
    return hr::DB_S_ENDOFROWSET;
  }
  ++next_;
  return hr::S_OK;
}

HRESULT MemoryRowset::GetData(TextRow& row, ErrorRecords& errors) {
  if (next_ == 0 || next_ > rows_.size()) {
    errors.push_back(LayerError(hr::DB_E_BADROWHANDLE, "There is no current row."));
    return hr::DB_E_BADROWHANDLE;
  }
  const auto& values = rows_[next_ - 1];
  row.Resize(bound_.size());
  for (std::size_t slot = 0; slot < bound_.size(); ++slot) {
    const Value& v = values[bound_[slot]];
    if (v) {
      row.SetText(slot, *v);
    } else {
      row.SetNull(slot);
    }
  }
  return hr::S_OK;
}

}  // namespace migrator::oledb
