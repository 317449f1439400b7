#include "providers/odbc/odbc_provider.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "oledb/memory_rowset.h"
#include "oledb/text.h"
#include "providers/odbc/connection_string.h"
#include "providers/odbc/odbc_util.h"
#include "providers/odbc/statement_text.h"
#include "providers/odbc/stream.h"

namespace migrator::providers::odbc {
namespace {

using oledb::ColumnInfo;
using oledb::DBORDINAL;
using oledb::DBPROPID;
using oledb::ErrorRecords;
using oledb::MemoryRowset;
using oledb::PropertySet;
using oledb::ProviderRowset;
using oledb::ProviderSession;
using oledb::Restrictions;
using oledb::Schema;
using oledb::TextRow;
namespace restriction = oledb::restriction;

// ---------------------------------------------------------------------------
// The connection a data source and its sessions share.

struct Connection {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  bool connected = false;
  std::string dbmsName, dbmsVersion, dataSourceName;
  // How text of the session's results is decoded; asked for again after a
  // statement that may have changed the result character set.
  std::shared_ptr<TextDecoder> decoder;
  bool decoderKnown = false;
  // Long reads go over a connection of their own (stream.h) while the
  // session's settings can be copied to it and it holds no state that
  // another connection cannot see.
  std::unique_ptr<StreamPool> stream;
  std::optional<SessionSettings> settings;  // as last read; none: read again
  bool sessionBound = false;

  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    if (connected) SQLDisconnect(dbc);
    if (dbc != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    if (env != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
};

// ---------------------------------------------------------------------------
// Rowset over a statement handle.

class OdbcRowset : public ProviderRowset {
 public:
  OdbcRowset(Statement stmt, std::shared_ptr<TextDecoder> decoder)
      : stmt_(std::move(stmt)), decoder_(decoder), reader_(std::move(decoder)) {}

  // Reads the column descriptions; called once before the rowset is handed out.
  HRESULT Describe(ErrorRecords& errors) {
    return DescribeColumns(stmt_.get(), decoder_.get(), columns_, errors);
  }

  HRESULT GetColumnInfo(std::vector<ColumnInfo>& columns, ErrorRecords&) override {
    columns = columns_;
    return hr::S_OK;
  }

  HRESULT CreateAccessor(std::span<const DBORDINAL> ordinals, ErrorRecords& errors) override {
    return reader_.Bind(ordinals, columns_, errors);
  }

  HRESULT GetNextRow(ErrorRecords& errors) override {
    const SQLRETURN r = SQLFetch(stmt_.get());
    if (r == SQL_NO_DATA) {
      onRow_ = false;
      return hr::DB_S_ENDOFROWSET;
    }
    if (!SqlOk(r)) {
      onRow_ = false;
      return Diagnose(SQL_HANDLE_STMT, stmt_.get(), errors);
    }
    onRow_ = true;
    return hr::S_OK;
  }

  HRESULT GetData(TextRow& row, ErrorRecords& errors) override {
    if (!onRow_) {
      errors.push_back(ProviderError(hr::DB_E_BADROWHANDLE, "There is no current row."));
      return hr::DB_E_BADROWHANDLE;
    }
    return reader_.Read(stmt_.get(), row, errors);
  }

  HRESULT NextResult(bool& more, ErrorRecords& errors) override {
    more = false;
    onRow_ = false;
    for (;;) {
      const SQLRETURN r = SQLMoreResults(stmt_.get());
      if (r == SQL_NO_DATA) return hr::S_OK;
      if (!SqlOk(r)) return Diagnose(SQL_HANDLE_STMT, stmt_.get(), errors);
      SQLSMALLINT count = 0;
      if (!SqlOk(SQLNumResultCols(stmt_.get(), &count))) {
        return Diagnose(SQL_HANDLE_STMT, stmt_.get(), errors);
      }
      if (count == 0) continue;  // a status result: no rows
      const HRESULT h = Describe(errors);
      if (hr::Failed(h)) return h;
      reader_ = ValueReader(decoder_);
      more = true;
      return hr::S_OK;
    }
  }

 private:
  Statement stmt_;
  std::shared_ptr<TextDecoder> decoder_;
  std::vector<ColumnInfo> columns_;
  ValueReader reader_;
  bool onRow_ = false;
};

// ---------------------------------------------------------------------------
// Schema rowsets, built from the ODBC catalog functions.

using Value = MemoryRowset::Value;
using Rows = std::vector<std::vector<Value>>;

// Catalog-function arguments: a restriction's text, or null for none.
using Arg = std::optional<std::string>;
SQLCHAR* Ptr(Arg& v) {
  return v ? reinterpret_cast<SQLCHAR*>(v->data()) : nullptr;
}
SQLSMALLINT Len(const Arg& v) {
  return v ? static_cast<SQLSMALLINT>(std::min<std::size_t>(v->size(), 32767)) : 0;
}

bool Matches(const std::optional<std::string>& restriction, const Value& value) {
  if (!restriction) return true;
  return value && *value == *restriction;
}

std::string Num(long long v) {
  return std::to_string(v);
}
Value Bool(bool b) {
  return std::string(b ? "1" : "0");
}

std::optional<long long> AsNumber(const Value& v) {
  if (!v || v->empty()) return std::nullopt;
  try {
    return std::stoll(*v);
  } catch (...) {
    return std::nullopt;
  }
}

class OdbcSession : public ProviderSession {
 public:
  explicit OdbcSession(Connection& conn) : conn_(conn) {}

  HRESULT Execute(std::string_view text, const PropertySet&,
                  std::unique_ptr<ProviderRowset>& rowset, ErrorRecords& errors) override {
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
      errors.push_back(ProviderError(hr::DB_E_NOCOMMAND, "empty statement"));
      return hr::DB_E_NOCOMMAND;
    }
    std::string kind;
    if (DriverLosesRows(text, kind)) {
      errors.push_back(ProviderError(
          hr::DB_E_NOTSUPPORTED,
          "The statement was not run: the rows of a statement that begins with " + kind +
              " cannot be read through the ODBC driver (it reports no columns for them and "
              "leaves the connection unusable)."));
      return hr::DB_E_NOTSUPPORTED;
    }
    // The statement goes in the session's client character set.
    std::string sql;
    const SessionSettings* settings = Settings();
    if (!EncodeText(settings ? settings->client : std::string(), text, sql)) {
      errors.push_back(ProviderError(
          hr::DB_E_ERRORSINCOMMAND,
          "The statement was not run: it holds characters that the session's character set (" +
              settings->client + ") cannot represent."));
      return hr::DB_E_ERRORSINCOMMAND;
    }
    if (conn_.stream && !conn_.sessionBound && ReadsOnly(text)) {
      if (settings) {
        bool usable = false;
        const HRESULT h =
            conn_.stream->Execute(sql, *settings, ResultDecoder(), rowset, errors, usable);
        if (usable) return h;
      }
    }

    std::shared_ptr<TextDecoder> decoder = ResultDecoder();
    Statement stmt;
    HRESULT h = stmt.Allocate(conn_.dbc, errors);
    if (hr::Failed(h)) return h;
    if (MayChangeResultCharset(text)) conn_.decoderKnown = false;
    if (MayChangeSessionSettings(text)) conn_.settings.reset();
    if (BindsSession(text)) conn_.sessionBound = true;
    const SQLRETURN r = SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(sql.data()),
                                      static_cast<SQLINTEGER>(sql.size()));
    if (r != SQL_NO_DATA && !SqlOk(r)) return Diagnose(SQL_HANDLE_STMT, stmt.get(), errors);
    SQLSMALLINT columns = 0;
    if (r != SQL_NO_DATA) {
      const SQLRETURN rc = SQLNumResultCols(stmt.get(), &columns);
      if (!SqlOk(rc)) return Diagnose(SQL_HANDLE_STMT, stmt.get(), errors);
    }
    if (columns <= 0) return hr::S_OK;  // no rowset
    auto made = std::make_unique<OdbcRowset>(std::move(stmt), std::move(decoder));
    h = made->Describe(errors);
    if (hr::Failed(h)) return h;
    rowset = std::move(made);
    return hr::S_OK;
  }

