#pragma once
// Basic types of the data-source layer: property, type and status codes with
// the values OLE DB gives them, the typed property value (Variant), column
// information and the text row that rowsets are read into.
//
// The names are the OLE DB names, kept inside migrator::oledb so that they read
// the same as in the provider documentation and never meet the ODBC headers.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "support/hresult.h"

namespace migrator::oledb {

using DBPROPID = std::uint32_t;
using DBTYPE = std::uint16_t;
using DBSTATUS = std::uint32_t;
using DBCOLUMNFLAGS = std::uint32_t;
using DBORDINAL = std::size_t;

// ---------------------------------------------------------------------------
// Property sets and property ids.

enum class PropertySetId {
  DBInit,          // DBPROPSET_DBINIT: initialisation of a data source
  Rowset,          // DBPROPSET_ROWSET: properties of the rowset a command makes
  DataSourceInfo,  // DBPROPSET_DATASOURCEINFO: what a data source tells about itself
};

// DBPROPSET_DBINIT
inline constexpr DBPROPID DBPROP_AUTH_ENCRYPT_PASSWORD = 0x06;
inline constexpr DBPROPID DBPROP_AUTH_MASK_PASSWORD = 0x08;
inline constexpr DBPROPID DBPROP_AUTH_PASSWORD = 0x09;
inline constexpr DBPROPID DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO = 0x0B;
inline constexpr DBPROPID DBPROP_AUTH_USERID = 0x0C;
inline constexpr DBPROPID DBPROP_INIT_DATASOURCE = 0x3B;
inline constexpr DBPROPID DBPROP_INIT_LOCATION = 0x3C;
inline constexpr DBPROPID DBPROP_INIT_MODE = 0x3F;
inline constexpr DBPROPID DBPROP_INIT_PROMPT = 0x40;
inline constexpr DBPROPID DBPROP_INIT_TIMEOUT = 0x42;
inline constexpr DBPROPID DBPROP_INIT_PROVIDERSTRING = 0xA0;
inline constexpr DBPROPID DBPROP_INIT_LCID = 0xBA;
inline constexpr DBPROPID DBPROP_INIT_CATALOG = 0xE9;
inline constexpr DBPROPID DBPROP_INIT_GENERALTIMEOUT = 0x11C;

// DBPROPSET_ROWSET
inline constexpr DBPROPID DBPROP_UPDATABILITY = 0x75;
inline constexpr DBPROPID DBPROP_IRowset = 0x7E;
inline constexpr DBPROPID DBPROP_IRowsetChange = 0x7F;

// DBPROPSET_DATASOURCEINFO
inline constexpr DBPROPID DBPROP_CURRENTCATALOG = 0x25;
inline constexpr DBPROPID DBPROP_DATASOURCENAME = 0x26;
inline constexpr DBPROPID DBPROP_DBMSNAME = 0x28;
inline constexpr DBPROPID DBPROP_DBMSVER = 0x29;

// Values of some properties.
inline constexpr std::int32_t DB_MODE_SHARE_DENY_NONE = 0x10;
inline constexpr std::int16_t DBPROMPT_PROMPT = 1;
inline constexpr std::int16_t DBPROMPT_COMPLETE = 2;
inline constexpr std::int16_t DBPROMPT_COMPLETEREQUIRED = 3;
inline constexpr std::int16_t DBPROMPT_NOPROMPT = 4;
inline constexpr std::int32_t DBPROPVAL_UP_CHANGE = 0x1;
inline constexpr std::int32_t DBPROPVAL_UP_DELETE = 0x2;
inline constexpr std::int32_t DBPROPVAL_UP_INSERT = 0x4;

// ---------------------------------------------------------------------------
// Typed values (the VARIANT types the layer uses).

enum VarType : std::uint16_t {
  VT_EMPTY = 0,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_BSTR = 8,
  VT_BOOL = 11,
};

// A property or restriction value: empty, VT_BOOL, VT_I2, VT_I4 or VT_BSTR.
// Text is UTF-8.
class Variant {
 public:
  Variant() = default;  // VT_EMPTY
  static Variant Bool(bool v) { return Variant(v); }
  static Variant I2(std::int16_t v) { return Variant(v); }
  static Variant I4(std::int32_t v) { return Variant(v); }
  static Variant Bstr(std::string v) { return Variant(std::move(v)); }

