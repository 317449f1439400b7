#pragma once
// A scripted provider for the layer's tests: each statement answers with a
// prepared rowset, no rowset or a failure, and rowsets can fail at a chosen
// row. It also notices when two calls ever run inside it at once.

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "oledb/data_source.h"
#include "oledb/memory_rowset.h"
#include "oledb/provider.h"
#include "oledb/slot.h"

namespace migrator::testing {

struct FakeResult {
  enum Kind { Rows, NoRowset, Failure } kind = NoRowset;
  std::vector<oledb::ColumnInfo> columns;
  std::vector<std::vector<std::optional<std::string>>> rows;
  oledb::ErrorRecords errors;  // for a failure
  HRESULT hr = hr::DB_E_ERRORSINCOMMAND;
  int fetchFailsAt = -1;  // GetNextRow of this row (0-based) fails
  int readWarnsAt = -1;   // GetData of this row answers DB_S_ERRORSOCCURRED
};

inline oledb::ColumnInfo Column(std::string name, oledb::DBORDINAL ordinal,
                                oledb::DBTYPE type = oledb::DBTYPE_WSTR) {
  oledb::ColumnInfo c;
  c.name = std::move(name);
  c.ordinal = ordinal;
  c.type = type;
  return c;
}

inline oledb::ColumnInfo Bookmark() {
  oledb::ColumnInfo c;
  c.ordinal = 0;
  c.type = oledb::DBTYPE_UI4;
  c.flags = oledb::DBCOLUMNFLAGS_ISBOOKMARK;
  return c;
}

inline oledb::ErrorRecord Record(std::string description, HRESULT h = hr::E_FAIL) {
  oledb::ErrorRecord r;
  r.hr = h;
  r.description = std::move(description);
  r.source = "Fake";
  return r;
}

// Shared by all fake objects of one data source.
struct FakeWorld {
  std::mutex m;
  std::map<std::string, FakeResult> results;  // by statement
  std::map<oledb::Schema, FakeResult> schemas;
  std::vector<std::string> executed;
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::chrono::microseconds callDelay{0};  // makes overlaps likely when there is no lock

  void Set(const std::string& statement, FakeResult r) {
    std::lock_guard l(m);
    results[statement] = std::move(r);
  }
  std::vector<std::string> Executed() {
    std::lock_guard l(m);
    return executed;
  }

  // Marks a call as running inside the provider.
  class Inside {
   public:
    explicit Inside(FakeWorld& w) : w_(w) {
      if (w_.inside.fetch_add(1) != 0) w_.overlapped = true;
      if (w_.callDelay.count() > 0) std::this_thread::sleep_for(w_.callDelay);
    }
    ~Inside() { w_.inside.fetch_sub(1); }

   private:
    FakeWorld& w_;
  };
};

class FakeRowset : public oledb::MemoryRowset {
 public:
  FakeRowset(FakeWorld& w, const FakeResult& r) : MemoryRowset(r.columns), w_(w), spec_(r) {
    for (const auto& row : r.rows)
      AddRow(row);
  }
  HRESULT GetColumnInfo(std::vector<oledb::ColumnInfo>& c, oledb::ErrorRecords& e) override {
    FakeWorld::Inside in(w_);
    return MemoryRowset::GetColumnInfo(c, e);
  }
  HRESULT CreateAccessor(std::span<const oledb::DBORDINAL> o, oledb::ErrorRecords& e) override {
    FakeWorld::Inside in(w_);
    return MemoryRowset::CreateAccessor(o, e);
  }
  HRESULT GetNextRow(oledb::ErrorRecords& e) override {
    FakeWorld::Inside in(w_);
    if (row_ == spec_.fetchFailsAt) {
      e.push_back(Record("fetch failed"));
      return hr::E_FAIL;
    }
    ++row_;
    return MemoryRowset::GetNextRow(e);
  }
  HRESULT GetData(oledb::TextRow& t, oledb::ErrorRecords& e) override {
    FakeWorld::Inside in(w_);
    HRESULT h = MemoryRowset::GetData(t, e);
    if (h == hr::S_OK && row_ - 1 == spec_.readWarnsAt) return hr::DB_S_ERRORSOCCURRED;
    return h;
  }

