#pragma once
// The layer's objects over a provider: DataSource, Session, Command, Rowset.
//
// They follow the OLE DB objects of the same names: a data source is given its
// DBPROPSET_DBINIT properties and initialised, tells its DBMS name, version,
// data source name and current catalog, and creates sessions; a session makes
// commands and opens schema rowsets; a command runs a statement to a rowset or
// none; a rowset reports its columns, binds ordinals and is read forward one
// row at a time as text.
//
// Threads: a session is shared by the window thread and the controller thread.
// Every call on a data source, its sessions and their rowsets holds that data
// source's lock for the call and only for the call, so the two threads never
// run provider code at the same time. Commands and rowsets belong to the
// thread that made them. Errors are HRESULTs; a failing call leaves the
// provider's error records on the object for that thread (oledb/errors.h).

#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "oledb/errors.h"
#include "oledb/properties.h"
#include "oledb/provider.h"
#include "oledb/schema.h"
#include "oledb/types.h"

namespace migrator::oledb {

class Session;
class Command;
class Rowset;

namespace detail {
struct DataSourceCore;
struct SessionCore;
}  // namespace detail

class DataSource : public ErrorInfoSource {
 public:
  // Wraps a provider's data source object; the registry
  // (providers/registry.h) creates it from a provider identifier.
  DataSource(std::string providerId, std::unique_ptr<ProviderDataSource> provider);
  ~DataSource() override;
  DataSource(const DataSource&) = delete;
  DataSource& operator=(const DataSource&) = delete;

  const std::string& ProviderId() const { return providerId_; }

  // IDBProperties::SetProperties: merges DBPROPSET_DBINIT sets into the
  // initialisation properties (a property already set is replaced). Fails
  // with hr::DB_E_ALREADYINITIALIZED after Initialize and with
  // hr::DB_E_ERRORSOCCURRED for a set of another kind.
  HRESULT SetProperties(std::span<const PropertySet> sets);
  HRESULT SetProperties(const PropertySet& set) { return SetProperties(std::span(&set, 1)); }
  // The initialisation properties set so far.
  PropertySet InitProperties() const;

  // IDBInitialize::Initialize.
  HRESULT Initialize();
  bool Initialized() const;

  // IDBProperties::GetProperties on DBPROPSET_DATASOURCEINFO: DBPROP_DBMSNAME,
  // DBPROP_DBMSVER, DBPROP_DATASOURCENAME or DBPROP_CURRENTCATALOG as text.
  // hr::E_UNEXPECTED before Initialize.
  HRESULT GetInfo(DBPROPID id, std::string& value);

  // IDBCreateSession::CreateSession. hr::E_UNEXPECTED before Initialize.
  HRESULT CreateSession(std::shared_ptr<Session>& session);

  // Runs `use` on the provider's own object under the lock that serialises
  // its calls, for a provider's extensions that know its type (the workbook
  // provider's LendWorkbook). False, without calling `use`, before
  // Initialize. `use` must not wait for another thread that may call this
  // data source.
  bool WithProvider(const std::function<void(ProviderDataSource&)>& use);

  bool InterfaceSupportsErrorInfo(Iid iid) const override;

 private:
  std::string providerId_;
  std::shared_ptr<detail::DataSourceCore> core_;
};

class Session : public ErrorInfoSource {
 public:
  ~Session() override;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // IDBCreateCommand::CreateCommand.
  HRESULT CreateCommand(std::unique_ptr<Command>& command);

  // IDBSchemaRowset::GetRowset.
  HRESULT OpenSchemaRowset(Schema schema, const Restrictions& restrictions,
                           std::unique_ptr<Rowset>& rowset);

  // Makes the session's changes durable now (ProviderSession::Flush). A
  // failure leaves the provider's error records on the session (read them
  // with Iid::ITransaction).
  HRESULT Flush();

  // A transaction on the session (ProviderSession::StartTransaction, Commit,
  // Abort); failures leave their records like Flush.
  HRESULT StartTransaction();
  HRESULT Commit();
  HRESULT Abort();

  bool InterfaceSupportsErrorInfo(Iid iid) const override;

 private:
  friend class DataSource;
  HRESULT Call(HRESULT (ProviderSession::*method)(ErrorRecords&));
  explicit Session(std::shared_ptr<detail::SessionCore> core);
  std::shared_ptr<detail::SessionCore> core_;
};

class Command : public ErrorInfoSource {
 public:
  ~Command() override;
  Command(const Command&) = delete;
  Command& operator=(const Command&) = delete;

  // ICommandText::SetCommandText with the default dialect (DBGUID_DEFAULT).
  // The text is sent as given.
  HRESULT SetCommandText(std::string_view text);

  // ICommand::Execute with the rowset properties. On success `rowset` holds
  // the rowset, or is null when the statement gives none. hr::DB_E_NOCOMMAND
  // when no text was set.
  HRESULT Execute(const PropertySet& properties, std::unique_ptr<Rowset>& rowset);

  bool InterfaceSupportsErrorInfo(Iid iid) const override;

 private:
  friend class Session;
  explicit Command(std::shared_ptr<detail::SessionCore> core);
  std::shared_ptr<detail::SessionCore> core_;
  std::string text_;
  bool hasText_ = false;
};

class Rowset : public ErrorInfoSource {
 public:
  ~Rowset() override;
  Rowset(const Rowset&) = delete;
  Rowset& operator=(const Rowset&) = delete;

  // IColumnsInfo::GetColumnInfo (a bookmark column, if reported, first).
  HRESULT GetColumnInfo(std::vector<ColumnInfo>& columns);

  // IAccessor::CreateAccessor over these ordinals, in slot order. Once per
  // rowset; a second call fails with hr::DB_E_BADACCESSORHANDLE.
  HRESULT CreateAccessor(std::span<const DBORDINAL> ordinals);
  // Binds ordinals 1..count.
  HRESULT CreateAccessor(std::size_t count);

  // IRowset::GetNextRows, one row forward: S_OK with a current row,
  // hr::DB_S_ENDOFROWSET at the end, or a failure.
  HRESULT GetNextRow();

  // IRowset::GetData: the current row into `row` (resized to the accessor's
  // slot count). S_OK, hr::DB_S_ERRORSOCCURRED or a failure.
  // hr::DB_E_BADACCESSORHANDLE without an accessor, hr::DB_E_BADROWHANDLE
  // without a current row.
  HRESULT GetData(TextRow& row);

  // Moves to the statement's next result that has rows (a procedure's second
  // SELECT, say): `more` tells whether there was one. The rowset then has the
  // new result's columns and no accessor; the caller binds again.
  HRESULT NextResult(bool& more);

  bool InterfaceSupportsErrorInfo(Iid iid) const override;

 private:
  friend class Command;
  // The data source's lock, or none for a rowset on a connection of its own.
  std::unique_lock<std::mutex> Lock() const;
  friend class Session;
  Rowset(std::shared_ptr<detail::SessionCore> core, std::unique_ptr<ProviderRowset> provider);
  std::shared_ptr<detail::SessionCore> core_;
  std::unique_ptr<ProviderRowset> provider_;
  std::size_t slots_ = 0;
  bool hasAccessor_ = false;
  bool onRow_ = false;
};

}  // namespace migrator::oledb
