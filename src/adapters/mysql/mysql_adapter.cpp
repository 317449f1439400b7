#include "adapters/mysql/mysql_adapter.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <vector>

#include "adapters/mysql/ddl_rewrite.h"
#include "app/output.h"
#include "app/workspace.h"
#include "oledb/errors.h"
#include "oledb/operations.h"
#include "oledb/schema_reader.h"
#include "oledb/text.h"
#include "oledb/text_rows.h"
#include "platform/text.h"
#include "support/error_text.h"

namespace migrator {
namespace {

using oledb::Variant;

// A value as one connection-string value: braces around it, "}" doubled,
// when it holds anything the string's syntax gives a meaning.
std::string OdbcValue(std::string_view v) {
  const bool plain = v.find_first_of(";{}=") == std::string_view::npos &&
                     (v.empty() || (v.front() != ' ' && v.back() != ' '));
  if (plain) return std::string(v);
  std::string out = "{";
  for (char c : v) {
    out += c;
    if (c == '}') out += '}';
  }
  out += '}';
  return out;
}

// The driver name sits inside the string's own braces.
std::string BracedContent(std::string_view v) {
  std::string out;
  for (char c : v) {
    out += c;
    if (c == '}') out += '}';
  }
  return out;
}

void AddAuthProperties(const ConnectionSettings& s, oledb::PropertySet& set) {
  set.Add(oledb::DBPROP_AUTH_ENCRYPT_PASSWORD, Variant::Bool(false));
  set.Add(oledb::DBPROP_AUTH_MASK_PASSWORD, Variant::Bool(false));
  set.Add(oledb::DBPROP_AUTH_PASSWORD, Variant::Bstr(s.password));
  set.Add(oledb::DBPROP_AUTH_USERID, Variant::Bstr(s.userId));
}

void AddModeAndPrompt(oledb::PropertySet& set) {
  set.Add(oledb::DBPROP_INIT_MODE, Variant::I4(oledb::DB_MODE_SHARE_DENY_NONE));
  set.Add(oledb::DBPROP_INIT_PROMPT, Variant::I2(oledb::DBPROMPT_NOPROMPT));
}

// Both variants; `ui` is set for the configuration dialog's test.
// `reason` gets why the set could not be completed: no driver, or the last
// trial's error text.
bool Build(const ConnectionSettings& s, oledb::PropertySet& set, const ConnectServices& services,
           Frontend* ui, std::string* reason = nullptr) {
  AddAuthProperties(s, set);
  // Timeouts the settings ask for; without them the provider's defaults hold.
  if (s.loginTimeout) set.Add(oledb::DBPROP_INIT_TIMEOUT, Variant::I4(*s.loginTimeout));
  if (s.readTimeout) set.Add(oledb::DBPROP_INIT_GENERALTIMEOUT, Variant::I4(*s.readTimeout));
  if (!EqualNoCase(s.providerText, kTcpIpPort)) {
    // An ODBC data source name. The database to use is the catalog: the
    // data source name is no database name.
    if (!s.sourceName.empty()) {
      set.Add(oledb::DBPROP_INIT_DATASOURCE, Variant::Bstr(s.sourceName));
      if (!s.catalogName.empty()) {
        set.Add(oledb::DBPROP_INIT_CATALOG, Variant::Bstr(s.catalogName));
      }
    }
  } else {
    const ServerAddress address = SplitServerAddress(s.sourceName);
    for (int k = 1; k <= 3; ++k) {
      const std::string driver = services.mysqlDriverProbe ? services.mysqlDriverProbe(k) : "";
      if (driver.empty()) {
        if (ui) ui->Tell("No appropriate Config, Please correct!!!");
        if (reason && k == 1) *reason = "no usable MySQL ODBC driver was found";
        return false;
      }
      set.Set(oledb::DBPROP_INIT_PROVIDERSTRING,
              Variant::Bstr(MySqlConnectionString(driver, address, s.catalogName)));

      // A trial data source with the set as it stands (no mode, no prompt).
      std::shared_ptr<oledb::DataSource> trial;
      HRESULT h = services.createDataSource ? services.createDataSource(s.providerId, trial)
                                            : hr::REGDB_E_CLASSNOTREG;
      oledb::Iid failedAt = oledb::Iid::IDBInitialize;
      if (hr::Succeeded(h) && trial) {
        h = trial->SetProperties(set);
        if (hr::Failed(h)) {
          failedAt = oledb::Iid::IDBProperties;
        } else {
          h = trial->Initialize();
        }
      }
      const bool initialised = hr::Succeeded(h) && trial;
      if (!initialised && (ui || reason)) {
        const std::string text =
            trial ? oledb::ErrorDescription(trial.get(), failedAt) : oledb::kUnknownError;
        if (ui) ui->Tell(text);
        if (reason) *reason = text;
      }
      trial.reset();
      if (initialised) break;
    }
  }
  AddModeAndPrompt(set);
  return true;
}

}  // namespace

ServerAddress SplitServerAddress(std::string_view sourceName) {
  if (sourceName.starts_with('[')) {  // an IPv6 address: "[::1]" or "[::1]:3306"
    const auto close = sourceName.find(']');
    if (close != std::string_view::npos) {
      const std::string_view rest = sourceName.substr(close + 1);
      return {std::string(sourceName.substr(1, close - 1)),
              rest.starts_with(':') ? std::string(rest.substr(1)) : kDefaultMySqlPort};
    }
  }
  const auto colon = sourceName.find(':');
  if (colon == std::string_view::npos) return {std::string(sourceName), kDefaultMySqlPort};
  return {std::string(sourceName.substr(0, colon)), std::string(sourceName.substr(colon + 1))};
}

std::string MySqlConnectionString(std::string_view driver, const ServerAddress& address,
                                  std::string_view catalog) {
  std::string s = ";Driver={" + BracedContent(driver) + "};SERVER=" + OdbcValue(address.host) +
                  ";PORT=" + OdbcValue(address.port) + ";UID=root;";
  if (!catalog.empty()) s += "Database=" + OdbcValue(catalog);
  return s;
}

bool MySqlAdapter::BuildInitProperties(const ConnectionSettings& settings,
                                       oledb::PropertySet& set) {
  return Build(settings, set, DefaultConnectServices(), nullptr);
}

bool MySqlAdapter::BuildInitProperties(const ConnectionSettings& settings, oledb::PropertySet& set,
                                       const ConnectServices& services) {
  return Build(settings, set, services, nullptr);
}

bool MySqlAdapter::BuildInitProperties(const ConnectionSettings& settings, oledb::PropertySet& set,
                                       const ConnectServices& services, std::string& reason) {
  return Build(settings, set, services, nullptr, &reason);
}

bool MySqlAdapter::BuildTestInitProperties(Frontend& ui, const ConnectionSettings& settings,
                                           oledb::PropertySet& set) {
  return Build(settings, set, DefaultConnectServices(), &ui);
}

bool MySqlAdapter::BuildTestInitProperties(Frontend& ui, const ConnectionSettings& settings,
                                           oledb::PropertySet& set,
                                           const ConnectServices& services) {
  return Build(settings, set, services, &ui);
}

std::string MySqlAdapter::QueryServerVersion(Frontend& out, oledb::SessionRef session) {
  return oledb::QuerySingleValue(out, session, "select @@Version");
}

std::string MySqlAdapter::GetTableDdl(Frontend& out, oledb::SessionRef session, const std::string&,
                                      const std::string& table) {
  auto s = oledb::Resolve(session);
  if (!s) {
    WriteOutputText(out, SystemErrorLine(oledb::kNoConnection));
    return oledb::kNoConnection;
  }
  // The text of the last row read in full; the second column holds it.
  std::string ddl;
  const oledb::TextReadResult r = oledb::ReadTextRows(
      s, "show create table " + oledb::QuoteIdentifier(table), [&ddl](const oledb::TextRow& row) {
        ddl = row.size() > 1 ? row.Value(1) : std::string();
        return true;
      });
  switch (r.outcome) {
    case oledb::TextReadOutcome::MissingSession:
      return oledb::kNoConnection;
    case oledb::TextReadOutcome::Failed:
      return r.errorText;
    case oledb::TextReadOutcome::NoRowset:
      WriteOutputText(out, oledb::kResultSuccess);
      return oledb::kResultSuccess;
    case oledb::TextReadOutcome::Rows:
      break;
  }
  return RewriteDdl(std::move(ddl));
}

namespace {

// The columns schema rowset's records of a table, in their order; empty when
// it cannot be read.
std::vector<oledb::ColumnRecord> ColumnsInOrder(oledb::SessionRef session,
                                                const std::string& table) {
  oledb::ColumnsReader columns;
  if (hr::Failed(columns.Open(session,
                              oledb::Restrictions().Set(oledb::restriction::kTableName, table)))) {
    return {};
  }
  std::vector<oledb::ColumnRecord> found;
  while (columns.MoveNext() == hr::S_OK)
    found.push_back(columns.record());
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return a.ordinalPosition < b.ordinalPosition;
  });
  return found;
}

}  // namespace

