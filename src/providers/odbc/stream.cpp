#include "providers/odbc/stream.h"

#include <mysql.h>
#include <odbcinst.h>
#include <sys/socket.h>

#include <algorithm>
#include <vector>

#include "oledb/text.h"
#include "platform/text.h"
#include "providers/odbc/connection_string.h"
#include "providers/odbc/odbc_provider.h"
#include "providers/odbc/odbc_util.h"

namespace migrator::providers::odbc {
namespace {

using oledb::ErrorRecords;

// The attributes of a data source name in odbc.ini, in file order.
std::vector<ConnectionAttribute> DsnAttributes(const std::string& dsn) {
  std::vector<ConnectionAttribute> out;
  std::vector<char> keys(4096);
  const int n = SQLGetPrivateProfileString(dsn.c_str(), nullptr, "", keys.data(),
                                           static_cast<int>(keys.size()), "odbc.ini");
  for (int i = 0; i < n && keys[static_cast<std::size_t>(i)] != '\0';) {
    const std::string key(&keys[static_cast<std::size_t>(i)]);
    i += static_cast<int>(key.size()) + 1;
    std::vector<char> value(4096);
    SQLGetPrivateProfileString(dsn.c_str(), key.c_str(), "", value.data(),
                               static_cast<int>(value.size()), "odbc.ini");
    out.push_back({key, value.data()});
  }
  return out;
}

bool Number(const std::string& text, int& out) {
  if (text.empty() || text.size() > 9) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  out = v;
  return true;
}

oledb::ErrorRecord ClientError(MYSQL* m) {
  oledb::ErrorRecord r;
  r.sqlState = mysql_sqlstate(m);
  r.nativeError = static_cast<std::int32_t>(mysql_errno(m));
  r.description = mysql_error(m);
  if (r.nativeError == 2013) {  // CR_SERVER_LOST: the server went away or went quiet
    r.description +=
        " (the server closed the connection or sent nothing within the read "
        "timeout)";
  }
  r.source = kProviderName;
  r.hr = HResultForState(r.sqlState);
  return r;
}

// "'text'" for a settings value; none for one that would need escaping.
std::optional<std::string> Quoted(const std::string& v) {
  if (v.find_first_of("'\\") != std::string::npos) return std::nullopt;
  return "'" + v + "'";
}

// How a field appears in OLE DB, as the driver reports the same column.
SQLSMALLINT SqlTypeOf(const MYSQL_FIELD& f) {
  const bool binary = f.charsetnr == 63;
  switch (f.type) {
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL:
      return SQL_DECIMAL;
    case MYSQL_TYPE_TINY:
      return SQL_TINYINT;
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_YEAR:
      return SQL_SMALLINT;
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_INT24:
      return SQL_INTEGER;
    case MYSQL_TYPE_LONGLONG:
      return SQL_BIGINT;
    case MYSQL_TYPE_FLOAT:
      return SQL_REAL;
    case MYSQL_TYPE_DOUBLE:
      return SQL_DOUBLE;
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_DATETIME:
      return SQL_TYPE_TIMESTAMP;
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE:
      return SQL_TYPE_DATE;
    case MYSQL_TYPE_TIME:
      return SQL_TYPE_TIME;
    case MYSQL_TYPE_BIT:
      return f.length == 1 ? SQL_BIT : SQL_BINARY;
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB:
    case MYSQL_TYPE_GEOMETRY:
      return binary ? SQL_LONGVARBINARY : SQL_WLONGVARCHAR;
    case MYSQL_TYPE_STRING:
      return binary ? SQL_BINARY : SQL_WCHAR;
    default:
      return binary ? SQL_VARBINARY : SQL_WVARCHAR;
  }
}

}  // namespace

std::optional<StreamLogin> StreamLoginFor(std::string_view connectionString, int loginTimeout,
                                          int readTimeout) {
  std::vector<ConnectionAttribute> attrs = ParseConnectionString(connectionString);
  for (const auto& a : attrs) {
    if (oledb::EqualsNoCase(a.keyword, "DSN")) {
      auto fromFile = DsnAttributes(a.value);
      if (fromFile.empty()) return std::nullopt;
      attrs.insert(attrs.begin(), fromFile.begin(), fromFile.end());
      break;
    }
  }
  StreamLogin login;
  login.connectTimeout = loginTimeout;
  login.readTimeout = login.writeTimeout = readTimeout;
  for (const auto& a : attrs) {  // later attributes win
    const std::string key = ToLowerAscii(a.keyword);
    const std::string& v = a.value;
    int number = 0;
    if (key == "server" || key == "servername") {
      if (!v.empty()) login.host = v;
    } else if (key == "uid" || key == "user") {
      login.user = v;
    } else if (key == "pwd" || key == "password") {
      login.password = v;
    } else if (key == "database" || key == "db") {
      login.database = v;
    } else if (key == "socket") {
      login.socket = v;
    } else if (key == "charset") {
      login.charset = v;
    } else if (key == "port") {
      if (!v.empty() && (!Number(v, number) || number > 65535)) return std::nullopt;
      if (!v.empty()) login.port = static_cast<unsigned>(number);
    } else if (key == "tcpip") {
      login.tcp = v == "1";
    } else if (key == "conn_timeout" || key == "read_timeout" || key == "write_timeout") {
      if (!Number(v, number)) return std::nullopt;
      (key == "conn_timeout"   ? login.connectTimeout
       : key == "read_timeout" ? login.readTimeout
                               : login.writeTimeout) = number;
    } else if (key == "option" || key == "options") {
      if (!v.empty() && v != "0") return std::nullopt;  // driver flags
    } else if (key != "driver" && key != "dsn" && key != "description" && key != "no_prompt" &&
               key != "forwardonly" && key != "trace" && key != "tracefile") {
      return std::nullopt;  // an attribute a streamed connection could not honour
    }
  }
  return login;
}

// ---------------------------------------------------------------------------

class StreamConnection {
 public:
  explicit StreamConnection(MYSQL* m) : m_(m) {}
  ~StreamConnection() { mysql_close(m_); }
  StreamConnection(const StreamConnection&) = delete;
  StreamConnection& operator=(const StreamConnection&) = delete;