  HRESULT OpenSchemaRowset(Schema schema, const Restrictions& restrictions,
                           std::unique_ptr<ProviderRowset>& rowset, ErrorRecords& errors) override {
    Rows rows;
    HRESULT h = hr::S_OK;
    switch (schema) {
      case Schema::Catalogs:
        h = Catalogs(restrictions, rows, errors);
        break;
      case Schema::Tables:
        h = Tables(restrictions, rows, errors);
        break;
      case Schema::Columns:
        h = Columns(restrictions, rows, errors);
        break;
      case Schema::Indexes:
        h = Indexes(restrictions, rows, errors);
        break;
    }
    if (hr::Failed(h)) return h;
    auto made = std::make_unique<MemoryRowset>(oledb::SchemaColumnInfo(schema));
    for (auto& row : rows)
      made->AddRow(std::move(row));
    rowset = std::move(made);
    return hr::S_OK;
  }

 private:
  // Runs a catalog function on a fresh statement and reads all its rows.
  template <class Call>
  HRESULT Catalog(Call&& call, Rows& out, ErrorRecords& errors) {
    Statement stmt;
    HRESULT h = stmt.Allocate(conn_.dbc, errors);
    if (hr::Failed(h)) return h;
    const SQLRETURN r = call(stmt.get());
    if (!SqlOk(r)) return Diagnose(SQL_HANDLE_STMT, stmt.get(), errors);
    return FetchAll(stmt.get(), ResultDecoder().get(), out, errors);
  }