  VarType vt() const {
    switch (v_.index()) {
      case 1:
        return VT_BOOL;
      case 2:
        return VT_I2;
      case 3:
        return VT_I4;
      case 4:
        return VT_BSTR;
      default:
        return VT_EMPTY;
    }
  }
  bool empty() const { return v_.index() == 0; }

  // The value of the held type; another type gives the type's zero value.
  bool AsBool() const { return vt() == VT_BOOL && std::get<1>(v_); }
  std::int16_t AsI2() const { return vt() == VT_I2 ? std::get<2>(v_) : 0; }
  std::int32_t AsI4() const { return vt() == VT_I4 ? std::get<3>(v_) : 0; }
  const std::string& AsBstr() const {
    static const std::string kEmpty;
    return vt() == VT_BSTR ? std::get<4>(v_) : kEmpty;
  }

  friend bool operator==(const Variant&, const Variant&) = default;

 private:
  explicit Variant(bool v) : v_(v) {}
  explicit Variant(std::int16_t v) : v_(v) {}
  explicit Variant(std::int32_t v) : v_(v) {}
  explicit Variant(std::string v) : v_(std::move(v)) {}
  std::variant<std::monostate, bool, std::int16_t, std::int32_t, std::string> v_;
};

// ---------------------------------------------------------------------------
// Column types, flags and statuses.

inline constexpr DBTYPE DBTYPE_EMPTY = 0;
inline constexpr DBTYPE DBTYPE_NULL = 1;
inline constexpr DBTYPE DBTYPE_I2 = 2;
inline constexpr DBTYPE DBTYPE_I4 = 3;
inline constexpr DBTYPE DBTYPE_R4 = 4;
inline constexpr DBTYPE DBTYPE_R8 = 5;
inline constexpr DBTYPE DBTYPE_CY = 6;
inline constexpr DBTYPE DBTYPE_DATE = 7;
inline constexpr DBTYPE DBTYPE_BSTR = 8;
inline constexpr DBTYPE DBTYPE_ERROR = 10;
inline constexpr DBTYPE DBTYPE_BOOL = 11;
inline constexpr DBTYPE DBTYPE_VARIANT = 12;
inline constexpr DBTYPE DBTYPE_DECIMAL = 14;
inline constexpr DBTYPE DBTYPE_I1 = 16;
inline constexpr DBTYPE DBTYPE_UI1 = 17;
inline constexpr DBTYPE DBTYPE_UI2 = 18;
inline constexpr DBTYPE DBTYPE_UI4 = 19;
inline constexpr DBTYPE DBTYPE_I8 = 20;
inline constexpr DBTYPE DBTYPE_UI8 = 21;
inline constexpr DBTYPE DBTYPE_GUID = 72;
inline constexpr DBTYPE DBTYPE_BYTES = 128;
inline constexpr DBTYPE DBTYPE_STR = 129;
inline constexpr DBTYPE DBTYPE_WSTR = 130;
inline constexpr DBTYPE DBTYPE_NUMERIC = 131;
inline constexpr DBTYPE DBTYPE_DBDATE = 133;
inline constexpr DBTYPE DBTYPE_DBTIME = 134;
inline constexpr DBTYPE DBTYPE_DBTIMESTAMP = 135;

inline constexpr DBCOLUMNFLAGS DBCOLUMNFLAGS_ISBOOKMARK = 0x1;
inline constexpr DBCOLUMNFLAGS DBCOLUMNFLAGS_MAYDEFER = 0x2;
inline constexpr DBCOLUMNFLAGS DBCOLUMNFLAGS_WRITE = 0x4;
inline constexpr DBCOLUMNFLAGS DBCOLUMNFLAGS_WRITEUNKNOWN = 0x8;
inline constexpr DBCOLUMNFLAGS DBCOLUMNFLAGS_ISFIXEDLENGTH = 0x10;
inline constexpr DBCOLUMNFLAGS DBCOLUMNFLAGS_ISNULLABLE = 0x20;
inline constexpr DBCOLUMNFLAGS DBCOLUMNFLAGS_MAYBENULL = 0x40;
inline constexpr DBCOLUMNFLAGS DBCOLUMNFLAGS_ISLONG = 0x80;
inline constexpr DBCOLUMNFLAGS DBCOLUMNFLAGS_ISROWID = 0x100;
inline constexpr DBCOLUMNFLAGS DBCOLUMNFLAGS_ISROWVER = 0x200;

inline constexpr DBSTATUS DBSTATUS_S_OK = 0;
inline constexpr DBSTATUS DBSTATUS_E_BADACCESSOR = 1;
inline constexpr DBSTATUS DBSTATUS_E_CANTCONVERTVALUE = 2;
inline constexpr DBSTATUS DBSTATUS_S_ISNULL = 3;
inline constexpr DBSTATUS DBSTATUS_S_TRUNCATED = 4;
inline constexpr DBSTATUS DBSTATUS_E_UNAVAILABLE = 8;

// One column of a rowset as IColumnsInfo::GetColumnInfo reports it. Rowsets of
// some providers report a bookmark column (ordinal 0, DBCOLUMNFLAGS_ISBOOKMARK)
// before the data columns, so readers bind by ordinal, not by position.
struct ColumnInfo {
  std::string name;  // UTF-8; empty for the bookmark column
  DBORDINAL ordinal = 0;
  DBTYPE type = DBTYPE_WSTR;
  DBCOLUMNFLAGS flags = 0;
  std::size_t size = 0;  // maximum length in characters (text) or bytes; ~0 when unlimited
  std::uint8_t precision = 0;
  std::uint8_t scale = 0;