std::string MySqlAdapter::GetColumnsDdl(oledb::SessionRef session, const std::string& table) {
  const std::vector<oledb::ColumnRecord> found = ColumnsInOrder(session, table);
  if (found.empty()) return {};
  // Lower case, as the rewritten definition is.
  std::string ddl = "create table " + oledb::QuoteIdentifier(ToLowerAscii(table)) + " (";
  for (std::size_t i = 0; i < found.size(); ++i) {
    ddl += i == 0 ? "\n" : ",\n";
    ddl += oledb::QuoteIdentifier(ToLowerAscii(found[i].columnName)) + " text";
  }
  return ddl + "\n)";
}

std::vector<TypedColumn> MySqlAdapter::GetTypedColumns(oledb::SessionRef session,
                                                       const std::string& table) {
  const std::vector<oledb::ColumnRecord> found = ColumnsInOrder(session, table);

  // The server's own type texts tell a BOOLEAN from a TINYINT and a BIT from
  // a BINARY, which the rowset's types do not. The name goes as hexadecimal
  // bytes, which no SQL mode reads otherwise; the server compares names
  // without regard to case, so the table's own rows are picked out here.
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : table) {
    hex += kHex[c >> 4];
    hex += kHex[c & 15];
  }
  std::map<std::string, std::string> sourceTypes;
  if (!hex.empty()) {
    oledb::ReadTextRows(
        session,
        "select COLUMN_NAME, COLUMN_TYPE, TABLE_NAME from information_schema.COLUMNS "
        "where TABLE_SCHEMA = database() and TABLE_NAME = convert(X'" +
            hex + "' using utf8mb4)",
        [&](const oledb::TextRow& row) {
          if (row.size() >= 3 && row.Value(2) == table) sourceTypes[row.Value(0)] = row.Value(1);
          return true;
        });
  }

  std::vector<TypedColumn> typed;
  typed.reserve(found.size());
  for (const auto& c : found) {
    const auto source = sourceTypes.find(c.columnName);
    typed.push_back(TypedColumnOf(c.columnName, c.dataType, c.numericPrecision, c.numericScale,
                                  source == sourceTypes.end() ? "" : source->second));
  }
  return typed;
}

std::string MySqlAdapter::GetViewDdl(Frontend&, oledb::SessionRef, const std::string&,
                                     const std::string&) {
  return kNoViewSupport;
}

}  // namespace migrator