  // The decoder for the session's current result character set, asked of
  // the server when it is not known. When it cannot be asked, text is taken
  // as UTF-8.
  std::shared_ptr<TextDecoder> ResultDecoder() {
    if (conn_.decoderKnown) return conn_.decoder;
    std::string name;
    Statement stmt;
    ErrorRecords ignored;
    if (hr::Succeeded(stmt.Allocate(conn_.dbc, ignored))) {
      std::string query = "select @@character_set_results";
      std::vector<char> scratch;
      std::size_t length = 0;
      bool isNull = false;
      if (SqlOk(SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(query.data()), SQL_NTS)) &&
          SqlOk(SQLFetch(stmt.get())) &&
          SqlOk(ReadRawValue(stmt.get(), 1, SQL_C_CHAR, scratch, length, isNull)) && !isNull) {
        name.assign(scratch.data(), length);
      }
    }
    conn_.decoder =
        IconvNameForMySqlCharset(name).empty() ? nullptr : std::make_shared<TextDecoder>(name);
    conn_.decoderKnown = true;
    return conn_.decoder;
  }

  // The settings a streamed connection copies, read from the session when
  // they may have changed; null when they cannot be read.
  const SessionSettings* Settings() {
    if (conn_.settings) return &*conn_.settings;
    Statement stmt;
    ErrorRecords ignored;
    Rows rows;
    if (hr::Failed(stmt.Allocate(conn_.dbc, ignored))) return nullptr;
    std::string query =
        "select database(), @@character_set_client, @@character_set_results, "
        "@@collation_connection, @@time_zone, @@sql_mode";
    if (!SqlOk(SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(query.data()), SQL_NTS)) ||
        hr::Failed(FetchAll(stmt.get(), nullptr, rows, ignored)) || rows.size() != 1 ||
        rows[0].size() != 6) {
      return nullptr;
    }
    auto& v = rows[0];
    SessionSettings s;
    s.database = v[0].value_or("");
    s.client = v[1].value_or("");
    s.resultsNull = !v[2];
    s.results = v[2].value_or("");
    s.collation = v[3].value_or("");
    s.timeZone = v[4].value_or("");
    s.sqlMode = v[5].value_or("");
    conn_.settings = std::move(s);
    return &*conn_.settings;
  }

  HRESULT Catalogs(const Restrictions& r, Rows& rows, ErrorRecords& errors) {
    Rows got;
    std::string all = SQL_ALL_CATALOGS;
    std::string empty;
    HRESULT h = Catalog(
        [&](SQLHSTMT s) {
          auto* none = reinterpret_cast<SQLCHAR*>(empty.data());
          return SQLTables(s, reinterpret_cast<SQLCHAR*>(all.data()), SQL_NTS, none, 0, none, 0,
                           nullptr, 0);
        },
        got, errors);
    if (hr::Failed(h)) return h;
    for (auto& g : got) {
      g.resize(5);
      if (!g[0] || !Matches(r.At(restriction::kCatalogName), g[0])) continue;
      rows.push_back({g[0], std::nullopt});
    }
    return hr::S_OK;
  }