  bool IsBookmark() const { return (flags & DBCOLUMNFLAGS_ISBOOKMARK) != 0; }
};

// One row as text: one slot per bound ordinal, in binding order. A slot holds
// the whole value as UTF-8 text and its status; a NULL has the status
// DBSTATUS_S_ISNULL and an empty text.
struct TextRow {
  std::vector<std::string> values;
  std::vector<DBSTATUS> status;
  // Filled only by a provider whose values carry a type of their own (a
  // workbook cell, which need not hold what its column declares): each
  // slot's type, DBTYPE_EMPTY for a NULL. Empty otherwise.
  std::vector<DBTYPE> valueTypes;

  std::size_t size() const { return values.size(); }
  const std::string& Value(std::size_t slot) const { return values[slot]; }
  bool IsNull(std::size_t slot) const { return status[slot] == DBSTATUS_S_ISNULL; }
  void Resize(std::size_t count) {
    values.resize(count);
    status.resize(count, DBSTATUS_S_OK);
  }
  void SetNull(std::size_t slot) {
    values[slot].clear();
    status[slot] = DBSTATUS_S_ISNULL;
  }
  void SetText(std::size_t slot, std::string_view text) {
    values[slot].assign(text);
    status[slot] = DBSTATUS_S_OK;
  }
};

// The interfaces of OLE DB whose calls can fail and leave error records; the
// error-record reader is asked about one of them.
enum class Iid {
  IUnknown,
  IDBInitialize,
  IDBProperties,
  IDBCreateSession,
  IOpenRowset,
  IDBCreateCommand,
  IDBSchemaRowset,
  ICommand,
  ICommandText,
  IRowset,
  IAccessor,
  IColumnsInfo,
  ITransaction,  // Session::Flush, the counterpart of ITransaction::Commit
};

}  // namespace migrator::oledb
