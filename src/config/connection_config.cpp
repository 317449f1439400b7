#include "config/connection_config.h"

#include <sys/stat.h>

#include <algorithm>

#include "adapters/excel/excel_automation.h"
#include "adapters/mysql/mysql_adapter.h"
#include "app/output.h"
#include "oledb/errors.h"
#include "platform/text.h"

namespace migrator {
namespace {

bool LessNoCase(const std::string& a, const std::string& b) {
  const std::string la = ToLowerAscii(a), lb = ToLowerAscii(b);
  return la != lb ? la < lb : a < b;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end(), LessNoCase);
  return v;
}

void InsertSorted(std::vector<std::string>& list, const std::string& entry) {
  if (std::find(list.begin(), list.end(), entry) != list.end()) return;
  list.insert(std::upper_bound(list.begin(), list.end(), entry, LessNoCase), entry);
}

// The providers whose source names are ODBC data source names.
bool ListsDataSources(std::string_view provider) {
  for (const char* p : {kOdbcProviderText, "Driver do Microsoft Excel", "Microsoft Excel Driver",
                        "Driver do Microsoft Access", "Microsoft Access Driver"}) {
    if (EqualNoCase(provider, p)) return true;
  }
  return false;
}

bool IsFileKind(std::string_view kind) {
  return EqualNoCase(kind, "Excel") || EqualNoCase(kind, "Access");
}

int SideIndex(DataSourceSide side) {
  return side == DataSourceSide::Source ? 0 : 1;
}

enum class Entry { Missing, File, Other };

// What a proposed workbook's name names now (a link is followed).
Entry EntryAt(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Entry::Missing;
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return Entry::File;
  return Entry::Other;
}

}  // namespace

std::vector<std::string> ProvidersOfKind(std::string_view kind) {
  struct KindProviders {
    const char* kind;
    std::vector<std::string> providers;
  };
  static const KindProviders kTable[] = {
      {"MSSQL", {kOdbcProviderText, kSqlServerProviderText, kTcpIpPort}},
      {"MySQL", {kOdbcProviderText, kTcpIpPort}},
      {"Sybase", {kOdbcProviderText}},
      {"SybaseIQ", {kOdbcProviderText}},
      {"Access",
       {kJet40ProviderText, kJet351ProviderText, "Driver do Microsoft Access",
        "Microsoft Access Driver"}},
      {"Excel",
       {kJet40ProviderText, kJet351ProviderText, "Driver do Microsoft Excel",
        "Microsoft Excel Driver"}},
      {"Oracle",
       {kOdbcProviderText, "Microsoft OLE DB Provider for Oracle", "Oracle Provider for OLE DB"}},
  };
  for (const auto& row : kTable) {
    if (EqualNoCase(kind, row.kind)) return Sorted(row.providers);
  }
  return {};
}

std::string ProviderIdOf(std::string_view text) {
  static const std::pair<const char*, const char*> kIds[] = {
      {kOdbcProviderText, "MSDASQL"},
      {kTcpIpPort, "MSDASQL"},
      {kSqlServerProviderText, "SQLOLEDB"},
      {"Driver do Microsoft Excel", "MSDASQL"},
      {"Microsoft Excel Driver", "MSDASQL"},
      {"Driver do Microsoft Access", "MSDASQL"},
      {"Microsoft Access Driver", "MSDASQL"},
      {kJet40ProviderText, kJetProvider},
      {kJet351ProviderText, kJetProvider},
      {"Microsoft OLE DB Provider for Oracle", "MSDAORA"},
      {"Oracle Provider for OLE DB", "OraOLEDB.Oracle"},
  };
  for (const auto& [name, id] : kIds) {
    if (EqualNoCase(text, name)) return id;
  }
  return std::string(text);
}

bool IsJetProviderText(std::string_view text) {
  return EqualNoCase(text, kJet40ProviderText) || EqualNoCase(text, kJet351ProviderText);
}

std::vector<FileFilter> DatabaseFileFilters(std::string_view kind) {
  if (EqualNoCase(kind, "Excel")) return {{"Excel File", "*.xls;*.xlsx"}};
  if (EqualNoCase(kind, "Access")) return {{"Access File", "*.mdb"}};
  return {{"All", "*.mdb;*.xls;*.xlsx"}, {"Access File", "*.mdb"}, {"Excel File", "*.xls;*.xlsx"}};
}

ConnectionConfigServices DefaultConnectionConfigServices() {
  return {DefaultExcelServices(), DriverCheckEnvironment::FromProcess()};
}

ConnectionConfig::ConnectionConfig(Workspace& ws)
    : ConnectionConfig(ws, DefaultConnectionConfigServices()) {}