 private:
  FakeWorld& w_;
  FakeResult spec_;
  int row_ = 0;
};

class FakeSession : public oledb::ProviderSession {
 public:
  explicit FakeSession(FakeWorld& w) : w_(w) {}
  HRESULT Execute(std::string_view text, const oledb::PropertySet&,
                  std::unique_ptr<oledb::ProviderRowset>& rowset,
                  oledb::ErrorRecords& errors) override {
    FakeWorld::Inside in(w_);
    FakeResult r;
    {
      std::lock_guard l(w_.m);
      w_.executed.emplace_back(text);
      auto it = w_.results.find(std::string(text));
      if (it != w_.results.end()) r = it->second;
    }
    return Answer(r, rowset, errors);
  }
  HRESULT OpenSchemaRowset(oledb::Schema schema, const oledb::Restrictions&,
                           std::unique_ptr<oledb::ProviderRowset>& rowset,
                           oledb::ErrorRecords& errors) override {
    FakeWorld::Inside in(w_);
    FakeResult r;
    {
      std::lock_guard l(w_.m);
      auto it = w_.schemas.find(schema);
      if (it == w_.schemas.end()) return hr::E_INVALIDARG;
      r = it->second;
    }
    return Answer(r, rowset, errors);
  }

 private:
  HRESULT Answer(const FakeResult& r, std::unique_ptr<oledb::ProviderRowset>& rowset,
                 oledb::ErrorRecords& errors) {
    switch (r.kind) {
      case FakeResult::Failure:
        errors.insert(errors.end(), r.errors.begin(), r.errors.end());
        return r.hr;
      case FakeResult::NoRowset:
        return hr::S_OK;
      case FakeResult::Rows:
        rowset = std::make_unique<FakeRowset>(w_, r);
        return hr::S_OK;
    }
    return hr::E_FAIL;
  }
  FakeWorld& w_;
};

class FakeDataSource : public oledb::ProviderDataSource {
 public:
  explicit FakeDataSource(FakeWorld& w) : w_(w) {}
  HRESULT Initialize(const oledb::PropertySet& init, oledb::ErrorRecords& errors) override {
    if (init.FindText(oledb::DBPROP_AUTH_PASSWORD).value_or("") == "wrong") {
      errors.push_back(Record("Access denied for user", hr::DB_SEC_E_AUTH_FAILED));
      errors.push_back(Record("second record"));
      return hr::DB_SEC_E_AUTH_FAILED;
    }
    return hr::S_OK;
  }
  HRESULT GetInfo(oledb::DBPROPID id, std::string& value, oledb::ErrorRecords&) override {
    if (id != oledb::DBPROP_DBMSNAME) return hr::DB_E_ERRORSOCCURRED;
    value = "Fake";
    return hr::S_OK;
  }
  HRESULT CreateSession(std::unique_ptr<oledb::ProviderSession>& s, oledb::ErrorRecords&) override {
    s = std::make_unique<FakeSession>(w_);
    return hr::S_OK;
  }

 private:
  FakeWorld& w_;
};

// A rowset answer with text columns c1..cn.
inline FakeResult RowsOf(std::size_t columns,
                         std::vector<std::vector<std::optional<std::string>>> rows) {
  FakeResult r;
  r.kind = FakeResult::Rows;
  for (std::size_t i = 1; i <= columns; ++i)
    r.columns.push_back(Column("c" + std::to_string(i), i));
  r.rows = std::move(rows);
  return r;
}

inline FakeResult FailureOf(std::string description, HRESULT h = hr::DB_E_ERRORSINCOMMAND) {
  FakeResult r;
  r.kind = FakeResult::Failure;
  r.hr = h;
  r.errors.push_back(Record(std::move(description), h));
  return r;
}

// A data source over the fake, initialised, with a session in a slot.
struct FakeConnection {
  FakeWorld world;
  std::shared_ptr<oledb::DataSource> dataSource;
  oledb::SessionSlot slot;

  FakeConnection() {
    dataSource =
        std::make_shared<oledb::DataSource>("Fake", std::make_unique<FakeDataSource>(world));
    dataSource->Initialize();
    std::shared_ptr<oledb::Session> s;
    dataSource->CreateSession(s);
    slot.Set(s);
  }
  oledb::SessionRef ref() const { return &slot; }
};

}  // namespace migrator::testing
