#pragma once
// The workbook provider ("Microsoft.Jet.OLEDB.4.0"): an Excel 97-2003
// workbook (.xls) as a database. Its sheets and defined names are the tables
// (providers/workbook/tables.h) and statements are the SQL of
// providers/workbook/sql.h.
//
// Initialisation: DBPROP_INIT_DATASOURCE names the workbook (a path); the
// provider string, when given, is "Excel 8.0;HDR=Yes;" (IMEX and
// MaxScanRows settings are taken and not used; HDR=No and other ISAMs are
// refused). DBPROP_INIT_MODE with read access only (DB_MODE_READ) opens the
// workbook read-only; DBPROP_INIT_CATALOG and the auth properties are not
// used. Initialize fails when the file is missing, unreadable or not a
// workbook.
//
// Information: DBMS name "Excel Workbook", version "BIFF8" (.xls) or "OOXML"
// (.xlsx), data source name
// the path as given, current catalog the path without its ".xls".
//
// Saving: the workbook is held in memory and written by the engine's Save (a
// temporary file beside it, renamed over it), so an interrupted save leaves
// the previous file whole. CREATE TABLE and DROP TABLE are saved at once (and
// change nothing when the save fails); inserted rows are saved by a session's
// Flush, with the next CREATE or DROP, and at the latest when a session or the
// data source is released. A failed release save cannot be reported, so
// callers that must know whether their rows reached the file flush first. The
// path is made absolute at initialisation, so a change of the working
// directory does not move the file.
//
// Other writers: a change takes the workbook's lock (platform/workbook_guard.h)
// and holds it until the workbook is saved again, so that two data sources, in
// this process or in others, take turns instead of saving over each other. A
// change waits for another holder, and for LibreOffice's lock file, up to
// DBPROP_INIT_GENERALTIMEOUT seconds (default 10), and is refused with a
// sentence naming the holder after that; the changes that follow such a
// refusal (the other rows of a table) try once each without waiting, until
// one gets the lock. When the file is not the one read
// any more and nothing is held for it, it is read again before the change;
// rows held for a file that another program rewrote meanwhile are refused at
// the save, never saved over it. A workbook without write permission is
// refused at the first change, in the system's words.
//
// Rowsets of SELECT report a bookmark column (ordinal 0) before the data
// columns; schema rowsets have exactly their standard columns.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "oledb/provider.h"

namespace migrator::oledb {
class DataSource;
}
namespace migrator::xls {
class Workbook;
}

namespace migrator::providers::workbook {

inline constexpr const char* kProviderId = "Microsoft.Jet.OLEDB.4.0";
inline constexpr const char* kProviderName = "Microsoft Jet 4.0 OLE DB Provider";
// Built into the program: no library to load.
inline constexpr const char* kProviderLibrary = "";

inline constexpr const char* kDbmsName = "Excel Workbook";
inline constexpr const char* kDbmsVersion = "BIFF8";
inline constexpr const char* kDbmsVersionXlsx = "OOXML";

std::unique_ptr<oledb::ProviderDataSource> CreateDataSource();

// Lends the workbook that `dataSource` (an initialised data source of this
// provider) holds in memory to `use`, so that a caller that would otherwise
// close the data source, read the file, change and save it and connect again
// works on it in place. No statement of the data source runs meanwhile. Rows
// not saved yet are lent with the workbook and saved by the save of `use`
// (the file is written once); when `use` fails they are saved with the
// workbook as `use` left it, or, when that save fails too, stay held for the
// next flush (Session::Flush), which reports it.
//
// The workbook's lock is held for the length of the loan. A file that another
// program rewrote since it was read (and that nothing is held for) is read
// again first, and lent as it is now.
//
// Refused (false, `use` not called) when the data source is another
// provider's or holds no workbook, when the lock cannot be had, or when
// `path` is not the very file the workbook is read from (another file, or
// this one moved away; rows not saved yet are saved first then): the caller
// then reads the file itself.
//
// `use` gets the workbook and its absolute path, may move the workbook away
// and must put it back, and returns true when the file holds the workbook as
// `use` leaves it (it saved it, or it made no change and no rows were
// pending). On false, with no rows pending, the workbook is read from the
// file again. `use` runs under the data source's lock: it must not wait for
// another thread.
bool LendWorkbook(oledb::DataSource& dataSource, const std::string& path,
                  const std::function<bool(xls::Workbook& book, const std::string& file)>& use);

// The sheets of the workbook that `dataSource` holds that have cells outside
// every table (defined name) on them: sheets filled by hand, whose rows no
// table gives. Listed as the tables rowset lists them ("S$", 'My sheet$').
// A sheet whose cells all lie inside one table's range, and an empty sheet,
// are not listed. Nothing when the data source is another provider's or
// holds no workbook.
std::optional<std::vector<std::string>> SheetsOutsideTables(oledb::DataSource& dataSource);

}  // namespace migrator::providers::workbook