ConnectionConfig::ConnectionConfig(Workspace& ws, ConnectionConfigServices services)
    : ws_(ws), ui_(ws.frontend()), services_(std::move(services)), file_(ws.programDir()) {}

int ConnectionConfig::KindIndex(DataSourceSide side) {
  return side == DataSourceSide::Source ? kMySql : kExcel;
}

ConnectionFields& ConnectionConfig::fields(DataSourceSide side) {
  return side == DataSourceSide::Source ? form_.source : form_.target;
}

const ConfigSideLists& ConnectionConfig::lists(DataSourceSide side) const {
  return lists_[SideIndex(side)];
}

void ConnectionConfig::Open() {
  form_ = ConfigForm{};
  file_.LoadOptions(form_, ui_);
  const ConfigForm loaded = form_;

  initialising_ = true;
  for (DataSourceSide side : {DataSourceSide::Source, DataSourceSide::Target}) {
    ConfigSideLists& lists = lists_[SideIndex(side)];
    lists = ConfigSideLists{};
    lists.providers = ProvidersOfKind(KindName(side));
    std::string provider;
    for (const auto& p : lists.providers) {
      if (EqualNoCase(p, fields(side).provider)) provider = p;
    }
    if (provider.empty() && !lists.providers.empty()) provider = lists.providers.front();
    ChangeProvider(side, provider);
  }
  initialising_ = false;

  // The fields from the file are put into the controls again once the lists
  // are filled, so a source name from the file wins over the proposed one.
  if (!loaded.source.sourceName.empty()) form_.source.sourceName = loaded.source.sourceName;
  if (!loaded.target.sourceName.empty()) form_.target.sourceName = loaded.target.sourceName;
}

void ConnectionConfig::ChangeProvider(DataSourceSide side, const std::string& providerText) {
  ConfigSideLists& lists = lists_[SideIndex(side)];
  ConnectionFields& f = fields(side);
  lists.sourceNames.clear();
  f.sourceName.clear();
  f.provider = providerText;
  if (f.provider.empty() && !lists.providers.empty()) f.provider = lists.providers.front();

  if (EqualNoCase(f.provider, kSqlServerProviderText)) {
    // SQL Server client aliases: there are none on this platform.
    lists.sourceNameLabel = kSourceNameLabel;
  } else if (ListsDataSources(f.provider)) {
    FillSourceNames(side);
    lists.sourceNameLabel = kSourceNameLabel;
  } else if (EqualNoCase(f.provider, kTcpIpPort)) {
    lists.sourceNameLabel = kServerPortLabel;
    f.sourceName = kDefaultServer;
  }

  if (side == DataSourceSide::Target && !initialising_ && IsJetProviderText(f.provider)) {
    ProposeWorkbook();
  }
}

void ConnectionConfig::FillSourceNames(DataSourceSide side) {
  ConfigSideLists& lists = lists_[SideIndex(side)];
  lists.sourceNames = DataSourceNamesOfKind(KindName(side), services_.drivers);
  if (!lists.sourceNames.empty()) fields(side).sourceName = lists.sourceNames.front();
}

void ConnectionConfig::ProposeWorkbook() {
  // Beside the connected workbook, or in the program's directory.
  std::string dir =
      ws_.target.Connected() ? excel::FolderOf(ws_.target.tree.CurrentDatabase()) : std::string();
  if (dir.empty() || dir.front() != '/') {
    dir = ws_.programDir();
    if (dir.empty() || dir.back() != '/') dir += '/';
  }
  // An entry of the name that is not a file (a folder, a socket, a broken
  // link) belongs to someone: it stays, and the next free name is proposed.
  std::string path;
  for (int n = 1; n <= 100 && path.empty(); ++n) {
    const std::string candidate =
        dir + kDefaultWorkbookName + (n == 1 ? std::string() : "_" + std::to_string(n)) + ".xls";
    const Entry entry = EntryAt(candidate);
    if (entry == Entry::Missing) {
      ExcelAdapter::CreateDatabase(ws_, candidate, 1, services_.excel);
      path = candidate;
    } else if (entry == Entry::File) {
      path = candidate;
    }
  }
  if (path.empty()) return;
  ConfigSideLists& lists = lists_[SideIndex(DataSourceSide::Target)];
  InsertSorted(lists.sourceNames, path);
  form_.target.sourceName = path;
}

std::string ConnectionConfig::ChooserDirectory(const std::string& current) const {
  const std::string folder = excel::FolderOf(current);
  struct stat st {};
  if (!folder.empty() && folder.front() == '/' && ::stat(folder.c_str(), &st) == 0 &&
      S_ISDIR(st.st_mode)) {
    return folder;
  }
  return ws_.programDir();
}

