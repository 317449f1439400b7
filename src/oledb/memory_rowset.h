#pragma once
// MemoryRowset: a rowset whose rows are all in memory. Providers use it for
// schema rowsets and for any result they build whole.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "oledb/provider.h"

namespace migrator::oledb {

class MemoryRowset : public ProviderRowset {
 public:
  // `columns` as GetColumnInfo reports them (a bookmark column, if any, first
  // with ordinal 0). Rows hold one value per column, in the same order; a
  // bookmark column's value is the row number from 1 unless given.
  explicit MemoryRowset(std::vector<ColumnInfo> columns);

  using Value = std::optional<std::string>;  // nullopt is NULL
  void AddRow(std::vector<Value> row);
  std::size_t RowCount() const { return rows_.size(); }

  HRESULT GetColumnInfo(std::vector<ColumnInfo>& columns, ErrorRecords& errors) override;
  HRESULT CreateAccessor(std::span<const DBORDINAL> ordinals, ErrorRecords& errors) override;
  HRESULT GetNextRow(ErrorRecords& errors) override;
  HRESULT GetData(TextRow& row, ErrorRecords& errors) override;

 private:
  std::vector<ColumnInfo> columns_;
  std::vector<std::vector<Value>> rows_;
  std::vector<std::size_t> bound_;  // column positions of the bound ordinals
  std::size_t next_ = 0;            // rows fetched so far; the current row is next_ - 1
};

}  // namespace migrator::oledb
