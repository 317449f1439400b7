// The source side of a workspace connected to the private test server (for
// tests that link the core library).
#pragma once

#include <string>

#include "app/workspace.h"
#include "testlib/testlib.h"
#include "workflows/connect.h"

namespace migrator::testing {

// The settings of a source side on the server's ordinary user, with
// `database` current (none when empty).
inline ConnectionSettings ServerSourceSettings(const MySqlServer& server,
                                               const std::string& database = "") {
  ConnectionSettings s;
  s.providerText = "TCP/IP:Port";
  s.providerId = "MSDASQL";
  s.sourceName = server.host + ":" + server.port;
  s.userId = server.user;
  s.password = server.password;
  s.catalogName = database;
  return s;
}

// Sets the source side of `ws` to the server's ordinary user with `database`
// current, and connects it. Whether it is connected.
inline bool ConnectServerSource(Workspace& ws, const MySqlServer& server,
                                const std::string& database) {
  ws.source.SetSettings(ServerSourceSettings(server, database));
  Connect(ws, DataSourceSide::Source);
  return ws.source.Connected();
}

}  // namespace migrator::testing