  // Without a catalog restriction, tables, columns and indexes are those of
  // the current database, as the MySQL drivers have always listed them (and
  // as the callers, which make a database current first, expect).
  Restrictions WithCatalog(const Restrictions& r) {
    if (r.At(restriction::kTableCatalog)) return r;
    std::string current;
    ErrorRecords ignored;
    if (hr::Failed(CurrentCatalog(conn_.dbc, current, ignored)) || current.empty()) return r;
    Restrictions out = r;
    out.Set(restriction::kTableCatalog, current);
    return out;
  }

  HRESULT Tables(const Restrictions& given, Rows& rows, ErrorRecords& errors) {
    const Restrictions r = WithCatalog(given);
    Arg cat = (r.At(restriction::kTableCatalog));
    Arg sch = (r.At(restriction::kTableSchema));
    Arg tab = (r.At(restriction::kTableName));
    Arg typ = (r.At(restriction::kTableType));
    Rows got;
    HRESULT h = Catalog(
        [&](SQLHSTMT s) {
          return SQLTables(s, Ptr(cat), Len(cat), Ptr(sch), Len(sch), Ptr(tab), Len(tab), Ptr(typ),
                           Len(typ));
        },
        got, errors);
    if (hr::Failed(h)) return h;
    // TABLE_CAT, TABLE_SCHEM, TABLE_NAME, TABLE_TYPE, REMARKS
    for (auto& g : got) {
      g.resize(5);
      if (!Matches(r.At(restriction::kTableCatalog), g[0]) ||
          !Matches(r.At(restriction::kTableSchema), g[1]) ||
          !Matches(r.At(restriction::kTableName), g[2]) ||
          !Matches(r.At(restriction::kTableType), g[3]))
        continue;
      rows.push_back(
          {g[0], g[1], g[2], g[3], std::nullopt, g[4], std::nullopt, std::nullopt, std::nullopt});
    }
    return hr::S_OK;
  }

  HRESULT Columns(const Restrictions& given, Rows& rows, ErrorRecords& errors) {
    const Restrictions r = WithCatalog(given);
    Arg cat = (r.At(restriction::kTableCatalog));
    Arg sch = (r.At(restriction::kTableSchema));
    Arg tab = (r.At(restriction::kTableName));
    Arg col = (r.At(restriction::kColumnName));
    Rows got;
    HRESULT h = Catalog(
        [&](SQLHSTMT s) {
          return SQLColumns(s, Ptr(cat), Len(cat), Ptr(sch), Len(sch), Ptr(tab), Len(tab), Ptr(col),
                            Len(col));
        },
        got, errors);
    if (hr::Failed(h)) return h;
    // 1 TABLE_CAT 2 TABLE_SCHEM 3 TABLE_NAME 4 COLUMN_NAME 5 DATA_TYPE 6 TYPE_NAME 7 COLUMN_SIZE
    // 8 BUFFER_LENGTH 9 DECIMAL_DIGITS 10 NUM_PREC_RADIX 11 NULLABLE 12 REMARKS 13 COLUMN_DEF
    // 14 SQL_DATA_TYPE 15 SQL_DATETIME_SUB 16 CHAR_OCTET_LENGTH 17 ORDINAL_POSITION 18 IS_NULLABLE
    for (auto& g : got) {
      g.resize(18);
      if (!Matches(r.At(restriction::kTableCatalog), g[0]) ||
          !Matches(r.At(restriction::kTableSchema), g[1]) ||
          !Matches(r.At(restriction::kTableName), g[2]) ||
          !Matches(r.At(restriction::kColumnName), g[3]))
        continue;
      const SQLSMALLINT sqlType =
          static_cast<SQLSMALLINT>(AsNumber(g[4]).value_or(SQL_UNKNOWN_TYPE));
      const bool isUnsigned = g[5] && g[5]->find("unsigned") != std::string::npos;
      const bool nullable = AsNumber(g[10]).value_or(SQL_NULLABLE_UNKNOWN) != SQL_NO_NULLS;
      const auto size = AsNumber(g[6]);
      const TypeInfo type = MapSqlType(sqlType, isUnsigned);
      oledb::DBCOLUMNFLAGS flags = ColumnFlags(type, nullable);
      Value maxLength, octetLength, precision, scale, datetimePrecision;
      if (type.isText || type.isBinary) {
        if (size) maxLength = Num(*size);
        octetLength = g[15];
      } else if (type.isNumeric) {
        if (size) precision = Num(*size);
        if (sqlType == SQL_DECIMAL || sqlType == SQL_NUMERIC) scale = g[8];
      } else if (type.isDatetime) {
        datetimePrecision = g[8];
      }
      rows.push_back({
          g[0],
          g[1],
          g[2],
          g[3],
          std::nullopt,             // COLUMN_GUID
          std::nullopt,             // COLUMN_PROPID
          g[16],                    // ORDINAL_POSITION
          Bool(g[12].has_value()),  // COLUMN_HASDEFAULT
          g[12],                    // COLUMN_DEFAULT
          Num(flags),               // COLUMN_FLAGS
          Bool(nullable),           // IS_NULLABLE
          Num(type.dbType),         // DATA_TYPE
          std::nullopt,             // TYPE_GUID
          maxLength,
          octetLength,
          precision,
          scale,
          datetimePrecision,
          std::nullopt,
          std::nullopt,
          std::nullopt,  // CHARACTER_SET_*
          std::nullopt,
          std::nullopt,
          std::nullopt,  // COLLATION_*
          std::nullopt,
          std::nullopt,
          std::nullopt,  // DOMAIN_*
          g[11],         // DESCRIPTION
      });
    }
    return hr::S_OK;
  }

