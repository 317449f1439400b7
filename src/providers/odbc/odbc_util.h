#pragma once
// Helpers of the ODBC provider: statement handles, diagnostics, type mapping
// and reading values whole as text.

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "oledb/errors.h"
#include "oledb/types.h"
#include "providers/odbc/charset.h"

namespace migrator::providers::odbc {

inline bool SqlOk(SQLRETURN r) {
  return r == SQL_SUCCESS || r == SQL_SUCCESS_WITH_INFO;
}

// A record made by the provider itself.
oledb::ErrorRecord ProviderError(HRESULT code, std::string description);

// The HRESULT that goes with an SQLSTATE.
HRESULT HResultForState(std::string_view sqlState);

// Appends every diagnostic record of the handle to `errors`; returns the
// HRESULT of the first one (E_FAIL when the driver left none, in which case a
// record saying so is added).
HRESULT Diagnose(SQLSMALLINT handleType, SQLHANDLE handle, oledb::ErrorRecords& errors);

// An owned statement handle.
class Statement {
 public:
  Statement() = default;
  Statement(Statement&& o) noexcept : h_(std::exchange(o.h_, SQLHSTMT{})) {}
  Statement& operator=(Statement&& o) noexcept {
    if (this != &o) {
      Free();
      h_ = std::exchange(o.h_, SQLHSTMT{});
    }
    return *this;
  }
  ~Statement() { Free(); }

  HRESULT Allocate(SQLHDBC dbc, oledb::ErrorRecords& errors);
  SQLHSTMT get() const { return h_; }

 private:
  void Free() {
    if (h_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, h_);
    h_ = SQL_NULL_HSTMT;
  }
  SQLHSTMT h_ = SQL_NULL_HSTMT;
};

// SQLGetInfo for a text item.
HRESULT GetInfoText(SQLHDBC dbc, SQLUSMALLINT item, std::string& value,
                    oledb::ErrorRecords& errors);
// The connection's current catalog (SQL_ATTR_CURRENT_CATALOG).
HRESULT CurrentCatalog(SQLHDBC dbc, std::string& value, oledb::ErrorRecords& errors);

// How an ODBC SQL type appears in OLE DB.
struct TypeInfo {
  oledb::DBTYPE dbType = oledb::DBTYPE_WSTR;
  bool isText = false, isBinary = false, isNumeric = false, isDatetime = false;
  bool isLong = false, isFixed = false;
};
TypeInfo MapSqlType(SQLSMALLINT sqlType, bool isUnsigned);
oledb::DBCOLUMNFLAGS ColumnFlags(const TypeInfo& type, bool nullable);

// Decodes a value read as SQL_C_CHAR into UTF-8 text.
void DecodeText(TextDecoder* decoder, std::string_view bytes, std::string& out);

// Column information of a statement's result.
// Column names are UTF-8; `decoder` (null: UTF-8) decodes names a driver can
// only give in the session's result character set.
HRESULT DescribeColumns(SQLHSTMT stmt, TextDecoder* decoder,
                        std::vector<oledb::ColumnInfo>& columns, oledb::ErrorRecords& errors);

// Reads a value whole, however long, as the driver gives it for `cType`
// (SQL_C_CHAR: text as the server sent it; SQL_C_BINARY: raw bytes) into
// `scratch` (reused between calls). Returns the last SQLRETURN (SQL_SUCCESS
// when the value was read); `length` is its size, `isNull` tells a NULL.
SQLRETURN ReadRawValue(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType,
                       std::vector<char>& scratch, std::size_t& length, bool& isNull);

// Upper-case hexadecimal digits for bytes, as binary values read as text.
void AppendHex(std::string_view bytes, std::string& out);

// Reads the bound ordinals of the current row into a TextRow: text in the
// session's result character set decoded to UTF-8, binary columns as hex.
class ValueReader {
 public:
  ValueReader() = default;
  explicit ValueReader(std::shared_ptr<TextDecoder> decoder) : decoder_(std::move(decoder)) {}

  HRESULT Bind(std::span<const oledb::DBORDINAL> ordinals,
               const std::vector<oledb::ColumnInfo>& columns, oledb::ErrorRecords& errors);
  HRESULT Read(SQLHSTMT stmt, oledb::TextRow& row, oledb::ErrorRecords& errors);
  std::size_t slots() const { return slots_; }

 private:
  std::shared_ptr<TextDecoder> decoder_;           // null: UTF-8
  std::vector<oledb::DBORDINAL> order_;            // distinct ordinals, ascending
  std::vector<bool> binary_;                       // for each of them
  std::vector<std::vector<std::size_t>> slotsOf_;  // the slots each of them fills
  std::size_t slots_ = 0;
  std::vector<char> scratch_;
};

// Reads every remaining row of a statement, all columns as text (NULL as none).
HRESULT FetchAll(SQLHSTMT stmt, TextDecoder* decoder,
                 std::vector<std::vector<std::optional<std::string>>>& rows,
                 oledb::ErrorRecords& errors);

}  // namespace migrator::providers::odbc