  static std::unique_ptr<StreamConnection> Open(const StreamLogin& login) {
    MYSQL* m = mysql_init(nullptr);
    if (!m) return nullptr;
    auto seconds = [](int s) { return static_cast<unsigned>(std::max(s, 0)); };
    const unsigned connect = seconds(login.connectTimeout), read = seconds(login.readTimeout),
                   write = seconds(login.writeTimeout);
    if (connect) mysql_optionsv(m, MYSQL_OPT_CONNECT_TIMEOUT, &connect);
    if (read) mysql_optionsv(m, MYSQL_OPT_READ_TIMEOUT, &read);
    if (write) mysql_optionsv(m, MYSQL_OPT_WRITE_TIMEOUT, &write);
    if (login.tcp) {
      const unsigned tcp = MYSQL_PROTOCOL_TCP;
      mysql_optionsv(m, MYSQL_OPT_PROTOCOL, &tcp);
    }
    mysql_optionsv(m, MYSQL_SET_CHARSET_NAME,
                   login.charset.empty() ? "utf8mb4" : login.charset.c_str());
    if (!mysql_real_connect(m, login.host.c_str(), login.user.c_str(), login.password.c_str(),
                            login.database.empty() ? nullptr : login.database.c_str(), login.port,
                            login.socket.empty() ? nullptr : login.socket.c_str(),
                            CLIENT_MULTI_RESULTS)) {
      mysql_close(m);
      return nullptr;
    }
    return std::make_unique<StreamConnection>(m);
  }

