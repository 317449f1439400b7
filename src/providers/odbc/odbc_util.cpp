#include "providers/odbc/odbc_util.h"

#include <algorithm>
#include <cstring>

#include "providers/odbc/odbc_provider.h"

namespace migrator::providers::odbc {

namespace {

// The length an ODBC call reported, within the buffer less its NUL.
template <class N>
std::size_t Clamp(N length, std::size_t bufferSize) {
  if (length <= 0) return 0;
  return std::min(static_cast<std::size_t>(length), bufferSize - 1);
}

// Text a driver gave as bytes, as UTF-8 (anything else replaced).
std::string Text(const SQLCHAR* data, std::size_t length) {
  std::string out;
  AppendValidUtf8(std::string_view(reinterpret_cast<const char*>(data), length), out);
  return out;
}

}  // namespace

oledb::ErrorRecord ProviderError(HRESULT code, std::string description) {
  oledb::ErrorRecord r;
  r.hr = code;
  r.description = std::move(description);
  r.source = kProviderName;
  return r;
}

HRESULT HResultForState(std::string_view state) {
  if (state.starts_with("28")) return hr::DB_SEC_E_AUTH_FAILED;
  if (state.starts_with("42") || state.starts_with("37")) return hr::DB_E_ERRORSINCOMMAND;
  if (state.starts_with("23")) return hr::DB_E_INTEGRITYVIOLATION;
  if (state == "08001" || state == "08004" || state == "08S01") return hr::DB_E_CANNOTCONNECT;
  if (state == "HYT00" || state == "HYT01") return hr::DB_E_TIMEOUT;
  if (state == "HY001") return hr::E_OUTOFMEMORY;
  return hr::E_FAIL;
}

HRESULT Diagnose(SQLSMALLINT handleType, SQLHANDLE handle, oledb::ErrorRecords& errors) {
  HRESULT first = hr::E_FAIL;
  bool any = false;
  std::vector<SQLCHAR> message(1024);
  for (SQLSMALLINT i = 1; i < 64; ++i) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN r = SQLGetDiagRec(handleType, handle, i, state, &native, message.data(),
                                static_cast<SQLSMALLINT>(message.size()), &length);
    if (r == SQL_SUCCESS_WITH_INFO && static_cast<std::size_t>(length) >= message.size()) {
      message.resize(static_cast<std::size_t>(length) + 1);
      r = SQLGetDiagRec(handleType, handle, i, state, &native, message.data(),
                        static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!SqlOk(r)) break;
    oledb::ErrorRecord rec;
    rec.sqlState = Text(state, std::strlen(reinterpret_cast<const char*>(state)));
    rec.description = Text(message.data(), Clamp(length, message.size()));
    rec.nativeError = native;
    rec.source = kProviderName;
    rec.hr = HResultForState(rec.sqlState);
    if (!any) first = rec.hr;
    any = true;
    errors.push_back(std::move(rec));
  }
  if (!any)
    errors.push_back(ProviderError(hr::E_FAIL, "The ODBC call failed without a diagnostic."));
  return first;
}

HRESULT Statement::Allocate(SQLHDBC dbc, oledb::ErrorRecords& errors) {
  Free();
  if (!SqlOk(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h_))) {
    h_ = SQL_NULL_HSTMT;
    return Diagnose(SQL_HANDLE_DBC, dbc, errors);
  }
  return hr::S_OK;
}

HRESULT GetInfoText(SQLHDBC dbc, SQLUSMALLINT item, std::string& value,
                    oledb::ErrorRecords& errors) {
  std::vector<SQLCHAR> buffer(512);
  SQLSMALLINT length = 0;
  SQLRETURN r =
      SQLGetInfo(dbc, item, buffer.data(), static_cast<SQLSMALLINT>(buffer.size()), &length);
  if (r == SQL_SUCCESS_WITH_INFO && static_cast<std::size_t>(length) >= buffer.size()) {
    buffer.resize(static_cast<std::size_t>(length) + 1);
    r = SQLGetInfo(dbc, item, buffer.data(), static_cast<SQLSMALLINT>(buffer.size()), &length);
  }
  if (!SqlOk(r)) return Diagnose(SQL_HANDLE_DBC, dbc, errors);
  value = Text(buffer.data(), Clamp(length, buffer.size()));
  return hr::S_OK;
}

