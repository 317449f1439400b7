#pragma once
// The provider interfaces: what a data provider (the ODBC provider "MSDASQL",
// the workbook provider) implements so that the layer's DataSource, Session,
// Command and Rowset (oledb/data_source.h) can drive it.
//
// Contract, for every provider:
// - The layer serialises all calls: no two calls on objects of one data source
//   (its sessions and their rowsets included) ever run at the same time, and
//   objects are destroyed under the same lock. Providers need no locks of
//   their own for that. The one exception is a rowset that reads over a
//   connection of its own (ProviderRowset::OwnConnection): it is called and
//   destroyed without that lock, by the one thread that reads it, so a long
//   wait for its rows never holds up the data source's other calls; what it
//   shares with the rest of the provider it guards itself.
// - The layer keeps parents alive: a session outlives its rowsets and the data
//   source outlives its sessions, so a child may hold a plain reference to its
//   parent.
// - Every method returns an HRESULT. A failure (hr::Failed) may add error
//   records to `errors`; the layer leaves them on the calling object for the
//   error-record reader. Methods never throw.
// - Text is UTF-8 in both directions.

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "oledb/errors.h"
#include "oledb/properties.h"
#include "oledb/schema.h"
#include "oledb/types.h"

namespace migrator::oledb {

// A rowset: the result of a command or a schema rowset.
class ProviderRowset {
 public:
  virtual ~ProviderRowset() = default;

  // IColumnsInfo::GetColumnInfo: the columns in ordinal order. A bookmark
  // column, when the provider reports one, comes first with ordinal 0.
  virtual HRESULT GetColumnInfo(std::vector<ColumnInfo>& columns, ErrorRecords& errors) = 0;

  // IAccessor::CreateAccessor: the ordinals that GetData reads, in slot order
  // (slot i holds ordinals[i]). Called once, before the first GetData. An
  // ordinal the rowset does not have fails with hr::DB_E_BADORDINAL.
  virtual HRESULT CreateAccessor(std::span<const DBORDINAL> ordinals, ErrorRecords& errors) = 0;

  // IRowset::GetNextRows for one row, forward only: S_OK when the next row is
  // now current, hr::DB_S_ENDOFROWSET when there is none. The provider may
  // fetch in blocks behind this.
  virtual HRESULT GetNextRow(ErrorRecords& errors) = 0;

  // IRowset::GetData: the current row's bound values, whole (never cut at a
  // buffer size), as UTF-8 text with their statuses. `row` has been sized to
  // the accessor's slot count; the provider assigns every slot. S_OK when
  // every slot was read; hr::DB_S_ERRORSOCCURRED when some slot could not be
  // (its status tells why); a failure when the row could not be read at all.
  virtual HRESULT GetData(TextRow& row, ErrorRecords& errors) = 0;

  // IMultipleResults::GetResult for the statement's next result that has
  // rows: `more` is true when the rowset now reads that result (with its own
  // columns: GetColumnInfo and CreateAccessor are asked again), false when
  // no result is left.
  virtual HRESULT NextResult(bool& more, ErrorRecords& /*errors*/) {
    more = false;
    return hr::S_OK;
  }

  // True when the rowset reads over a connection of its own (see above).
  virtual bool OwnConnection() const { return false; }
};

// A session: runs commands and opens schema rowsets.
class ProviderSession {
 public:
  virtual ~ProviderSession() = default;

  // ICommandText::SetCommandText (default dialect) + ICommand::Execute. On
  // success `rowset` holds the statement's rowset, or stays null when the
  // statement gives none. `properties` is the rowset property set the caller
  // asked for (DBPROPSET_ROWSET); properties a provider cannot honour are
  // ignored.
  virtual HRESULT Execute(std::string_view text, const PropertySet& properties,
                          std::unique_ptr<ProviderRowset>& rowset, ErrorRecords& errors) = 0;

  // IDBSchemaRowset::GetRowset: the schema rowset with the standard columns of
  // `schema` (oledb/schema.h) restricted by `restrictions`. A schema the
  // provider does not offer fails with hr::E_INVALIDARG.
  virtual HRESULT OpenSchemaRowset(Schema schema, const Restrictions& restrictions,
                                   std::unique_ptr<ProviderRowset>& rowset,
                                   ErrorRecords& errors) = 0;

  // Makes every change made through this session durable now (a provider
  // that writes at once has nothing to do). A failure says the changes since
  // the last successful flush may be lost.
  virtual HRESULT Flush(ErrorRecords& /*errors*/) { return hr::S_OK; }

  // ITransactionLocal::StartTransaction, ITransaction::Commit and Abort: the
  // changes made through the session between a start and its commit become
  // durable together, or (after Abort, or when the session goes without a
  // commit) not at all. One transaction at a time; Flush does not end it. A
  // provider without transactions answers hr::DB_E_NOTSUPPORTED.
  virtual HRESULT StartTransaction(ErrorRecords& errors);
  virtual HRESULT Commit(ErrorRecords& errors);
  virtual HRESULT Abort(ErrorRecords& errors);
};

// A data source object.
class ProviderDataSource {
 public:
  virtual ~ProviderDataSource() = default;

  // IDBProperties::SetProperties + IDBInitialize::Initialize: connect with the
  // DBPROPSET_DBINIT properties. Called at most once.
  virtual HRESULT Initialize(const PropertySet& init, ErrorRecords& errors) = 0;

  // IDBProperties::GetProperties on DBPROPSET_DATASOURCEINFO for one of
  // DBPROP_DBMSNAME, DBPROP_DBMSVER, DBPROP_DATASOURCENAME and
  // DBPROP_CURRENTCATALOG; another id fails with hr::DB_E_ERRORSOCCURRED.
  // Called only after a successful Initialize.
  virtual HRESULT GetInfo(DBPROPID id, std::string& value, ErrorRecords& errors) = 0;

  // IDBCreateSession::CreateSession. Called only after a successful Initialize.
  virtual HRESULT CreateSession(std::unique_ptr<ProviderSession>& session,
                                ErrorRecords& errors) = 0;
};

// Creates a provider's data source object; the registry holds one per provider.
using ProviderFactory = std::unique_ptr<ProviderDataSource> (*)();

}  // namespace migrator::oledb
