#include "oledb/data_source.h"

#include <exception>
#include <mutex>
#include <new>

namespace migrator::oledb {
namespace detail {

struct DataSourceCore {
  std::mutex lock;  // serialises every provider call of this data source
  std::unique_ptr<ProviderDataSource> provider;
  PropertySet init{PropertySetId::DBInit};
  bool initialized = false;
};

struct SessionCore {
  std::shared_ptr<DataSourceCore> ds;
  std::unique_ptr<ProviderSession> provider;

  SessionCore(std::shared_ptr<DataSourceCore> d, std::unique_ptr<ProviderSession> p)
      : ds(std::move(d)), provider(std::move(p)) {}
  ~SessionCore() {
    std::lock_guard lock(ds->lock);
    provider.reset();
  }
};

}  // namespace detail

namespace {

// Runs a provider call; an exception that escapes a provider becomes a failure
// with a record instead of crossing the layer.
template <class F>
HRESULT Guarded(ErrorRecords& errors, F&& call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    errors.push_back(LayerError(hr::E_OUTOFMEMORY, "Out of memory."));
    return hr::E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    errors.push_back(LayerError(hr::E_FAIL, e.what()));
    return hr::E_FAIL;
  } catch (...) {
    errors.push_back(LayerError(hr::E_FAIL, "Unexpected failure in the data provider."));
    return hr::E_FAIL;
  }
}

// Keeps the records of a failing call only; a successful call clears them.
void Leave(ErrorStore& store, HRESULT h, ErrorRecords records) {
  if (hr::Succeeded(h))
    store.Clear();
  else
    store.Set(std::move(records));
}

HRESULT NoTransactions(ErrorRecords& errors) {
  errors.push_back(
      LayerError(hr::DB_E_NOTSUPPORTED, "The data provider does not support transactions."));
  return hr::DB_E_NOTSUPPORTED;
}

}  // namespace

HRESULT ProviderSession::StartTransaction(ErrorRecords& errors) {
  return NoTransactions(errors);
}
HRESULT ProviderSession::Commit(ErrorRecords& errors) {
  return NoTransactions(errors);
}
HRESULT ProviderSession::Abort(ErrorRecords& errors) {
  return NoTransactions(errors);
}

// ---------------------------------------------------------------------------
// DataSource

DataSource::DataSource(std::string providerId, std::unique_ptr<ProviderDataSource> provider)
    : providerId_(std::move(providerId)), core_(std::make_shared<detail::DataSourceCore>()) {
  core_->provider = std::move(provider);
}

DataSource::~DataSource() = default;

HRESULT DataSource::SetProperties(std::span<const PropertySet> sets) {
  ErrorRecords records;
  HRESULT h = hr::S_OK;
  {
    std::lock_guard lock(core_->lock);
    if (core_->initialized) {
      h = hr::DB_E_ALREADYINITIALIZED;
      records.push_back(LayerError(h, "The data source is already initialized."));
    } else {
      for (const auto& set : sets) {
        if (set.set() != PropertySetId::DBInit) {
          h = hr::DB_E_ERRORSOCCURRED;
          records.push_back(LayerError(h, "Only initialization properties can be set."));
          break;
        }
      }
      if (hr::Succeeded(h)) {
        for (const auto& set : sets) {
          for (const auto& p : set.properties())
            core_->init.Set(p.id, p.value, p.options);
        }
      }
    }
  }
  Leave(errors(), h, std::move(records));
  return h;
}

PropertySet DataSource::InitProperties() const {
  std::lock_guard lock(core_->lock);
  return core_->init;
}

HRESULT DataSource::Initialize() {
  ErrorRecords records;
  HRESULT h;
  {
    std::lock_guard lock(core_->lock);
    if (core_->initialized) {
      h = hr::DB_E_ALREADYINITIALIZED;
      records.push_back(LayerError(h, "The data source is already initialized."));
    } else if (!core_->provider) {
      h = hr::E_UNEXPECTED;
      records.push_back(LayerError(h, "The data source has no provider."));
    } else {
      h = Guarded(records, [&] { return core_->provider->Initialize(core_->init, records); });
      if (hr::Succeeded(h)) core_->initialized = true;
    }
  }
  Leave(errors(), h, std::move(records));
  return h;
}

bool DataSource::Initialized() const {
  std::lock_guard lock(core_->lock);
  return core_->initialized;
}

