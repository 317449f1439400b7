#pragma once
// Helpers of the ODBC provider: statement handles, diagnostics, type mapping
// and reading values whole as text.

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "oledb/errors.h"
#include "oledb/types.h"
#include "providers/odbc/utf16.h"

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

// SQLGetInfoW for a text item.
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

// Column information of a statement's result.
HRESULT DescribeColumns(SQLHSTMT stmt, std::vector<oledb::ColumnInfo>& columns,
                        oledb::ErrorRecords& errors);

// Reads a value whole as UTF-8 text with SQLGetData(SQL_C_WCHAR), however
// long it is. `scratch` is reused between calls. Returns the last SQLRETURN
// (SQL_SUCCESS when the value was read); `isNull` tells a NULL.
SQLRETURN ReadWholeValue(SQLHSTMT stmt, SQLUSMALLINT column, WString& scratch, std::string& out,
                         bool& isNull);

// Reads the bound ordinals of the current row into a TextRow.
class ValueReader {
 public:
  HRESULT Bind(std::span<const oledb::DBORDINAL> ordinals, std::size_t columnCount,
               oledb::ErrorRecords& errors);
  HRESULT Read(SQLHSTMT stmt, oledb::TextRow& row, oledb::ErrorRecords& errors);
  std::size_t slots() const { return slots_; }

 private:
  std::vector<oledb::DBORDINAL> order_;            // distinct ordinals, ascending
  std::vector<std::vector<std::size_t>> slotsOf_;  // the slots each of them fills
  std::size_t slots_ = 0;
  WString scratch_;
};

// Reads every remaining row of a statement, all columns as text (NULL as none).
HRESULT FetchAll(SQLHSTMT stmt, std::vector<std::vector<std::optional<std::string>>>& rows,
                 oledb::ErrorRecords& errors);

}  // namespace migrator::providers::odbc
