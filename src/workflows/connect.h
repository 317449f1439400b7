#pragma once
// Opening a side, and the operations that work on either side's connection:
// Connect, UseDatabase and ReopenDatabase. (ExecuteStatement is in
// oledb/operations.h, RefreshTree in browser/refresh_tree.h.)

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/frontend.h"
#include "oledb/data_source.h"
#include "oledb/slot.h"
#include "support/hresult.h"

namespace migrator {

class Workspace;

// Where data source objects come from: the uninitialised data source of the
// provider with this identifier, or a failure (an unknown identifier fails
// with hr::REGDB_E_CLASSNOTREG). The program uses the compiled-in provider
// registry; tests pass providers of their own.
using DataSourceFactory =
    std::function<HRESULT(std::string_view providerId, std::shared_ptr<oledb::DataSource>& out)>;
// The ODBC driver probe: the k-th usable MySQL driver's name (k from 1) or
// empty (config/driver_check.h).
using MySqlDriverProbeFn = std::function<std::string(int k)>;

// What Connect and the adapters take from their surroundings.
struct ConnectServices {
  DataSourceFactory createDataSource;
  MySqlDriverProbeFn mysqlDriverProbe;
};
// The registry's providers and the driver probe over the process environment.
const ConnectServices& DefaultConnectServices();

// (Re)opens a side: releases its session and data source, builds the
// initialisation properties through the side's adapter, creates and
// initialises the provider's data source, opens a session, hands the
// connection to the side's tree, rebuilds the tree and shows the DBMS name and
// version as the side's folder title. Failures are reported through the
// frontend; afterwards the side is open exactly when its session slot holds a
// session.
void Connect(Workspace& ws, DataSourceSide side);
void Connect(Workspace& ws, DataSourceSide side, const ConnectServices& services);

// Makes a database current on a side's open session ("use `name`;"): any
// path before the last "/" or "\" is dropped, the name is recorded as the
// tree's current database before the statement runs, and the tree is rebuilt
// when it succeeds. side: 0 Source, 1 Target; any other value does nothing
// and returns true. Reports nothing but a missing session ("E::No
// Connection!"); false when the statement failed, with the provider's words
// in `error` when given.
bool UseDatabase(Workspace& ws, const std::string& name, int side, std::string* error = nullptr);

// Runs a statement, its rows unread, as ExecuteStatement does with report 0,
// and hands the failure's text to the caller instead.
bool ExecuteReporting(Frontend& ui, oledb::SessionRef session, std::string_view statement,
                      std::string* error);

// After a failure on a side: asks the side's connection whether it still
// works. When it does not, the side is closed and marked lost: a red line
// with the provider's reason, the session and data source released, the
// frontend told (SideState::Lost); the tree keeps what it showed. True when
// the connection works or the side has none to ask about (a workbook is
// always there).
bool CheckSideConnection(Workspace& ws, DataSourceSide side);

// Re-opens a side on another database: a name without a folder takes the
// folder of the target tree's current database; for the workbook provider the
// name (with ".xls" added when it holds none) becomes the data source, for
// others the catalog. Then Connect. Always true; Connect reports failures.
bool ReopenDatabase(Workspace& ws, const std::string& name, int side);
bool ReopenDatabase(Workspace& ws, const std::string& name, int side,
                    const ConnectServices& services);

// "use `name`;" with a back-quote in the name doubled, so the name cannot end
// the identifier.
std::string UseStatement(std::string_view name);

}  // namespace migrator
