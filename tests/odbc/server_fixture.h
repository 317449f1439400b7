#pragma once
// Connections to the private MariaDB server through the ODBC provider, and a
// scratch database per test.

#include <gtest/gtest.h>

#include <unistd.h>
#include <atomic>
#include <memory>
#include <string>

#include "oledb/data_source.h"
#include "oledb/operations.h"
#include "oledb/slot.h"
#include "oledb/text_rows.h"
#include "providers/registry.h"
#include "testlib/testlib.h"

namespace migrator::testing {

// The provider string the MySQL adapter builds for a server: its fixed
// "UID=root" is what the auth properties must win over.
inline std::string ProviderString(const MySqlServer& s, const std::string& port = {}) {
  return ";Driver={MariaDB Unicode};SERVER=" + s.host + ";PORT=" + (port.empty() ? s.port : port) +
         ";UID=root;";
}

inline oledb::PropertySet InitProperties(const MySqlServer& s, const std::string& password,
                                         const std::string& catalog = {},
                                         const std::string& port = {}) {
  using namespace oledb;
  PropertySet p(PropertySetId::DBInit);
  p.Add(DBPROP_AUTH_ENCRYPT_PASSWORD, Variant::Bool(false));
  p.Add(DBPROP_AUTH_MASK_PASSWORD, Variant::Bool(false));
  p.Add(DBPROP_AUTH_PASSWORD, Variant::Bstr(password));
  p.Add(DBPROP_AUTH_USERID, Variant::Bstr(s.user));
  p.Add(DBPROP_INIT_PROVIDERSTRING, Variant::Bstr(ProviderString(s, port)));
  if (!catalog.empty()) p.Add(DBPROP_INIT_CATALOG, Variant::Bstr(catalog));
  p.Add(DBPROP_INIT_MODE, Variant::I4(DB_MODE_SHARE_DENY_NONE));
  p.Add(DBPROP_INIT_PROMPT, Variant::I2(DBPROMPT_NOPROMPT));
  return p;
}

// An initialised "MSDASQL" data source, or null with the failure in `hr`.
inline std::shared_ptr<oledb::DataSource> OpenDataSource(const oledb::PropertySet& props,
                                                         HRESULT& h) {
  std::shared_ptr<oledb::DataSource> ds;
  h = providers::CreateDataSource("MSDASQL", ds);
  if (hr::Failed(h)) return nullptr;
  h = ds->SetProperties(props);
  if (hr::Failed(h)) return ds;
  h = ds->Initialize();
  return ds;
}

inline std::string UniqueName(const char* prefix) {
  static std::atomic<int> counter{0};
  return std::string(prefix) + std::to_string(::getpid()) + "_" + std::to_string(counter++);
}

// A connected session in a fresh database, dropped at the end.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto s = TestMySqlServer();
    if (!s) GTEST_SKIP() << "no private MariaDB server (run under scripts/with-mariadb.sh)";
    server_ = *s;
    HRESULT h = hr::S_OK;
    ds_ = OpenDataSource(InitProperties(server_, server_.password), h);
    ASSERT_TRUE(ds_ && hr::Succeeded(h))
        << oledb::ErrorDescription(ds_.get(), oledb::Iid::IDBInitialize);
    std::shared_ptr<oledb::Session> session;
    ASSERT_EQ(ds_->CreateSession(session), hr::S_OK);
    slot_.Set(session);
    db_ = UniqueName("mg_odbc_");
    Exec("create database `" + db_ + "` character set utf8mb4");
    Exec("use `" + db_ + "`");
  }
  void TearDown() override {
    if (!db_.empty() && !slot_.Empty()) Exec("drop database if exists `" + db_ + "`");
  }

  // Runs a statement that must succeed.
  void Exec(const std::string& sql) {
    auto session = slot_.Get();
    ASSERT_TRUE(session);
    auto run = oledb::RunCommand(*session, sql, oledb::StandardRowsetProperties());
    ASSERT_TRUE(hr::Succeeded(run.hr)) << sql << ": " << run.ErrorText();
  }
  // All rows of a statement as text ("NULL" for a NULL).
  std::vector<std::vector<std::string>> Rows(const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    auto r = oledb::ReadTextRows(&slot_, sql, [&](const oledb::TextRow& row) {
      std::vector<std::string> v;
      for (std::size_t i = 0; i < row.size(); ++i)
        v.push_back(row.IsNull(i) ? "NULL" : row.Value(i));
      rows.push_back(std::move(v));
      return true;
    });
    EXPECT_EQ(r.outcome, oledb::TextReadOutcome::Rows) << sql << ": " << r.errorText;
    return rows;
  }
  std::string Single(const std::string& sql) {
    auto rows = Rows(sql);
    return rows.empty() || rows[0].empty() ? std::string("<none>") : rows[0][0];
  }

  MySqlServer server_;
  std::shared_ptr<oledb::DataSource> ds_;
  oledb::SessionSlot slot_;
  std::string db_;
};

}  // namespace migrator::testing