  // Copies the session's settings; false when they could not be copied.
  bool Follow(const SessionSettings& s) {
    if (applied_ && *applied_ == s) return true;
    if (s.database != (applied_ ? applied_->database : std::string())) {
      if (s.database.empty()) return false;  // a database cannot be left again
      if (mysql_select_db(m_, s.database.c_str()) != 0) return false;
    }
    const auto client = Quoted(s.client), results = Quoted(s.results),
               collation = Quoted(s.collation), zone = Quoted(s.timeZone), mode = Quoted(s.sqlMode);
    if (!client || !results || !collation || !zone || !mode) return false;
    const std::string set = "SET character_set_client=" + *client +
                            ", character_set_results=" + (s.resultsNull ? "NULL" : *results) +
                            ", collation_connection=" + *collation + ", time_zone=" + *zone +
                            ", sql_mode=" + *mode;
    if (mysql_real_query(m_, set.data(), set.size()) != 0) return false;
    applied_ = s;
    return true;
  }

  MYSQL* get() const { return m_; }

  // Cuts the connection so that an unfinished result is not read to its end.
  void Abandon() { ::shutdown(mysql_get_socket(m_), SHUT_RDWR); }

 private:
  MYSQL* m_;
  std::optional<SessionSettings> applied_;
};

// ---------------------------------------------------------------------------

namespace {

class StreamRowset : public oledb::ProviderRowset {
 public:
  StreamRowset(StreamPool& pool, std::unique_ptr<StreamConnection> connection, MYSQL_RES* result,
               std::shared_ptr<TextDecoder> decoder)
      : pool_(pool),
        connection_(std::move(connection)),
        result_(result),
        decoder_(std::move(decoder)) {
    const unsigned n = mysql_num_fields(result_);
    const MYSQL_FIELD* fields = mysql_fetch_fields(result_);
    for (unsigned i = 0; i < n; ++i) {
      const MYSQL_FIELD& f = fields[i];
      const SQLSMALLINT sqlType = SqlTypeOf(f);
      const TypeInfo type = MapSqlType(sqlType, (f.flags & UNSIGNED_FLAG) != 0);
      oledb::ColumnInfo c;
      DecodeText(decoder_.get(), std::string_view(f.name, f.name_length), c.name);
      c.ordinal = i + 1;
      c.type = type.dbType;
      c.flags = ColumnFlags(type, (f.flags & NOT_NULL_FLAG) == 0);
      c.size = f.length;
      if (type.isNumeric) {
        c.precision = static_cast<std::uint8_t>(std::min<unsigned long>(f.length, 255));
        c.scale = static_cast<std::uint8_t>(std::min(f.decimals, 255u));
      }
      columns_.push_back(std::move(c));
      kinds_.push_back(sqlType == SQL_BIT ? Kind::Bit : type.isBinary ? Kind::Binary : Kind::Text);
    }
  }

  ~StreamRowset() override {
    if (!finished_) connection_->Abandon();
    mysql_free_result(result_);
    if (finished_) pool_.Return(std::move(connection_));
  }

  bool OwnConnection() const override { return true; }

  HRESULT GetColumnInfo(std::vector<oledb::ColumnInfo>& columns, ErrorRecords&) override {
    columns = columns_;
    return hr::S_OK;
  }

  HRESULT CreateAccessor(std::span<const oledb::DBORDINAL> ordinals,
                         ErrorRecords& errors) override {
    for (auto o : ordinals) {
      if (o < 1 || o > columns_.size()) {
        errors.push_back(ProviderError(hr::DB_E_BADORDINAL,
                                       "The rowset has no column " + std::to_string(o) + "."));
        return hr::DB_E_BADORDINAL;
      }
    }
    ordinals_.assign(ordinals.begin(), ordinals.end());
    return hr::S_OK;
  }

