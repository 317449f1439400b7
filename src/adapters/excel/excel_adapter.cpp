#include "adapters/excel/excel_adapter.h"

#include "platform/text.h"

#include <algorithm>
#include <cctype>

#include "app/output.h"
#include "app/workspace.h"
#include "oledb/operations.h"
#include "support/regexp_service.h"
#include "xls/workbook.h"

namespace migrator {
namespace {

using oledb::Variant;

bool Build(ConnectionSettings& s, oledb::PropertySet& set, bool forTest) {
  set.Add(oledb::DBPROP_AUTH_ENCRYPT_PASSWORD, Variant::Bool(false));
  set.Add(oledb::DBPROP_AUTH_MASK_PASSWORD, Variant::Bool(false));
  set.Add(oledb::DBPROP_AUTH_PASSWORD, Variant::Bstr(s.password));
  set.Add(oledb::DBPROP_AUTH_USERID, Variant::Bstr(s.userId));
  if (!s.sourceName.empty()) set.Add(oledb::DBPROP_INIT_DATASOURCE, Variant::Bstr(s.sourceName));
  if (!s.catalogName.empty() && (forTest || !EqualNoCase(s.sourceName, s.catalogName + ".xls"))) {
    set.Add(oledb::DBPROP_INIT_CATALOG, Variant::Bstr(s.catalogName));
  }
  set.Add(oledb::DBPROP_INIT_MODE, Variant::I4(oledb::DB_MODE_SHARE_DENY_NONE));
  set.Add(oledb::DBPROP_INIT_PROMPT, Variant::I2(oledb::DBPROMPT_NOPROMPT));
  const bool jet = IsJetProvider(s.providerId);
  set.Add(oledb::DBPROP_INIT_PROVIDERSTRING, Variant::Bstr(jet       ? kJetProviderString
                                                           : forTest ? kExcelOdbcTestProviderString
                                                                     : kExcelOdbcProviderString));
  if (jet) {
    // The database is the workbook path without its extension, in any case:
    // "Book.XLS" is the database "Book", never "Book.XLS" (whose workbook
    // would be "Book.XLS.xls").
    if (!RegExpService::LastMatch(s.sourceName, kXlsExtensionPattern).empty()) {
      s.catalogName = RegExpService::Replace(s.sourceName, kXlsExtensionPattern, "");
    } else {
      s.catalogName = s.sourceName;
    }
  }
  return true;
}

}  // namespace

bool IsJetProvider(const std::string& providerId) {
  return EqualNoCase(providerId, kJetProvider);
}

bool HasXlsExtension(std::string_view path) {
  return !RegExpService::LastMatch(std::string(path), kXlsExtensionPattern).empty();
}

bool HasWorkbookExtension(std::string_view path) {
  return HasXlsExtension(path) || xls::FormatForPath(path) == xls::FileFormat::kXlsx;
}

bool ExcelAdapter::BuildInitProperties(ConnectionSettings& settings, oledb::PropertySet& set) {
  return Build(settings, set, false);
}

bool ExcelAdapter::BuildTestInitProperties(ConnectionSettings& settings, oledb::PropertySet& set) {
  return Build(settings, set, true);
}

std::string ExcelAdapter::QueryServerVersion(Frontend& out, oledb::SessionRef session) {
  if (!oledb::Resolve(session)) return oledb::kNoConnection;
  std::string version = oledb::QuerySingleValue(out, session, "select @@Version");
  if (version == oledb::kResultSuccess) WriteOutputText(out, version);
  return version;
}

}  // namespace migrator
