#pragma once
// The schema reader: opens a schema rowset on a session with restrictions and
// moves through it one record at a time.
//
//   oledb::SchemaReader<oledb::TableRecord> tables;
//   HRESULT h = tables.Open(session, oledb::Restrictions().Set(oledb::restriction::kTableType,
//   "TABLE")); if (hr::Failed(h)) { ... HResultLine(h, "Open tables Error: ") ... } while
//   (tables.MoveNext() == hr::S_OK) use(tables.record());
//
// The session's lock is held only inside Open and MoveNext, never while the
// caller works on a record.

#include <memory>
#include <string>

#include "oledb/data_source.h"
#include "oledb/schema.h"
#include "oledb/slot.h"
#include "oledb/types.h"

namespace migrator::oledb {

class SchemaRowsetReader {
 public:
  explicit SchemaRowsetReader(Schema schema) : schema_(schema) {}

  // Opens the rowset. A missing session (null reference, empty slot, null
  // pointer) fails with hr::E_NOINTERFACE without asking anything of a
  // provider; otherwise the session's result. Opening again starts over.
  HRESULT Open(SessionRef session, const Restrictions& restrictions = {});
  HRESULT Open(const std::shared_ptr<Session>& session, const Restrictions& restrictions = {});

  // Moves to the next row: S_OK when row() holds it; anything else (the end
  // of the rowset, hr::DB_S_ENDOFROWSET, included) ends the iteration.
  HRESULT MoveNextRow();
  const TextRow& row() const { return row_; }

  // The provider's description of the failure that Open returned, read from
  // the session's error records ("Unknown Error!" when it left none).
  const std::string& ErrorText() const { return errorText_; }
  Schema schema() const { return schema_; }

 private:
  Schema schema_;
  std::unique_ptr<Rowset> rowset_;
  TextRow row_;
  std::string errorText_;
};

template <class Record>
class SchemaReader {
 public:
  HRESULT Open(SessionRef session, const Restrictions& restrictions = {}) {
    return reader_.Open(session, restrictions);
  }
  HRESULT Open(const std::shared_ptr<Session>& session, const Restrictions& restrictions = {}) {
    return reader_.Open(session, restrictions);
  }
  // Moves to the next record: S_OK when record() holds it.
  HRESULT MoveNext() {
    HRESULT h = reader_.MoveNextRow();
    if (h == hr::S_OK) {
      record_ = Record{};
      FillRecord(reader_.row(), record_);
    }
    return h;
  }
  const Record& record() const { return record_; }
  const std::string& ErrorText() const { return reader_.ErrorText(); }

 private:
  SchemaRowsetReader reader_{SchemaOf<Record>::value};
  Record record_;
};

using CatalogsReader = SchemaReader<CatalogRecord>;
using TablesReader = SchemaReader<TableRecord>;
using ColumnsReader = SchemaReader<ColumnRecord>;
using IndexesReader = SchemaReader<IndexRecord>;

}  // namespace migrator::oledb