HRESULT DataSource::GetInfo(DBPROPID id, std::string& value) {
  ErrorRecords records;
  HRESULT h;
  {
    std::lock_guard lock(core_->lock);
    if (!core_->initialized) {
      h = hr::E_UNEXPECTED;
      records.push_back(LayerError(h, "The data source is not initialized."));
    } else {
      std::string v;
      h = Guarded(records, [&] { return core_->provider->GetInfo(id, v, records); });
      if (hr::Succeeded(h)) value = std::move(v);
    }
  }
  Leave(errors(), h, std::move(records));
  return h;
}

bool DataSource::WithProvider(const std::function<void(ProviderDataSource&)>& use) {
  std::lock_guard lock(core_->lock);
  if (!core_->initialized) return false;
  use(*core_->provider);
  return true;
}

HRESULT DataSource::CreateSession(std::shared_ptr<Session>& session) {
  ErrorRecords records;
  HRESULT h;
  std::unique_ptr<ProviderSession> made;
  {
    std::lock_guard lock(core_->lock);
    if (!core_->initialized) {
      h = hr::E_UNEXPECTED;
      records.push_back(LayerError(h, "The data source is not initialized."));
    } else {
      h = Guarded(records, [&] { return core_->provider->CreateSession(made, records); });
      if (hr::Succeeded(h) && !made) {
        h = hr::E_FAIL;
        records.push_back(LayerError(h, "The provider made no session."));
      }
    }
  }
  if (hr::Succeeded(h)) {
    auto core = std::make_shared<detail::SessionCore>(core_, std::move(made));
    session.reset(new Session(std::move(core)));
  } else {
    // Destroy a half-made session under the lock, like every provider object.
    std::lock_guard lock(core_->lock);
    made.reset();
  }
  Leave(errors(), h, std::move(records));
  return h;
}

bool DataSource::InterfaceSupportsErrorInfo(Iid iid) const {
  return iid == Iid::IDBInitialize || iid == Iid::IDBProperties || iid == Iid::IDBCreateSession;
}

// ---------------------------------------------------------------------------
// Session

Session::Session(std::shared_ptr<detail::SessionCore> core) : core_(std::move(core)) {}
Session::~Session() = default;

HRESULT Session::CreateCommand(std::unique_ptr<Command>& command) {
  command.reset(new Command(core_));
  errors().Clear();
  return hr::S_OK;
}

HRESULT Session::OpenSchemaRowset(Schema schema, const Restrictions& restrictions,
                                  std::unique_ptr<Rowset>& rowset) {
  ErrorRecords records;
  HRESULT h;
  std::unique_ptr<ProviderRowset> made;
  {
    std::lock_guard lock(core_->ds->lock);
    h = Guarded(records, [&] {
      return core_->provider->OpenSchemaRowset(schema, restrictions, made, records);
    });
    if (hr::Succeeded(h) && !made) {
      h = hr::E_FAIL;
      records.push_back(LayerError(h, "The provider opened no schema rowset."));
    }
    if (hr::Failed(h)) made.reset();
  }
  rowset.reset(hr::Succeeded(h) ? new Rowset(core_, std::move(made)) : nullptr);
  Leave(errors(), h, std::move(records));
  return h;
}

HRESULT Session::Call(HRESULT (ProviderSession::*method)(ErrorRecords&)) {
  ErrorRecords records;
  HRESULT h;
  {
    std::lock_guard lock(core_->ds->lock);
    h = Guarded(records, [&] { return (core_->provider.get()->*method)(records); });
  }
  Leave(errors(), h, std::move(records));
  return h;
}

HRESULT Session::Flush() {
  return Call(&ProviderSession::Flush);
}

HRESULT Session::StartTransaction() {
  return Call(&ProviderSession::StartTransaction);
}

HRESULT Session::Commit() {
  return Call(&ProviderSession::Commit);
}

HRESULT Session::Abort() {
  return Call(&ProviderSession::Abort);
}

bool Session::InterfaceSupportsErrorInfo(Iid iid) const {
  return iid == Iid::IOpenRowset || iid == Iid::IDBCreateCommand || iid == Iid::IDBSchemaRowset ||
         iid == Iid::ITransaction;
}

// ---------------------------------------------------------------------------
// Command

Command::Command(std::shared_ptr<detail::SessionCore> core) : core_(std::move(core)) {}
Command::~Command() = default;

HRESULT Command::SetCommandText(std::string_view text) {
  text_.assign(text);
  hasText_ = true;
  errors().Clear();
  return hr::S_OK;
}