  HRESULT Indexes(const Restrictions& given, Rows& rows, ErrorRecords& errors) {
    const Restrictions r = WithCatalog(given);
    // SQLStatistics needs a table name: without one, every table of the
    // catalog is asked in turn.
    std::vector<std::pair<Value, std::string>> tables;  // catalog, table
    if (r.At(restriction::kIndexTableName)) {
      tables.emplace_back(r.At(restriction::kTableCatalog), *r.At(restriction::kIndexTableName));
    } else {
      Rows listed;
      Restrictions tr;
      if (r.At(restriction::kTableCatalog))
        tr.Set(restriction::kTableCatalog, *r.At(restriction::kTableCatalog));
      if (r.At(restriction::kTableSchema))
        tr.Set(restriction::kTableSchema, *r.At(restriction::kTableSchema));
      tr.Set(restriction::kTableType, "TABLE");
      HRESULT h = Tables(tr, listed, errors);
      if (hr::Failed(h)) return h;
      for (auto& t : listed) {
        if (t[2]) tables.emplace_back(t[0], *t[2]);
      }
    }
    for (const auto& [catalog, table] : tables) {
      HRESULT h = IndexesOf(catalog, r.At(restriction::kTableSchema), table, r, rows, errors);
      if (hr::Failed(h)) return h;
    }
    return hr::S_OK;
  }

