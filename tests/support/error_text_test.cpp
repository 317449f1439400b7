// The system-error and HRESULT lines, and that the result codes live beside
// the ODBC headers without a clash.

#include <sql.h>
#include <sqlext.h>

#include "support/error_text.h"
#include "support/hresult.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace migrator {
namespace {

TEST(ErrorText, SystemErrorLineHasTheFixedFormat) {
  EXPECT_EQ(SystemErrorLine("Main Controller Error!", ENOENT),
            std::string("Main Controller Error! \r\n failed with error code:[0x00000002] \r\n "
                        "discription:") +
                std::strerror(ENOENT));
  // Code 0 carries the system's text for success; negative codes print as
  // their 32-bit pattern.
  EXPECT_EQ(SystemErrorLine("No Connection!", 0),
            std::string("No Connection! \r\n failed with error code:[0x00000000] \r\n "
                        "discription:") +
                std::strerror(0));
  EXPECT_NE(SystemErrorLine("x", -1).find("[0xffffffff]"), std::string::npos);
  // The one-argument form reads the thread's errno at the call.
  errno = EACCES;
  EXPECT_EQ(SystemErrorLine("No Source Connection!"),
            SystemErrorLine("No Source Connection!", EACCES));
  // The caller's text is carried whole, a NUL and printf conversions included.
  const std::string odd("a%s\0b", 5);
  EXPECT_EQ(SystemErrorLine(odd, 0).substr(0, 6), odd + " ");
}

TEST(ErrorText, HResultLineUsesOurMessageTable) {
  EXPECT_EQ(HResultLine(hr::DB_E_NOTABLE, "Open tables Error: "),
            "Open tables Error:  \r\n failed with error code:[0x80040e37] \r\n "
            "discription:Table does not exist.");
  EXPECT_EQ(HResultMessage(hr::E_FAIL), "Unspecified error.");
  EXPECT_EQ(HResultMessage(hr::REGDB_E_CLASSNOTREG), "Class not registered.");
  // A code the table does not know: no text in the description part.
  EXPECT_EQ(HResultLine(static_cast<HRESULT>(0x80041234u), "x"),
            "x \r\n failed with error code:[0x80041234] \r\n discription:");
  for (HRESULT code :
       {hr::S_OK, hr::S_FALSE, hr::E_INVALIDARG, hr::E_OUTOFMEMORY, hr::E_NOINTERFACE,
        hr::E_UNEXPECTED, hr::E_POINTER, hr::DB_E_ERRORSINCOMMAND, hr::DB_E_BADCOLUMNID,
        hr::DB_E_ERRORSOCCURRED, hr::DB_E_NOCOMMAND, hr::DB_E_CANTCONVERTVALUE,
        hr::DB_E_NOTSUPPORTED, hr::DB_E_BADTABLEID, hr::DB_S_ENDOFROWSET, hr::DB_S_ERRORSOCCURRED,
        hr::DB_SEC_E_AUTH_FAILED, hr::DB_E_ALREADYINITIALIZED, hr::DB_E_NOTINITIALIZED}) {
    EXPECT_FALSE(HResultMessage(code).empty()) << std::hex << code;
  }
}

TEST(ErrorText, ResultCodesLiveBesideTheOdbcHeaders) {
  static_assert(hr::Failed(hr::DB_E_ERRORSOCCURRED) && hr::Succeeded(hr::DB_S_ERRORSOCCURRED));
  EXPECT_EQ(SQL_ERROR, -1);  // the ODBC headers' own names are untouched
}

}  // namespace
}  // namespace migrator