HRESULT Command::Execute(const PropertySet& properties, std::unique_ptr<Rowset>& rowset) {
  ErrorRecords records;
  HRESULT h;
  std::unique_ptr<ProviderRowset> made;
  rowset.reset();
  if (!hasText_) {
    h = hr::DB_E_NOCOMMAND;
    records.push_back(LayerError(h, "No command text was set."));
  } else {
    std::lock_guard lock(core_->ds->lock);
    h = Guarded(records,
                [&] { return core_->provider->Execute(text_, properties, made, records); });
    if (hr::Failed(h)) made.reset();
  }
  if (made) rowset.reset(new Rowset(core_, std::move(made)));
  Leave(errors(), h, std::move(records));
  return h;
}

bool Command::InterfaceSupportsErrorInfo(Iid iid) const {
  return iid == Iid::ICommand || iid == Iid::ICommandText;
}

// ---------------------------------------------------------------------------
// Rowset

Rowset::Rowset(std::shared_ptr<detail::SessionCore> core, std::unique_ptr<ProviderRowset> provider)
    : core_(std::move(core)), provider_(std::move(provider)) {}

Rowset::~Rowset() {
  auto lock = Lock();
  provider_.reset();
}

std::unique_lock<std::mutex> Rowset::Lock() const {
  if (provider_ && provider_->OwnConnection()) return {};
  return std::unique_lock(core_->ds->lock);
}

HRESULT Rowset::GetColumnInfo(std::vector<ColumnInfo>& columns) {
  ErrorRecords records;
  HRESULT h;
  {
    auto lock = Lock();
    std::vector<ColumnInfo> got;
    h = Guarded(records, [&] { return provider_->GetColumnInfo(got, records); });
    if (hr::Succeeded(h)) columns = std::move(got);
  }
  Leave(errors(), h, std::move(records));
  return h;
}

HRESULT Rowset::CreateAccessor(std::span<const DBORDINAL> ordinals) {
  ErrorRecords records;
  HRESULT h;
  if (hasAccessor_) {
    h = hr::DB_E_BADACCESSORHANDLE;
    records.push_back(LayerError(h, "The rowset already has an accessor."));
  } else {
    auto lock = Lock();
    h = Guarded(records, [&] { return provider_->CreateAccessor(ordinals, records); });
  }
  if (hr::Succeeded(h)) {
    hasAccessor_ = true;
    slots_ = ordinals.size();
  }
  Leave(errors(), h, std::move(records));
  return h;
}

HRESULT Rowset::CreateAccessor(std::size_t count) {
  std::vector<DBORDINAL> ordinals(count);
  for (std::size_t i = 0; i < count; ++i)
    ordinals[i] = i + 1;
  return CreateAccessor(ordinals);
}

HRESULT Rowset::GetNextRow() {
  ErrorRecords records;
  HRESULT h;
  {
    auto lock = Lock();
    h = Guarded(records, [&] { return provider_->GetNextRow(records); });
  }
  onRow_ = h == hr::S_OK;
  Leave(errors(), h, std::move(records));
  return h;
}

HRESULT Rowset::GetData(TextRow& row) {
  ErrorRecords records;
  HRESULT h;
  if (!hasAccessor_) {
    h = hr::DB_E_BADACCESSORHANDLE;
    records.push_back(LayerError(h, "The rowset has no accessor."));
  } else if (!onRow_) {
    h = hr::DB_E_BADROWHANDLE;
    records.push_back(LayerError(h, "There is no current row."));
  } else {
    row.Resize(slots_);
    auto lock = Lock();
    h = Guarded(records, [&] { return provider_->GetData(row, records); });
  }
  Leave(errors(), h, std::move(records));
  return h;
}

HRESULT Rowset::NextResult(bool& more) {
  ErrorRecords records;
  HRESULT h;
  more = false;
  {
    auto lock = Lock();
    h = Guarded(records, [&] { return provider_->NextResult(more, records); });
  }
  if (hr::Failed(h)) more = false;
  if (more) {
    hasAccessor_ = false;
    slots_ = 0;
  }
  onRow_ = false;
  Leave(errors(), h, std::move(records));
  return h;
}

bool Rowset::InterfaceSupportsErrorInfo(Iid iid) const {
  return iid == Iid::IRowset || iid == Iid::IAccessor || iid == Iid::IColumnsInfo;
}

}  // namespace migrator::oledb