  HRESULT IndexesOf(const Value& catalog, const Value& schema, const std::string& table,
                    const Restrictions& r, Rows& rows, ErrorRecords& errors) {
    Arg cat = (catalog);
    Arg sch = (schema);
    Arg tab = table;

    // The primary key's name, to mark its rows.
    std::set<std::string> primaryKeys;
    {
      Rows pk;
      ErrorRecords ignored;  // a driver without primary-key support just marks none
      if (hr::Succeeded(Catalog(
              [&](SQLHSTMT s) {
                return SQLPrimaryKeys(s, Ptr(cat), Len(cat), Ptr(sch), Len(sch), Ptr(tab),
                                      Len(tab));
              },
              pk, ignored))) {
        for (auto& p : pk) {
          p.resize(6);
          if (p[5]) primaryKeys.insert(*p[5]);
        }
      }
    }

    Rows got;
    HRESULT h = Catalog(
        [&](SQLHSTMT s) {
          return SQLStatistics(s, Ptr(cat), Len(cat), Ptr(sch), Len(sch), Ptr(tab), Len(tab),
                               SQL_INDEX_ALL, SQL_QUICK);
        },
        got, errors);
    if (hr::Failed(h)) return h;
    // 1 TABLE_CAT 2 TABLE_SCHEM 3 TABLE_NAME 4 NON_UNIQUE 5 INDEX_QUALIFIER 6 INDEX_NAME 7 TYPE
    // 8 ORDINAL_POSITION 9 COLUMN_NAME 10 ASC_OR_DESC 11 CARDINALITY 12 PAGES 13 FILTER_CONDITION
    for (auto& g : got) {
      g.resize(13);
      const auto odbcType = AsNumber(g[6]).value_or(SQL_INDEX_OTHER);
      if (odbcType == SQL_TABLE_STAT) continue;  // table statistics, not an index
      std::uint16_t type = oledb::DBPROPVAL_IT_OTHER;
      if (odbcType == SQL_INDEX_CLUSTERED) type = oledb::DBPROPVAL_IT_BTREE;
      if (odbcType == SQL_INDEX_HASHED) type = oledb::DBPROPVAL_IT_HASH;
      if (!Matches(r.At(restriction::kIndexName), g[5])) continue;
      if (r.At(restriction::kIndexType) && *r.At(restriction::kIndexType) != Num(type)) continue;
      Value collation;
      if (g[9] && *g[9] == "A") collation = Num(oledb::DB_COLLATION_ASC);
      if (g[9] && *g[9] == "D") collation = Num(oledb::DB_COLLATION_DESC);
      const bool primary = g[5] && primaryKeys.count(*g[5]) > 0;
      rows.push_back({
          g[0],
          g[1],
          g[2],
          g[4],                                   // INDEX_CATALOG (the qualifier)
          std::nullopt,                           // INDEX_SCHEMA
          g[5],                                   // INDEX_NAME
          Bool(primary),                          // PRIMARY_KEY
          Bool(AsNumber(g[3]).value_or(1) == 0),  // UNIQUE
          Bool(odbcType == SQL_INDEX_CLUSTERED),  // CLUSTERED
          Num(type),                              // TYPE
          std::nullopt,
          std::nullopt,
          std::nullopt,  // FILL_FACTOR, INITIAL_SIZE, NULLS
          Bool(false),
          Bool(true),    // SORT_BOOKMARKS, AUTO_UPDATE
          std::nullopt,  // NULL_COLLATION
          g[7],          // ORDINAL_POSITION
          g[8],          // COLUMN_NAME
          std::nullopt,
          std::nullopt,  // COLUMN_GUID, COLUMN_PROPID
          collation,     // COLLATION
          g[10],
          g[11],
          g[12],        // CARDINALITY, PAGES, FILTER_CONDITION
          Bool(false),  // INTEGRATED
      });
    }
    return hr::S_OK;
  }

  Connection& conn_;
};

// ---------------------------------------------------------------------------
// Data source.

// Seconds from the property, else from the environment, else `fallback`.
int Timeout(const PropertySet& init, DBPROPID id, const char* variable, int fallback) {
  if (auto v = init.FindI4(id)) return std::max(*v, 0);
  const char* text = std::getenv(variable);
  if (!text || !*text) return fallback;
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  return *end == '\0' && n >= 0 && n <= 86400 ? static_cast<int>(n) : fallback;
}

// The timeouts the MariaDB driver takes from its connection string, unless
// the string sets them: CONN_TIMEOUT bounds the login (the wait for the
// server's greeting included, which SQL_ATTR_LOGIN_TIMEOUT does not),
// READ_TIMEOUT and WRITE_TIMEOUT every later wait on the server.
std::string WithTimeouts(const std::string& text, int login, int read) {
  std::string added;
  const auto attrs = ParseConnectionString(text);
  const std::pair<const char*, int> keys[] = {
      {"CONN_TIMEOUT", login}, {"READ_TIMEOUT", read}, {"WRITE_TIMEOUT", read}};
  for (const auto& [key, seconds] : keys) {
    const bool set = std::any_of(attrs.begin(), attrs.end(), [&](const auto& a) {
      return oledb::EqualsNoCase(a.keyword, key);
    });
    if (!set && seconds > 0) added += std::string(key) + "=" + std::to_string(seconds) + ";";
  }
  return added;
}