HRESULT CurrentCatalog(SQLHDBC dbc, std::string& value, oledb::ErrorRecords& errors) {
  std::vector<SQLCHAR> buffer(512);
  SQLINTEGER length = 0;
  SQLRETURN r = SQLGetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, buffer.data(),
                                  static_cast<SQLINTEGER>(buffer.size()), &length);
  if (r == SQL_SUCCESS_WITH_INFO && static_cast<std::size_t>(length) >= buffer.size()) {
    buffer.resize(static_cast<std::size_t>(length) + 1);
    r = SQLGetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, buffer.data(),
                          static_cast<SQLINTEGER>(buffer.size()), &length);
  }
  if (r == SQL_NO_DATA) {  // no current catalog
    value.clear();
    return hr::S_OK;
  }
  if (!SqlOk(r)) return Diagnose(SQL_HANDLE_DBC, dbc, errors);
  // Some drivers count the length badly; the text ends at its NUL anyway.
  std::size_t bytes = Clamp(length, buffer.size());
  const auto nul = std::find(buffer.begin(), buffer.begin() + static_cast<long>(bytes), 0);
  bytes = static_cast<std::size_t>(nul - buffer.begin());
  value = Text(buffer.data(), bytes);
  return hr::S_OK;
}

TypeInfo MapSqlType(SQLSMALLINT sqlType, bool isUnsigned) {
  using namespace oledb;
  TypeInfo t;
  switch (sqlType) {
    case SQL_CHAR:
      t.dbType = DBTYPE_STR, t.isText = true, t.isFixed = true;
      break;
    case SQL_VARCHAR:
      t.dbType = DBTYPE_STR, t.isText = true;
      break;
    case SQL_LONGVARCHAR:
      t.dbType = DBTYPE_STR, t.isText = true, t.isLong = true;
      break;
    case SQL_WCHAR:
      t.dbType = DBTYPE_WSTR, t.isText = true, t.isFixed = true;
      break;
    case SQL_WVARCHAR:
      t.dbType = DBTYPE_WSTR, t.isText = true;
      break;
    case SQL_WLONGVARCHAR:
      t.dbType = DBTYPE_WSTR, t.isText = true, t.isLong = true;
      break;
    case SQL_BINARY:
      t.dbType = DBTYPE_BYTES, t.isBinary = true, t.isFixed = true;
      break;
    case SQL_VARBINARY:
      t.dbType = DBTYPE_BYTES, t.isBinary = true;
      break;
    case SQL_LONGVARBINARY:
      t.dbType = DBTYPE_BYTES, t.isBinary = true, t.isLong = true;
      break;
    case SQL_BIT:
      t.dbType = DBTYPE_BOOL, t.isFixed = true;
      break;
    case SQL_TINYINT:
      t.dbType = isUnsigned ? DBTYPE_UI1 : DBTYPE_I1, t.isNumeric = true, t.isFixed = true;
      break;
    case SQL_SMALLINT:
      t.dbType = isUnsigned ? DBTYPE_UI2 : DBTYPE_I2, t.isNumeric = true, t.isFixed = true;
      break;
    case SQL_INTEGER:
      t.dbType = isUnsigned ? DBTYPE_UI4 : DBTYPE_I4, t.isNumeric = true, t.isFixed = true;
      break;
    case SQL_BIGINT:
      t.dbType = isUnsigned ? DBTYPE_UI8 : DBTYPE_I8, t.isNumeric = true, t.isFixed = true;
      break;
    case SQL_REAL:
      t.dbType = DBTYPE_R4, t.isNumeric = true, t.isFixed = true;
      break;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      t.dbType = DBTYPE_R8, t.isNumeric = true, t.isFixed = true;
      break;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      t.dbType = DBTYPE_NUMERIC, t.isNumeric = true, t.isFixed = true;
      break;
    case SQL_TYPE_DATE:
    case SQL_DATE:
      t.dbType = DBTYPE_DBDATE, t.isDatetime = true, t.isFixed = true;
      break;
    case SQL_TYPE_TIME:
    case SQL_TIME:
      t.dbType = DBTYPE_DBTIME, t.isDatetime = true, t.isFixed = true;
      break;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      t.dbType = DBTYPE_DBTIMESTAMP, t.isDatetime = true, t.isFixed = true;
      break;
    case SQL_GUID:
      t.dbType = DBTYPE_GUID, t.isFixed = true;
      break;
    default:
      t.dbType = DBTYPE_WSTR, t.isText = true;
      break;
  }
  return t;
}

oledb::DBCOLUMNFLAGS ColumnFlags(const TypeInfo& type, bool nullable) {
  using namespace oledb;
  DBCOLUMNFLAGS flags = DBCOLUMNFLAGS_WRITEUNKNOWN;
  if (nullable) flags |= DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL;
  if (type.isFixed) flags |= DBCOLUMNFLAGS_ISFIXEDLENGTH;
  if (type.isLong) flags |= DBCOLUMNFLAGS_ISLONG | DBCOLUMNFLAGS_MAYDEFER;
  return flags;
}