  HRESULT GetNextRow(ErrorRecords& errors) override {
    row_ = finished_ ? nullptr : mysql_fetch_row(result_);
    if (row_) {
      lengths_ = mysql_fetch_lengths(result_);
      return hr::S_OK;
    }
    if (!finished_ && mysql_errno(connection_->get()) != 0) {
      errors.push_back(ClientError(connection_->get()));
      return errors.back().hr == hr::E_FAIL ? hr::DB_E_ERRORSOCCURRED : errors.back().hr;
    }
    finished_ = true;
    return hr::DB_S_ENDOFROWSET;
  }

  HRESULT GetData(oledb::TextRow& row, ErrorRecords& errors) override {
    if (!row_) {
      errors.push_back(ProviderError(hr::DB_E_BADROWHANDLE, "There is no current row."));
      return hr::DB_E_BADROWHANDLE;
    }
    row.Resize(ordinals_.size());
    for (std::size_t slot = 0; slot < ordinals_.size(); ++slot) {
      const std::size_t i = ordinals_[slot] - 1;
      if (!row_[i]) {
        row.SetNull(slot);
        continue;
      }
      const std::string_view bytes(row_[i], lengths_[i]);
      std::string& value = row.values[slot];
      row.status[slot] = oledb::DBSTATUS_S_OK;
      switch (kinds_[i]) {
        case Kind::Bit:
          value = bytes.empty() || bytes.back() == '\0' ? "0" : "1";
          break;
        case Kind::Binary:
          value.clear();
          AppendHex(bytes, value);
          break;
        case Kind::Text:
          DecodeText(decoder_.get(), bytes, value);
          break;
      }
    }
    return hr::S_OK;
  }

 private:
  enum class Kind { Text, Binary, Bit };
  StreamPool& pool_;
  std::unique_ptr<StreamConnection> connection_;
  MYSQL_RES* result_;
  std::shared_ptr<TextDecoder> decoder_;
  std::vector<oledb::ColumnInfo> columns_;
  std::vector<Kind> kinds_;
  std::vector<oledb::DBORDINAL> ordinals_;
  MYSQL_ROW row_ = nullptr;
  unsigned long* lengths_ = nullptr;
  bool finished_ = false;
};

}  // namespace

StreamPool::StreamPool(StreamLogin login) : login_(std::move(login)) {}
StreamPool::~StreamPool() = default;

std::unique_ptr<StreamConnection> StreamPool::Take(const SessionSettings& settings) {
  std::unique_ptr<StreamConnection> c;
  {
    std::lock_guard lock(lock_);
    c = std::move(idle_);
  }
  if (c && c->Follow(settings)) return c;
  c = StreamConnection::Open(login_);
  if (c && c->Follow(settings)) return c;
  return nullptr;
}

void StreamPool::Return(std::unique_ptr<StreamConnection> connection) {
  std::lock_guard lock(lock_);
  idle_ = std::move(connection);
}

HRESULT StreamPool::Execute(const std::string& statement, const SessionSettings& settings,
                            std::shared_ptr<TextDecoder> decoder,
                            std::unique_ptr<oledb::ProviderRowset>& rowset, ErrorRecords& errors,
                            bool& usable) {
  usable = false;
  std::unique_ptr<StreamConnection> c = Take(settings);
  if (!c) return hr::S_OK;
  usable = true;
  if (mysql_real_query(c->get(), statement.data(), statement.size()) != 0) {
    errors.push_back(ClientError(c->get()));
    const HRESULT h = errors.back().hr;
    // A connection that failed on its own (not over the statement) is not kept.
    if (mysql_errno(c->get()) < 2000) Return(std::move(c));
    return h == hr::E_FAIL ? hr::DB_E_ERRORSINCOMMAND : h;
  }
  MYSQL_RES* result = mysql_use_result(c->get());
  if (!result) {
    if (mysql_field_count(c->get()) != 0) {
      errors.push_back(ClientError(c->get()));
      return errors.back().hr;
    }
    Return(std::move(c));
    return hr::S_OK;
  }
  rowset = std::make_unique<StreamRowset>(*this, std::move(c), result, std::move(decoder));
  return hr::S_OK;
}

}  // namespace migrator::providers::odbc
