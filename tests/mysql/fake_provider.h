#pragma once
// A scripted provider for the connection tests: what Initialize, GetInfo and
// CreateSession answer is set per data source, and every statement a session
// runs is recorded.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "oledb/data_source.h"
#include "oledb/memory_rowset.h"
#include "oledb/schema.h"
#include "workflows/connect.h"

namespace migrator::testing {

struct FakeScript {
  // Initialize's answer for the init properties it gets.
  std::function<HRESULT(const oledb::PropertySet&)> initialize = [](const oledb::PropertySet&) {
    return hr::S_OK;
  };
  std::string initializeError = "Access denied for user";
  std::optional<std::string> dbmsName = std::string("MySQL");
  std::optional<std::string> dbmsVersion = std::string("5.0");
  HRESULT createSession = hr::S_OK;
  // Answers to statements: a single-value rowset, or a failure when the
  // statement is in `failing`.
  std::map<std::string, std::string> values;
  std::vector<std::string> failing;
};

// What the fake saw.
struct FakeLog {
  std::mutex m;
  std::vector<std::string> providerIds;         // every data source asked for
  std::vector<oledb::PropertySet> initialized;  // every Initialize's properties
  std::vector<std::string> statements;
  int alive = 0;  // fake data sources not yet destroyed

  std::vector<std::string> Statements() {
    std::lock_guard l(m);
    return statements;
  }
};

class FakeSession : public oledb::ProviderSession {
 public:
  FakeSession(const FakeScript& script, FakeLog& log) : script_(script), log_(log) {}
  HRESULT Execute(std::string_view text, const oledb::PropertySet&,
                  std::unique_ptr<oledb::ProviderRowset>& rowset,
                  oledb::ErrorRecords& errors) override {
    const std::string s(text);
    {
      std::lock_guard l(log_.m);
      log_.statements.push_back(s);
    }
    for (const auto& f : script_.failing) {
      if (f == s) {
        errors.push_back(oledb::LayerError(hr::E_FAIL, "Unknown database"));
        return hr::DB_E_ERRORSINCOMMAND;
      }
    }
    const auto it = script_.values.find(s);
    if (it == script_.values.end()) return hr::S_OK;  // no rowset
    oledb::ColumnInfo col;
    col.name = "v";
    col.ordinal = 1;
    auto rs = std::make_unique<oledb::MemoryRowset>(std::vector<oledb::ColumnInfo>{col});
    rs->AddRow({it->second});
    rowset = std::move(rs);
    return hr::S_OK;
  }
  // Schema rowsets are empty: the tree lists no databases or tables.
  HRESULT OpenSchemaRowset(oledb::Schema schema, const oledb::Restrictions&,
                           std::unique_ptr<oledb::ProviderRowset>& rowset,
                           oledb::ErrorRecords&) override {
    rowset = std::make_unique<oledb::MemoryRowset>(oledb::SchemaColumnInfo(schema));
    return hr::S_OK;
  }

 private:
  const FakeScript& script_;
  FakeLog& log_;
};

class FakeDataSource : public oledb::ProviderDataSource {
 public:
  FakeDataSource(const FakeScript& script, FakeLog& log) : script_(script), log_(log) {
    std::lock_guard l(log_.m);
    ++log_.alive;
  }
  ~FakeDataSource() override {
    std::lock_guard l(log_.m);
    --log_.alive;
  }
  HRESULT Initialize(const oledb::PropertySet& init, oledb::ErrorRecords& errors) override {
    {
      std::lock_guard l(log_.m);
      log_.initialized.push_back(init);
    }
    const HRESULT h = script_.initialize(init);
    if (hr::Failed(h)) errors.push_back(oledb::LayerError(h, script_.initializeError));
    return h;
  }
  HRESULT GetInfo(oledb::DBPROPID id, std::string& value, oledb::ErrorRecords&) override {
    const auto& v = id == oledb::DBPROP_DBMSNAME  ? script_.dbmsName
                    : id == oledb::DBPROP_DBMSVER ? script_.dbmsVersion
                                                  : std::optional<std::string>("");
    if (!v) return hr::DB_E_ERRORSOCCURRED;
    value = *v;
    return hr::S_OK;
  }
  HRESULT CreateSession(std::unique_ptr<oledb::ProviderSession>& session,
                        oledb::ErrorRecords&) override {
    if (script_.createSession != hr::S_OK) return script_.createSession;
    session = std::make_unique<FakeSession>(script_, log_);
    return hr::S_OK;
  }

 private:
  const FakeScript& script_;
  FakeLog& log_;
};

// Connect's services over the fake: every provider identifier in `known`
// gives a fake data source; the driver probe answers from `drivers`.
struct FakeServices {
  FakeScript script;
  FakeLog log;
  std::vector<std::string> known{"MSDASQL", "Microsoft.Jet.OLEDB.4.0"};
  std::vector<std::string> drivers{"MySQL ODBC 5.1 Driver"};

  ConnectServices Services() {
    ConnectServices s;
    s.createDataSource = [this](std::string_view id, std::shared_ptr<oledb::DataSource>& out) {
      {
        std::lock_guard l(log.m);
        log.providerIds.emplace_back(id);
      }
      for (const auto& k : known) {
        if (k == id) {
          out = std::make_shared<oledb::DataSource>(std::string(id),
                                                    std::make_unique<FakeDataSource>(script, log));
          return hr::S_OK;
        }
      }
      return hr::REGDB_E_CLASSNOTREG;
    };
    s.mysqlDriverProbe = [this](int k) {
      return k >= 1 && k <= static_cast<int>(drivers.size()) ? drivers[k - 1] : std::string();
    };
    return s;
  }
};

}  // namespace migrator::testing
