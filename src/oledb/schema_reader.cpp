#include "oledb/schema_reader.h"

#include <algorithm>

namespace migrator::oledb {

HRESULT SchemaRowsetReader::Open(SessionRef session, const Restrictions& restrictions) {
  return Open(Resolve(session), restrictions);
}

HRESULT SchemaRowsetReader::Open(const std::shared_ptr<Session>& session,
                                 const Restrictions& restrictions) {
  rowset_.reset();
  errorText_.clear();
  if (!session) {
    errorText_ = "No Connection!";
    return hr::E_NOINTERFACE;
  }
  std::unique_ptr<Rowset> rowset;
  HRESULT h = session->OpenSchemaRowset(schema_, restrictions, rowset);
  if (hr::Failed(h)) {
    errorText_ = ErrorDescription(session.get(), Iid::IDBSchemaRowset);
    return h;
  }
  // Bind the standard columns the rowset has; a provider that reports fewer
  // leaves the rest NULL.
  std::vector<ColumnInfo> columns;
  h = rowset->GetColumnInfo(columns);
  if (hr::Failed(h)) {
    errorText_ = ErrorDescription(rowset.get(), Iid::IColumnsInfo);
    return h;
  }
  const std::size_t standard = SchemaColumns(schema_).size();
  std::size_t dataColumns = 0;
  for (const auto& c : columns)
    dataColumns += c.ordinal >= 1 ? 1 : 0;
  h = rowset->CreateAccessor(std::min(standard, dataColumns));
  if (hr::Failed(h)) {
    errorText_ = ErrorDescription(rowset.get(), Iid::IAccessor);
    return h;
  }
  rowset_ = std::move(rowset);
  return hr::S_OK;
}

HRESULT SchemaRowsetReader::MoveNextRow() {
  if (!rowset_) return hr::E_UNEXPECTED;
  HRESULT h = rowset_->GetNextRow();
  if (h != hr::S_OK) return h;
  h = rowset_->GetData(row_);
  if (h != hr::S_OK) return h;
  // Slots the rowset lacked read as NULL.
  const std::size_t bound = row_.size();
  const std::size_t standard = SchemaColumns(schema_).size();
  if (bound < standard) {
    row_.Resize(standard);
    for (std::size_t i = bound; i < standard; ++i)
      row_.SetNull(i);
  }
  return hr::S_OK;
}

}  // namespace migrator::oledb
