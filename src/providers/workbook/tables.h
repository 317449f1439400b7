#pragma once
// The tables of a workbook, as the workbook provider sees them, and the
// statements that change them.
//
// A table is either a sheet S, named "S$" ('like this$' when the name holds
// a blank or punctuation), whose used range is the table, or a workbook-level
// defined name N over a block of cells. The first row of a table's range is
// its header: the column names. The rows below are the table's rows.
// Built-in and hidden names (the filter buttons' _FilterDatabase, a print
// area) are no tables. A sheet's filter over a table grows with the rows
// INSERT adds and goes when the table is dropped.
//
// Cell values are read as text: text as it is, numbers in the shortest form
// that reads back to the same number (3, 0.1, 1e+20), numbers in a date
// format as "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS" (in a format that shows
// only a time, a time of day as "HH:MM:SS"), booleans as "TRUE" and "FALSE";
// an empty cell and an error value read as NULL.
//
// A column's type is its declared one: CREATE TABLE gives each header cell a
// number format that names its column's type ("@" text, "0.###############"
// numbers, "yyyy-mm-dd hh:mm:ss" dates, "hh:mm:ss" times of day,
// "TRUE";"TRUE";"FALSE" booleans), so
// the type lives in the workbook and survives reopening, renaming and header
// formatting. A column without one (a sheet made elsewhere) takes its type
// from the data: the values in the first 8 rows below the header. When all of
// them are numbers it is a number column (a date column when they all show as
// dates), when all are booleans a boolean column; otherwise, and when there
// are none, a text column.
//
// What INSERT stores follows the type: text columns keep text exactly as
// given (a number as written); number, date, time and boolean columns
// store numbers, dates (numbers shown as dates), times of day (fractions of
// a day shown as times) and booleans, and refuse a value that is none with a
// type mismatch naming the column. Dates are taken as 'YYYY-MM-DD',
// 'YYYY-MM-DD HH:MM[:SS]' (or with T), or a serial number; times as
// 'HH:MM[:SS[.fraction]]' from 00:00 to 23:59:59. TEXT 'x' stores a text in
// any column.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "oledb/types.h"
#include "platform/result.h"
#include "providers/workbook/sql.h"
#include "xls/workbook.h"

namespace migrator::providers::workbook {

// A column's type as the data shows it.
enum class DataKind { Text, Number, Date, Time, Boolean };

// OLE DB type, column flags and maximum length of each kind: text
// DBTYPE_WSTR, flags 106, 255 characters; number DBTYPE_R8, flags 90; date
// DBTYPE_DATE, flags 90; time DBTYPE_DBTIME, flags 90; boolean DBTYPE_BOOL,
// flags 24.
oledb::DBTYPE DbTypeOf(DataKind kind);
oledb::DBCOLUMNFLAGS FlagsOf(DataKind kind);
std::size_t SizeOf(DataKind kind);

// The rows a table reads into a type guess.
inline constexpr std::uint32_t kTypeGuessRows = 8;

struct TableColumn {
  std::string name;  // the header cell's text; "F<n>" for an empty header cell
  DataKind kind = DataKind::Text;
};

// A value on its way into a cell, as INSERT makes it of a literal; the text
// points into the statement (or at a constant).
struct CellInput {
  enum class Kind { Empty, Text, Number, Date, Time, Boolean };
  Kind kind = Kind::Empty;
  double number = 0;
  bool boolean = false;
  std::string_view text;
};

// A table found in a workbook.
struct TableRef {
  std::string listedName;  // as the tables rowset lists it: "t", "t$", "'My sheet$'"
  std::size_t sheet = 0;
  std::optional<xls::Range> range;  // the header row first; none for an empty sheet
  bool isSheet = false;             // the "S$" form: the sheet's used range
  std::string definedName;          // the defined name's text (not for the "S$" form)
};

// How a sheet is listed as a table: its name followed by "$", quoted when it
// holds a blank or punctuation ("'" inside doubled).
std::string ListedSheetName(std::string_view sheetName);

// The sheet name a new table gets: characters that sheet names cannot hold
// become "_" and the name is cut to 31 characters.
std::string SheetNameForTable(std::string_view table);
// The defined name a new table gets: characters that names cannot hold become
// "_", and "_" is put in front of a name that would not begin with a letter or
// that reads as a cell reference (t1, r2c3).
std::string DefinedNameForTable(std::string_view table);

// The text of a number: the shortest form that reads back as the same number.
std::string NumberText(double value);
// The text of a date serial number ("YYYY-MM-DD", with " HH:MM:SS" when it has
// a time), or nothing when it is out of the range of dates.
std::optional<std::string> DateText(double serial, bool date1904);
// The serial number of a date text (the forms DateText writes, with an
// optional time of HH:MM, "T" between date and time, fractions of seconds),
// or nothing when the text is not a date a cell can hold.
std::optional<double> DateSerial(std::string_view text, bool date1904);
// The fraction of a day of a time text "HH:MM[:SS[.fraction]]" from 00:00 to
// 23:59:59.999..., or nothing for any other text (a duration of 24 hours or
// more, a negative time).
std::optional<double> TimeOfDaySerial(std::string_view text);

// The tables of one workbook and the statements on them. Not thread-safe: the
// provider calls it under its data source's lock.
class WorkbookTables {
 public:
  explicit WorkbookTables(xls::Workbook& book) : book_(book) {}

  xls::Workbook& book() { return book_; }
  const xls::Workbook& book() const { return book_; }

  // Every table, sorted by listed name (letters compared without case).
  std::vector<TableRef> List() const;
  // The table a statement names: "S$" or 'S$' for a sheet, otherwise a
  // defined name (also under the name DefinedNameForTable gives it).
  Result<TableRef> Resolve(std::string_view name) const;
  // The table's columns, from its header row, with their kinds.
  std::vector<TableColumn> Columns(const TableRef& table) const;
  // The rows below the header: first and last row (last < first when none).
  static std::pair<std::uint32_t, std::uint32_t> DataRows(const TableRef& table);

  // A cell's value as text, or nothing for NULL.
  std::optional<std::string> CellText(std::size_t sheet, std::uint32_t row,
                                      std::uint32_t col) const;
  // The same into `out`; false for NULL (`out` is then empty). With `kind`,
  // also what the cell holds, which may differ from its column's kind.
  bool CellText(std::size_t sheet, std::uint32_t row, std::uint32_t col, std::string& out,
                DataKind* kind = nullptr) const;

  // The statements. Each one either succeeds or changes nothing.
  Status CreateTable(const Statement& create);
  Status Insert(const Statement& insert);
  Status DropTable(const Statement& drop);

 private:
  // What INSERT keeps of a table between statements.
  struct InsertTarget {
    TableRef table;
    std::optional<std::size_t> name;  // the defined name's index, once known
    std::vector<TableColumn> columns;
    std::vector<ColumnType> types;  // what each column stores
    bool filterFollows = false;     // the sheet's filter covers the table: it grows with it
  };
  Result<InsertTarget*> Target(std::string_view name);
  void Forget() { targets_.clear(); }

  xls::Workbook& book_;
  // Tables that rows were inserted into, by the name the statement used
  // (ASCII letters in lower case). Dropped whenever a table is made or dropped.
  std::unordered_map<std::string, InsertTarget> targets_;
  // Reused by Insert.
  std::vector<CellInput> pending_;
  std::vector<int> slotOfColumn_;
};

}  // namespace migrator::providers::workbook