class OdbcDataSource : public oledb::ProviderDataSource {
 public:
  HRESULT Initialize(const PropertySet& init, ErrorRecords& errors) override {
    if (std::string problem = InitValuesProblem(init); !problem.empty()) {
      errors.push_back(ProviderError(hr::DB_E_BADINITSTRING, std::move(problem)));
      return hr::DB_E_BADINITSTRING;
    }
    auto conn = std::make_unique<Connection>();
    if (!SqlOk(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &conn->env))) {
      conn->env = SQL_NULL_HENV;
      errors.push_back(ProviderError(hr::E_FAIL, "The ODBC driver manager could not be started."));
      return hr::E_FAIL;
    }
    SQLSetEnvAttr(conn->env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!SqlOk(SQLAllocHandle(SQL_HANDLE_DBC, conn->env, &conn->dbc))) {
      conn->dbc = SQL_NULL_HDBC;
      return Diagnose(SQL_HANDLE_ENV, conn->env, errors);
    }
    const int loginTimeout =
        Timeout(init, oledb::DBPROP_INIT_TIMEOUT, "MIGRATOR_LOGIN_TIMEOUT", kDefaultLoginTimeout);
    const int readTimeout = Timeout(init, oledb::DBPROP_INIT_GENERALTIMEOUT,
                                    "MIGRATOR_READ_TIMEOUT", kDefaultReadTimeout);
    if (loginTimeout > 0) {
      SQLSetConnectAttr(conn->dbc, SQL_ATTR_LOGIN_TIMEOUT,
                        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(loginTimeout)), 0);
    }

    std::string text = BuildConnectionString(init);
    text += WithTimeouts(text, loginTimeout, readTimeout);
    std::vector<SQLCHAR> completed(2048);
    SQLSMALLINT completedLength = 0;
    // Never prompt: there is nobody to answer a driver's dialog.
    SQLRETURN r = SQLDriverConnect(conn->dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                   static_cast<SQLSMALLINT>(text.size()), completed.data(),
                                   static_cast<SQLSMALLINT>(completed.size()), &completedLength,
                                   SQL_DRIVER_NOPROMPT);
    if (!SqlOk(r)) {
      HRESULT h = Diagnose(SQL_HANDLE_DBC, conn->dbc, errors);
      return h == hr::E_FAIL ? hr::DB_E_CANNOTCONNECT : h;
    }
    conn->connected = true;
    if (auto login = StreamLoginFor(BuildConnectionString(init), loginTimeout, readTimeout)) {
      conn->stream = std::make_unique<StreamPool>(std::move(*login));
    }

    if (auto catalog = init.FindText(oledb::DBPROP_INIT_CATALOG); catalog && !catalog->empty()) {
      std::string name = *catalog;
      r = SQLSetConnectAttr(conn->dbc, SQL_ATTR_CURRENT_CATALOG, name.data(), SQL_NTS);
      // A database that cannot be selected fails a required catalog; an
      // optional one is dropped and the connection stays on its default.
      const oledb::Property* p = init.Find(oledb::DBPROP_INIT_CATALOG);
      if (!SqlOk(r) && p->options == oledb::PropertyOptions::Required) {
        return Diagnose(SQL_HANDLE_DBC, conn->dbc, errors);
      }
    }

    // What does not change for the life of the connection is read once.
    ErrorRecords ignored;
    GetInfoText(conn->dbc, SQL_DBMS_NAME, conn->dbmsName, ignored);
    GetInfoText(conn->dbc, SQL_DBMS_VER, conn->dbmsVersion, ignored);
    GetInfoText(conn->dbc, SQL_DATA_SOURCE_NAME, conn->dataSourceName, ignored);
    conn_ = std::move(conn);
    return hr::S_OK;
  }

  HRESULT GetInfo(DBPROPID id, std::string& value, ErrorRecords& errors) override {
    switch (id) {
      case oledb::DBPROP_DBMSNAME:
        value = conn_->dbmsName;
        return hr::S_OK;
      case oledb::DBPROP_DBMSVER:
        value = conn_->dbmsVersion;
        return hr::S_OK;
      case oledb::DBPROP_DATASOURCENAME:
        value = conn_->dataSourceName;
        return hr::S_OK;
      case oledb::DBPROP_CURRENTCATALOG:
        return CurrentCatalog(conn_->dbc, value, errors);
      default:
        errors.push_back(ProviderError(hr::DB_E_ERRORSOCCURRED, "The property is not supported."));
        return hr::DB_E_ERRORSOCCURRED;
    }
  }

  HRESULT CreateSession(std::unique_ptr<ProviderSession>& session, ErrorRecords&) override {
    session = std::make_unique<OdbcSession>(*conn_);
    return hr::S_OK;
  }

 private:
  std::unique_ptr<Connection> conn_;
};

}  // namespace

std::unique_ptr<oledb::ProviderDataSource> CreateDataSource() {
  return std::make_unique<OdbcDataSource>();
}

}  // namespace migrator::providers::odbc
