#include "workflows/connect.h"

#include <algorithm>
#include <cctype>

#include "adapters/excel/excel_adapter.h"
#include "adapters/mysql/mysql_adapter.h"
#include "app/output.h"
#include "app/workspace.h"
#include "browser/refresh_tree.h"
#include "config/driver_check.h"
#include "oledb/operations.h"
#include "oledb/properties.h"
#include "oledb/text.h"
#include "oledb/text_rows.h"
#include "providers/registry.h"
#include "support/regexp_service.h"

namespace migrator {
namespace {

std::string Trim(std::string s) {
  auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
  s.erase(s.begin(), std::find_if_not(s.begin(), s.end(), blank));
  s.erase(std::find_if_not(s.rbegin(), s.rend(), blank).base(), s.end());
  return s;
}

// Steps 2 to 4 failed: the hint, the message box, and the side stays closed.
// `reason` is what the provider or the adapter said about the failure; it is
// written as an error line and put into the message box so that the user
// learns why (a wrong password, an unknown host) and not only that. What the
// side's tree showed of an earlier connection goes: none of it is usable.
void ConnectFailed(Workspace& ws, DataSourceSide side, const std::string& reason) {
  Frontend& ui = ws.frontend();
  SideConnection& sc = ws.Side(side);
  const bool known = !reason.empty() && reason != oledb::kUnknownError;
  if (known) {
    WriteOutputText(ui, std::string("E::") + SideWord(side) + " Connection error: " + reason);
  }
  // A data source that did not initialise is of no use to anyone.
  sc.dataSource.Reset();
  sc.SetDbmsTitle({});
  RefreshTree(ws, side, 0);
  ui.SetSideState(side, SideState::Failed, known ? reason : std::string());
  const std::string because = known ? "\n\n" + reason : std::string();
  if (side == DataSourceSide::Source) {
    ui.ShowHint("Source Connection error! Please comfirm source database connection properties !");
    ui.Tell("Source Connection error!" + because);
  } else {
    ui.ShowHint("Target Connection error! Please comfirm target database connection properties !");
    ui.Tell("Target Connection error!" + because);
  }
  ui.SetBusy(false);
}

}  // namespace

const ConnectServices& DefaultConnectServices() {
  static const ConnectServices services{
      [](std::string_view id, std::shared_ptr<oledb::DataSource>& out) {
        return providers::CreateDataSource(id, out);
      },
      [](int k) { return MySqlDriverProbe(k); },
  };
  return services;
}

void Connect(Workspace& ws, DataSourceSide side) {
  Connect(ws, side, DefaultConnectServices());
}

void Connect(Workspace& ws, DataSourceSide side, const ConnectServices& services) {
  if (side != DataSourceSide::Source && side != DataSourceSide::Target) return;
  Frontend& ui = ws.frontend();
  SideConnection& sc = ws.Side(side);
  const char* word = SideWord(side);

  // 1. Through Closed: session first, then the data source. Changes the
  // session still holds are saved first; a failure is reported.
  oledb::CloseConnection(ui, sc.session, sc.dataSource);
  sc.tree.SetSideMarker(static_cast<int>(DataSourceSide::Reconnecting));
  ui.SetBusy(true);

  // 2. The adapter's initialisation properties.
  oledb::PropertySet init(oledb::PropertySetId::DBInit);
  ConnectionSettings settings = sc.Settings();
  bool built;
  std::string reason;
  if (side == DataSourceSide::Source) {
    built = MySqlAdapter::BuildInitProperties(settings, init, services, reason);
  } else {
    built = ExcelAdapter::BuildInitProperties(settings, init);
    // The workbook provider derives the database name from the data source.
    sc.EditSettings([&](ConnectionSettings& s) { s.catalogName = settings.catalogName; });
  }
  if (!built) {
    return ConnectFailed(ws, side, reason);
  }

  // 3, 4. The provider's data source, its properties, Initialize.
  std::shared_ptr<oledb::DataSource> dataSource;
  HRESULT h = services.createDataSource ? services.createDataSource(settings.providerId, dataSource)
                                        : hr::REGDB_E_CLASSNOTREG;
  if (hr::Failed(h) || !dataSource) {
    return ConnectFailed(ws, side, "the provider " + settings.providerId + " is not registered");
  }
  sc.dataSource.Set(dataSource);
  if (hr::Failed(dataSource->SetProperties(init))) {
    return ConnectFailed(ws, side,
                         oledb::ErrorDescription(dataSource.get(), oledb::Iid::IDBProperties));
  }
  if (hr::Failed(dataSource->Initialize())) {
    return ConnectFailed(ws, side,
                         oledb::ErrorDescription(dataSource.get(), oledb::Iid::IDBInitialize));
  }

  // 5.
  WriteOutput(ui, "Connect %s Database!", word);

  // 6. The session; without one the data source stays held and the tree
  // keeps what it had.
  std::shared_ptr<oledb::Session> session;
  h = dataSource->CreateSession(session);
  if (h != hr::S_OK || !session) {
    ui.Tell("Couldn't create session on data source");
    ui.SetBusy(false);
    return;
  }
  sc.session.Set(session);

  // 7. Hand the connection to the tree and rebuild it.
  DbTree::Connection handed;
  handed.session = &sc.session;
  handed.dataSource = &sc.dataSource;
  handed.catalog = settings.catalogName;
  handed.providerId = settings.providerId;
  handed.dbmsKind = side == DataSourceSide::Source ? kMySql : kExcel;
  handed.userId = settings.userId;
  handed.password = settings.password;
  sc.tree.Attach(handed);
  RefreshTree(ws, side, 0);

  // 8 to 10. "name[version]".
  std::string title;
  if (hr::Failed(dataSource->GetInfo(oledb::DBPROP_DBMSNAME, title))) {
    title.clear();
    WriteOutput(ui, "Get %s DBMS Name Error!", word);
  }
  title = Trim(std::move(title));
  if (!title.empty()) {
    std::string version;
    if (hr::Failed(dataSource->GetInfo(oledb::DBPROP_DBMSVER, version))) {
      WriteOutput(ui, "Get %s DBMS Version Error!", word);
    } else {
      title += "[" + version + "]";
    }
  }

  // 11.
  WriteOutputText(ui, oledb::kResultSuccess);

  // 12.
  if (title.empty()) {
    title = side == DataSourceSide::Source ? MySqlAdapter::QueryServerVersion(ui, &sc.session)
                                           : ExcelAdapter::QueryServerVersion(ui, &sc.session);
  }

  // 13.
  sc.SetDbmsTitle(title);
  ui.SetFolderTitle(side, title);
  ui.SetSideState(side, SideState::Connected, {});
  ui.SetBusy(false);
}

std::string UseStatement(std::string_view name) {
  return "use " + oledb::QuoteIdentifier(name) + ";";
}

bool UseDatabase(Workspace& ws, const std::string& name, int side, std::string* error) {
  if (side != 0 && side != 1) return true;
  const auto which = static_cast<DataSourceSide>(side);
  // Only the last path component: "a/b\\c" gives "c".
  const std::string database = RegExpService::Replace(name, ".*(\\\\|/)", "");
  SideConnection& sc = ws.Side(which);
  sc.tree.SetCurrentDatabase(database);
  if (!ExecuteReporting(ws.frontend(), &sc.session, UseStatement(database), error)) return false;
  RefreshTree(ws, which, 0);
  return true;
}

bool ExecuteReporting(Frontend& ui, oledb::SessionRef session, std::string_view statement,
                      std::string* error) {
  const auto s = oledb::Resolve(session);
  if (!s) {
    WriteOutputText(ui, std::string("E::") + oledb::kNoConnection);
    if (error) *error = oledb::kNoConnection;
    return false;
  }
  const oledb::CommandRun run = oledb::RunCommand(*s, statement, oledb::StandardRowsetProperties());
  if (hr::Failed(run.hr)) {
    if (error) *error = run.ErrorText();
    return false;
  }
  return true;
}

bool CheckSideConnection(Workspace& ws, DataSourceSide side) {
  if (side != DataSourceSide::Source) return true;
  SideConnection& sc = ws.Side(side);
  const auto session = sc.session.Get();
  if (!session) return true;
  // A statement the provider runs on the connection itself (not on another
  // connection of the same login, as it may run a plain query).
  std::string answer;
  const oledb::TextReadResult read =
      oledb::ReadTextRows(session, "select connection_id()", [&](const oledb::TextRow& row) {
        answer = row.size() > 0 ? row.Value(0) : std::string();
        return true;
      });
  if (read.outcome == oledb::TextReadOutcome::Rows && !answer.empty()) return true;
  const std::string reason =
      read.errorText.empty() ? std::string("the server gives no answer") : read.errorText;
  // The side is closed: every command now says that it has no connection,
  // and Connect opens it again.
  Frontend& ui = ws.frontend();
  WriteOutputText(ui, std::string("E::") + SideWord(side) + " connection lost: " + reason);
  oledb::CloseConnection(ui, sc.session, sc.dataSource);
  ui.SetSideState(side, SideState::Lost, reason);
  return false;
}

bool ReopenDatabase(Workspace& ws, const std::string& name, int side) {
  return ReopenDatabase(ws, name, side, DefaultConnectServices());
}

bool ReopenDatabase(Workspace& ws, const std::string& name, int side,
                    const ConnectServices& services) {
  if (side != 0 && side != 1) return true;
  const auto which = static_cast<DataSourceSide>(side);

  // 1. A bare name lives in the folder of the target's current workbook.
  std::string path = name;
  if (path.find_first_of("\\/") == std::string::npos) {
    const std::string current = ws.target.tree.CurrentDatabase();
    const auto cut = current.find_last_of("\\/");
    if (cut != std::string::npos) path = current.substr(0, cut + 1) + path;
  }

  // 2. Close the side.
  SideConnection& sc = ws.Side(which);
  oledb::CloseConnection(ws.frontend(), sc.session, sc.dataSource);
  sc.tree.SetSideMarker(static_cast<int>(DataSourceSide::Reconnecting));

  // 3. The workbook is the data source; elsewhere the name is the catalog.
  sc.EditSettings([&](ConnectionSettings& s) {
    s.catalogName.clear();
    if (IsJetProvider(s.providerId)) {
      if (!HasWorkbookExtension(path)) path += ".xls";
      s.sourceName = path;
    } else {
      s.catalogName = path;
    }
  });

  // 4.
  sc.tree.SetCurrentDatabase(path);
  Connect(ws, which, services);
  return true;
}

}  // namespace migrator