namespace {

// One column's description, its name decoded from the result character set.
SQLRETURN DescribeColumn(SQLHSTMT stmt, SQLUSMALLINT column, TextDecoder* decoder,
                         std::string& name, SQLSMALLINT& sqlType, SQLULEN& size,
                         SQLSMALLINT& digits, SQLSMALLINT& nullable) {
  std::vector<SQLCHAR> buffer(256);
  SQLSMALLINT length = 0;
  SQLRETURN r = SQLDescribeCol(stmt, column, buffer.data(), static_cast<SQLSMALLINT>(buffer.size()),
                               &length, &sqlType, &size, &digits, &nullable);
  if (r == SQL_SUCCESS_WITH_INFO && static_cast<std::size_t>(length) >= buffer.size()) {
    buffer.resize(static_cast<std::size_t>(length) + 1);
    r = SQLDescribeCol(stmt, column, buffer.data(), static_cast<SQLSMALLINT>(buffer.size()),
                       &length, &sqlType, &size, &digits, &nullable);
  }
  if (!SqlOk(r)) return r;
  const std::size_t bytes = Clamp(length, buffer.size());
  DecodeText(decoder, std::string_view(reinterpret_cast<const char*>(buffer.data()), bytes), name);
  return r;
}

}  // namespace

HRESULT DescribeColumns(SQLHSTMT stmt, TextDecoder* decoder,
                        std::vector<oledb::ColumnInfo>& columns, oledb::ErrorRecords& errors) {
  SQLSMALLINT count = 0;
  if (!SqlOk(SQLNumResultCols(stmt, &count))) return Diagnose(SQL_HANDLE_STMT, stmt, errors);
  columns.clear();
  columns.reserve(static_cast<std::size_t>(std::max<SQLSMALLINT>(count, 0)));
  for (SQLSMALLINT i = 1; i <= count; ++i) {
    SQLSMALLINT sqlType = 0, digits = 0, nullable = SQL_NULLABLE_UNKNOWN;
    SQLULEN size = 0;
    oledb::ColumnInfo c;
    const SQLRETURN r = DescribeColumn(stmt, static_cast<SQLUSMALLINT>(i), decoder, c.name, sqlType,
                                       size, digits, nullable);
    if (!SqlOk(r)) return Diagnose(SQL_HANDLE_STMT, stmt, errors);
    SQLLEN isUnsigned = SQL_FALSE;
    SQLColAttribute(stmt, static_cast<SQLUSMALLINT>(i), SQL_DESC_UNSIGNED, nullptr, 0, nullptr,
                    &isUnsigned);
    const TypeInfo type = MapSqlType(sqlType, isUnsigned == SQL_TRUE);
    c.ordinal = static_cast<oledb::DBORDINAL>(i);
    c.type = type.dbType;
    c.flags = ColumnFlags(type, nullable != SQL_NO_NULLS);
    c.size = static_cast<std::size_t>(size);
    if (type.isNumeric) {
      c.precision = static_cast<std::uint8_t>(std::min<SQLULEN>(size, 255));
      c.scale = static_cast<std::uint8_t>(std::clamp<SQLSMALLINT>(digits, 0, 255));
    }
    columns.push_back(std::move(c));
  }
  return hr::S_OK;
}

SQLRETURN ReadRawValue(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType,
                       std::vector<char>& buffer, std::size_t& length, bool& isNull) {
  length = 0;
  isNull = false;
  if (buffer.size() < 16384) buffer.resize(16384);
  // SQL_C_CHAR parts end in a NUL that is not part of the value.
  const std::size_t terminator = cType == SQL_C_CHAR ? 1 : 0;
  for (;;) {
    const std::size_t room = buffer.size() - length - terminator;  // value bytes that fit
    SQLLEN indicator = 0;
    const SQLRETURN r = SQLGetData(stmt, column, cType, buffer.data() + length,
                                   static_cast<SQLLEN>(buffer.size() - length), &indicator);
    if (r == SQL_NO_DATA) break;  // the previous part was the last
    if (!SqlOk(r)) return r;
    if (indicator == SQL_NULL_DATA) {
      isNull = true;
      return SQL_SUCCESS;
    }
    if (indicator != SQL_NO_TOTAL && static_cast<std::size_t>(indicator) <= room) {
      length += static_cast<std::size_t>(indicator);
      break;  // the rest fitted
    }
    // Cut at the buffer: this part filled it. Take it and make room for the rest.
    length += room;
    std::size_t wanted = buffer.size() * 2;
    if (indicator != SQL_NO_TOTAL) {
      wanted = std::max(wanted, length + static_cast<std::size_t>(indicator) - room + terminator);
    }
    buffer.resize(wanted);
  }
  return SQL_SUCCESS;
}

void AppendHex(std::string_view bytes, std::string& out) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out.reserve(out.size() + bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
}