void ConnectionConfig::TakeWorkbook(DataSourceSide side, std::string path) {
  // A file that is there is taken as it is ("Book.XLS"); a new name gets
  // ".xls" unless it ends in it, in any case.
  if (EntryAt(path) == Entry::Missing && !HasWorkbookExtension(path)) path += ".xls";
  if (EntryAt(path) == Entry::Missing) {
    ExcelAdapter::CreateDatabase(ws_, path, 1, services_.excel);
  }
  ConnectionFields& f = fields(side);
  f.catalogName.clear();
  InsertSorted(lists_[SideIndex(side)].sourceNames, path);
  f.sourceName = path;
}

bool ConnectionConfig::OpenSourceNameList(DataSourceSide side) {
  if (!IsJetProviderText(fields(side).provider)) return false;
  ChooseWorkbook(side);
  return true;
}

bool ConnectionConfig::ChooseWorkbook(DataSourceSide side) {
  const auto chosen =
      ui_.ChooseFileToOpenOrCreate(kDatabaseFileTitle, DatabaseFileFilters(KindName(side)),
                                   ChooserDirectory(fields(side).sourceName));
  if (!chosen || chosen->empty()) return false;
  TakeWorkbook(side, *chosen);
  return true;
}

bool ConnectionConfig::ChooseCatalogFile(DataSourceSide side) {
  ConnectionFields& f = fields(side);
  if (!IsFileKind(KindName(side)) || IsJetProviderText(f.provider)) return false;
  const auto chosen = ui_.ChooseOpenFile(kDatabaseFileTitle, DatabaseFileFilters(KindName(side)),
                                         ChooserDirectory(f.catalogName));
  if (!chosen || chosen->empty()) return false;
  f.catalogName = *chosen;
  f.sourceName.clear();
  return true;
}

void ConnectionConfig::SetTips(bool on) {
  form_.tips = on;
  ui_.SetTipsTabVisible(on);
}

ConnectionSettings ConnectionConfig::SettingsOf(DataSourceSide side) const {
  const ConnectionFields& f = side == DataSourceSide::Source ? form_.source : form_.target;
  ConnectionSettings s;
  s.providerText = f.provider;
  s.providerId = ProviderIdOf(f.provider);
  s.sourceName = f.sourceName;
  s.userId = f.userId;
  s.password = f.password;
  s.catalogName = f.catalogName;
  return s;
}

void ConnectionConfig::TestSide(DataSourceSide side) {
  const bool source = side == DataSourceSide::Source;
  ConnectionSettings settings = SettingsOf(side);
  oledb::PropertySet init(oledb::PropertySetId::DBInit);
  const ConnectServices& connect = services_.excel.connect;
  const bool built = source ? MySqlAdapter::BuildTestInitProperties(ui_, settings, init, connect)
                            : ExcelAdapter::BuildTestInitProperties(settings, init);
  if (!built) return;

  ui_.SetBusy(true);
  std::shared_ptr<oledb::DataSource> dataSource;
  HRESULT h = connect.createDataSource ? connect.createDataSource(settings.providerId, dataSource)
                                       : hr::REGDB_E_CLASSNOTREG;
  std::string error;
  if (hr::Failed(h) || !dataSource) {
    error = oledb::kUnknownError;
  } else if (hr::Failed(dataSource->SetProperties(init))) {
    error = oledb::ErrorDescription(dataSource.get(), oledb::Iid::IDBProperties);
  } else if (hr::Failed(dataSource->Initialize())) {
    error = oledb::ErrorDescription(dataSource.get(), oledb::Iid::IDBInitialize);
  }
  dataSource.reset();  // the test keeps no connection
  ui_.SetBusy(false);

  if (error.empty()) {
    ui_.Tell(source ? "Source Connection Successful!" : "Target Connection Successful!");
  } else {
    ui_.Tell(std::string(source ? "Source DB Connect ERROR!" : "Target DB Connect ERROR!") + "\n" +
             error);
  }
}

void ConnectionConfig::TestConnections() {
  TestSide(DataSourceSide::Source);
  TestSide(DataSourceSide::Target);
}

void ConnectionConfig::SaveConfig() {
  // A failure has been shown to the person.
  (void)file_.SaveConfig(form_, ui_);
}

void ConnectionConfig::Connect() {
  ws_.SetAutoBackup(form_.autoBackup);
  ws_.SetMigration(form_.migration);
  if (Status saved = file_.SaveOnConnect(form_); !saved) {
    WriteOutputText(ui_, std::string("E::") + kConfigNotSavedMessage + " " + saved.message());
  }
  ws_.source.SetSettings(SettingsOf(DataSourceSide::Source));
  ws_.target.SetSettings(SettingsOf(DataSourceSide::Target));
  ui_.PostCommand(kConnectCommand);
  ui_.SetCurrentTab(kTaskListTab);
}

}  // namespace migrator
