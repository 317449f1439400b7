#pragma once
// HRESULT and the result codes of the data-source layer. The codes carry the
// values the OLE DB and COM headers give them, so lines and logs read the same
// as on the platform those names come from. They live in migrator::hr, away
// from the global names of the ODBC headers: write hr::S_OK, hr::E_FAIL.

#include <cstdint>

namespace migrator {

using HRESULT = std::int32_t;

namespace hr {

constexpr HRESULT Code(std::uint32_t value) {
  return static_cast<HRESULT>(value);
}

inline constexpr bool Succeeded(HRESULT h) {
  return h >= 0;
}
inline constexpr bool Failed(HRESULT h) {
  return h < 0;
}

// COM
inline constexpr HRESULT S_OK = Code(0x00000000u);
inline constexpr HRESULT S_FALSE = Code(0x00000001u);
inline constexpr HRESULT E_NOTIMPL = Code(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = Code(0x80004002u);
inline constexpr HRESULT E_POINTER = Code(0x80004003u);
inline constexpr HRESULT E_ABORT = Code(0x80004004u);
inline constexpr HRESULT E_FAIL = Code(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = Code(0x8000FFFFu);
inline constexpr HRESULT E_ACCESSDENIED = Code(0x80070005u);
inline constexpr HRESULT E_OUTOFMEMORY = Code(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = Code(0x80070057u);
// An unknown provider identifier fails like an unregistered class.
inline constexpr HRESULT REGDB_E_CLASSNOTREG = Code(0x80040154u);
inline constexpr HRESULT CO_E_CLASSSTRING = Code(0x800401F3u);

// OLE DB errors
inline constexpr HRESULT DB_E_BADACCESSORHANDLE = Code(0x80040E00u);
inline constexpr HRESULT DB_E_READONLYACCESSOR = Code(0x80040E02u);
inline constexpr HRESULT DB_E_BADROWHANDLE = Code(0x80040E04u);
inline constexpr HRESULT DB_E_OBJECTOPEN = Code(0x80040E05u);
inline constexpr HRESULT DB_E_CANTCONVERTVALUE = Code(0x80040E07u);
inline constexpr HRESULT DB_E_BADBINDINFO = Code(0x80040E08u);
inline constexpr HRESULT DB_SEC_E_PERMISSIONDENIED = Code(0x80040E09u);
inline constexpr HRESULT DB_E_NOCOMMAND = Code(0x80040E0Cu);
inline constexpr HRESULT DB_E_BADCOLUMNID = Code(0x80040E11u);
inline constexpr HRESULT DB_E_ERRORSINCOMMAND = Code(0x80040E14u);
inline constexpr HRESULT DB_E_CANTCANCEL = Code(0x80040E15u);
inline constexpr HRESULT DB_E_DIALECTNOTSUPPORTED = Code(0x80040E16u);
inline constexpr HRESULT DB_E_NOTFOUND = Code(0x80040E19u);
inline constexpr HRESULT DB_E_UNSUPPORTEDCONVERSION = Code(0x80040E1Du);
inline constexpr HRESULT DB_E_ERRORSOCCURRED = Code(0x80040E21u);
inline constexpr HRESULT DB_E_CANTFETCHBACKWARDS = Code(0x80040E24u);
inline constexpr HRESULT DB_E_ROWSNOTRELEASED = Code(0x80040E25u);
inline constexpr HRESULT DB_E_MULTIPLESTATEMENTS = Code(0x80040E2Eu);
inline constexpr HRESULT DB_E_INTEGRITYVIOLATION = Code(0x80040E2Fu);
inline constexpr HRESULT DB_E_NOTABLE = Code(0x80040E37u);
inline constexpr HRESULT DB_E_BADTABLEID = Code(0x80040E3Cu);
inline constexpr HRESULT DB_E_BADTYPE = Code(0x80040E3Du);
inline constexpr HRESULT DB_E_DUPLICATETABLEID = Code(0x80040E3Fu);
inline constexpr HRESULT DB_E_BADPROPERTYVALUE = Code(0x80040E44u);
inline constexpr HRESULT DB_SEC_E_AUTH_FAILED = Code(0x80040E4Du);
inline constexpr HRESULT DB_E_CANCELED = Code(0x80040E4Eu);
inline constexpr HRESULT DB_E_ALREADYINITIALIZED = Code(0x80040E52u);
inline constexpr HRESULT DB_E_NOTSUPPORTED = Code(0x80040E53u);
inline constexpr HRESULT DB_E_BADORDINAL = Code(0x80040E55u);
inline constexpr HRESULT DB_E_DATAOVERFLOW = Code(0x80040E57u);
inline constexpr HRESULT DB_E_OBJECTCREATIONLIMITREACHED = Code(0x80040E69u);
inline constexpr HRESULT DB_E_BADINITSTRING = Code(0x80040E73u);
inline constexpr HRESULT DB_E_CANNOTCONNECT = Code(0x80040E96u);
inline constexpr HRESULT DB_E_TIMEOUT = Code(0x80040E97u);
// OLE DB has no code of its own for "not initialized": providers answer a call
// on an uninitialised data source with E_UNEXPECTED, and so does this name.
inline constexpr HRESULT DB_E_NOTINITIALIZED = E_UNEXPECTED;

// OLE DB success codes
inline constexpr HRESULT DB_S_ENDOFROWSET = Code(0x00040EC6u);
inline constexpr HRESULT DB_S_NORESULT = Code(0x00040EC9u);
inline constexpr HRESULT DB_S_ERRORSOCCURRED = Code(0x00040EDAu);

}  // namespace hr
}  // namespace migrator