void DecodeText(TextDecoder* decoder, std::string_view bytes, std::string& out) {
  out.clear();
  if (decoder) {
    decoder->Append(bytes, out);
  } else {
    AppendValidUtf8(bytes, out);
  }
}

HRESULT ValueReader::Bind(std::span<const oledb::DBORDINAL> ordinals,
                          const std::vector<oledb::ColumnInfo>& columns,
                          oledb::ErrorRecords& errors) {
  std::vector<oledb::DBORDINAL> order(ordinals.begin(), ordinals.end());
  for (auto o : order) {
    if (o < 1 || o > columns.size()) {
      errors.push_back(ProviderError(hr::DB_E_BADORDINAL,
                                     "The rowset has no column " + std::to_string(o) + "."));
      return hr::DB_E_BADORDINAL;
    }
  }
  std::sort(order.begin(), order.end());
  order.erase(std::unique(order.begin(), order.end()), order.end());
  std::vector<std::vector<std::size_t>> slotsOf(order.size());
  for (std::size_t slot = 0; slot < ordinals.size(); ++slot) {
    const auto pos = std::lower_bound(order.begin(), order.end(), ordinals[slot]) - order.begin();
    slotsOf[static_cast<std::size_t>(pos)].push_back(slot);
  }
  std::vector<bool> binary(order.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    binary[i] = columns[order[i] - 1].type == oledb::DBTYPE_BYTES;
  }
  order_ = std::move(order);
  binary_ = std::move(binary);
  slotsOf_ = std::move(slotsOf);
  slots_ = ordinals.size();
  return hr::S_OK;
}

HRESULT ValueReader::Read(SQLHSTMT stmt, oledb::TextRow& row, oledb::ErrorRecords& errors) {
  row.Resize(slots_);
  std::size_t failed = 0;
  // SQLGetData goes through the columns in ascending order; each is read once.
  for (std::size_t i = 0; i < order_.size(); ++i) {
    const auto& slots = slotsOf_[i];
    const std::size_t first = slots.front();
    std::string& value = row.values[first];
    bool isNull = false;
    std::size_t length = 0;
    const SQLRETURN r =
        ReadRawValue(stmt, static_cast<SQLUSMALLINT>(order_[i]),
                     binary_[i] ? SQL_C_BINARY : SQL_C_CHAR, scratch_, length, isNull);
    if (!SqlOk(r)) {
      Diagnose(SQL_HANDLE_STMT, stmt, errors);
      value.clear();
      row.status[first] = oledb::DBSTATUS_E_CANTCONVERTVALUE;
      ++failed;
    } else if (isNull) {
      row.SetNull(first);
    } else {
      const std::string_view bytes(scratch_.data(), length);
      if (binary_[i]) {
        value.clear();
        AppendHex(bytes, value);
      } else {
        DecodeText(decoder_.get(), bytes, value);
      }
      row.status[first] = oledb::DBSTATUS_S_OK;
    }
    for (std::size_t k = 1; k < slots.size(); ++k) {
      row.values[slots[k]] = row.values[first];
      row.status[slots[k]] = row.status[first];
    }
  }
  if (failed == 0) return hr::S_OK;
  return failed == order_.size() ? hr::DB_E_ERRORSOCCURRED : hr::DB_S_ERRORSOCCURRED;
}

HRESULT FetchAll(SQLHSTMT stmt, TextDecoder* decoder,
                 std::vector<std::vector<std::optional<std::string>>>& rows,
                 oledb::ErrorRecords& errors) {
  SQLSMALLINT count = 0;
  if (!SqlOk(SQLNumResultCols(stmt, &count))) return Diagnose(SQL_HANDLE_STMT, stmt, errors);
  std::vector<char> scratch;
  for (;;) {
    const SQLRETURN f = SQLFetch(stmt);
    if (f == SQL_NO_DATA) break;
    if (!SqlOk(f)) return Diagnose(SQL_HANDLE_STMT, stmt, errors);
    std::vector<std::optional<std::string>> row(
        static_cast<std::size_t>(std::max<SQLSMALLINT>(count, 0)));
    for (SQLSMALLINT c = 1; c <= count; ++c) {
      std::size_t length = 0;
      bool isNull = false;
      const SQLRETURN r =
          ReadRawValue(stmt, static_cast<SQLUSMALLINT>(c), SQL_C_CHAR, scratch, length, isNull);
      if (!SqlOk(r)) return Diagnose(SQL_HANDLE_STMT, stmt, errors);
      if (isNull) continue;
      std::string text;
      DecodeText(decoder, std::string_view(scratch.data(), length), text);
      row[static_cast<std::size_t>(c - 1)] = std::move(text);
    }
    rows.push_back(std::move(row));
  }
  return hr::S_OK;
}

}  // namespace migrator::providers::odbc
