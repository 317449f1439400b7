// The message table for the data-source layer's result codes: the words a
// user sees after "discription:" in an HRESULT line.

#include "support/error_text.h"
#include "support/hresult.h"

namespace migrator {
namespace {

using namespace hr;

struct Entry {
  HRESULT code;
  const char* text;
};

constexpr Entry kMessages[] = {
    {S_OK, "The operation completed successfully."},
    {S_FALSE, "The operation completed, with nothing to report."},
    {E_NOTIMPL, "Not implemented."},
    {E_NOINTERFACE, "No such interface supported."},
    {E_POINTER, "Invalid pointer."},
    {E_ABORT, "Operation aborted."},
    {E_FAIL, "Unspecified error."},
    {E_UNEXPECTED, "Catastrophic failure."},
    {E_ACCESSDENIED, "Access is denied."},
    {E_OUTOFMEMORY, "Not enough storage is available to complete this operation."},
    {E_INVALIDARG, "The parameter is incorrect."},
    {REGDB_E_CLASSNOTREG, "Class not registered."},
    {CO_E_CLASSSTRING, "Invalid class string."},
    {DB_E_BADACCESSORHANDLE, "Accessor is invalid."},
    {DB_E_READONLYACCESSOR, "Accessor is read-only. Operation failed."},
    {DB_E_BADROWHANDLE, "Row handle is invalid."},
    {DB_E_OBJECTOPEN, "Object was open."},
    {DB_E_CANTCONVERTVALUE,
     "Data value could not be converted to the type of the column in the data source."},
    {DB_E_BADBINDINFO, "Binding information is invalid."},
    {DB_SEC_E_PERMISSIONDENIED, "Permission denied."},
    {DB_E_NOCOMMAND, "Command text was not set for the command object."},
    {DB_E_BADCOLUMNID, "Column ID is invalid."},
    {DB_E_ERRORSINCOMMAND, "One or more errors occurred during processing of command."},
    {DB_E_CANTCANCEL, "Command cannot be canceled."},
    {DB_E_DIALECTNOTSUPPORTED, "Command dialect is not supported by this provider."},
    {DB_E_NOTFOUND,
     "Object or data matching the name, range, or selection criteria was not found."},
    {DB_E_UNSUPPORTEDCONVERSION, "Requested conversion is not supported."},
    {DB_E_ERRORSOCCURRED,
     "Multiple-step OLE DB operation generated errors. Check each OLE DB status value, if "
     "available. No work was done."},
    {DB_E_CANTFETCHBACKWARDS, "Rowset does not support fetching backward."},
    {DB_E_ROWSNOTRELEASED, "Row handles must all be released before new ones can be obtained."},
    {DB_E_MULTIPLESTATEMENTS, "Multiple-statement commands are not supported by this provider."},
    {DB_E_INTEGRITYVIOLATION, "Value violated the integrity constraints for a column or table."},
    {DB_E_NOTABLE, "Table does not exist."},
    {DB_E_BADTABLEID, "Table ID is invalid."},
    {DB_E_BADTYPE, "Type is invalid."},
    {DB_E_DUPLICATETABLEID, "Table already exists."},
    {DB_E_BADPROPERTYVALUE, "Property value is invalid."},
    {DB_SEC_E_AUTH_FAILED, "Authentication failed."},
    {DB_E_CANCELED, "Operation was canceled."},
    {DB_E_ALREADYINITIALIZED, "Data source object is already initialized."},
    {DB_E_NOTSUPPORTED, "Method is not supported by this provider."},
    {DB_E_BADORDINAL, "Column does not exist."},
    {DB_E_DATAOVERFLOW,
     "Literal value in the command exceeded the range of the type of the associated column."},
    {DB_E_OBJECTCREATIONLIMITREACHED,
     "Session cannot be created because maximum number of active sessions was already reached."},
    {DB_E_BADINITSTRING, "Format of the initialization string is invalid."},
    {DB_E_CANNOTCONNECT, "Connection to the server cannot be established."},
    {DB_E_TIMEOUT, "Timeout expired."},
    {DB_S_ENDOFROWSET, "Start or end of rowset or chapter was reached."},
    {DB_S_NORESULT, "No more results."},
    {DB_S_ERRORSOCCURRED,
     "Multiple-step operation completed with one or more errors. Check each status value."},
};

}  // namespace

std::string HResultMessage(HRESULT result) {
  for (const Entry& e : kMessages) {
    if (e.code == result) return e.text;
  }
  return {};
}

}  // namespace migrator
