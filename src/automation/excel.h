#pragma once
// The spreadsheet automation object model ("Excel.Application") over the
// workbook engine (xls/): Application, Workbooks, Workbook, Sheets,
// Worksheet, Names, Name, Range, Font, Borders, Border, Interior and Window,
// with the members the target side drives (filter buttons among them) and the
// effects they have in the spreadsheet program. Members carry the program's
// names; a property get is Name(), a put SetName().
//
// Objects are handed out as shared pointers, the owning references of
// automation; dropping the last one releases the object. The objects of one
// Application belong to the thread that created it (each operation starts its
// own instance and quits it before returning).
//
// A failing member raises AutomationError with the code and description the
// program would give (automation/automation_error.h). A member called on an
// object whose workbook was closed, whose sheet was deleted or whose
// application has quit raises RPC_E_DISCONNECTED.
//
// Workbooks are held in memory while open; nothing touches the disk except
// Workbooks.Open (reads), and Workbook.SaveAs, Workbook.Save and
// Workbook.Close(true) (write the file through the engine's safe save).
// As the program does, Workbooks.Open locks the file while the workbook is
// open (platform/workbook_guard.h: it waits for another writer, within
// bounds, and fails naming it), and Workbook.Save refuses to replace a file
// that another program wrote since it was opened.
// Shared workbooks have no counterpart: SaveAs accepts AccessMode xlShared and
// writes an ordinary workbook, and MultiUserEditing reads false.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "automation/automation_error.h"
#include "xls/workbook.h"

namespace migrator::automation {

// Constants of the program's type library that the members take.
inline constexpr int xlNormal = -4143;  // FileFormat: the normal workbook format
inline constexpr int xlExcel8 = 56;
inline constexpr int xlOpenXMLWorkbook = 51;  // .xlsx
inline constexpr int xlNoChange = 1;          // AccessMode
inline constexpr int xlShared = 2;
inline constexpr int xlExclusive = 3;
inline constexpr int xlGeneral = 1;  // HorizontalAlignment
inline constexpr int xlLeft = -4131;
inline constexpr int xlCenter = -4108;
inline constexpr int xlRight = -4152;
inline constexpr int xlFill = 5;
inline constexpr int xlJustify = -4130;
inline constexpr int xlCenterAcrossSelection = 7;
inline constexpr int xlDistributed = -4117;
inline constexpr int xlDiagonalDown = 5;  // Borders.Item
inline constexpr int xlDiagonalUp = 6;
inline constexpr int xlEdgeLeft = 7;
inline constexpr int xlEdgeTop = 8;
inline constexpr int xlEdgeBottom = 9;
inline constexpr int xlEdgeRight = 10;
inline constexpr int xlInsideVertical = 11;
inline constexpr int xlInsideHorizontal = 12;
inline constexpr int xlContinuous = 1;  // LineStyle
inline constexpr int xlLineStyleNone = -4142;
inline constexpr int xlColorIndexNone = -4142;  // Interior.ColorIndex
inline constexpr int xlSheetVisible = -1;       // Worksheet.Visible
inline constexpr int xlSheetHidden = 0;
inline constexpr int xlSheetVeryHidden = 2;

// The identifiers under which the application object is created.
inline constexpr const char* kExcelProgId = "Excel.Application";
inline constexpr const char* kExcelClsid = "{00024500-0000-0000-C000-000000000046}";

// A cell value as Range.Value gives it.
using Value = xls::Value;
// The value changed to text, as the automation variant conversion does: a
// number in its shortest form ("12", "0.5"), a boolean as "-1" or "0", an error
// value as its text ("#N/A"), an empty cell as "".
std::string ValueText(const Value& value);

class Application;
class Workbooks;
class Workbook;
class Sheets;
class Worksheet;
class Names;
class Name;
class Range;
class Font;
class Borders;
class Border;
class Interior;
class Window;

namespace detail {
struct AppState;
struct Document;
}  // namespace detail

// Creates the application object for a ProgID or a class identifier in braces:
// "Excel.Application" (any case) or its class identifier give a new instance;
// anything else gives none, as an unregistered class does.
std::shared_ptr<Application> CreateObject(std::string_view progIdOrClsid);

// What the target side uses to start the program. The default is
// CreateObject; tests pass one that fails to act as a machine without it.
using ApplicationFactory = std::function<std::shared_ptr<Application>(std::string_view)>;
const ApplicationFactory& DefaultApplicationFactory();

class Application {
 public:
  std::shared_ptr<automation::Workbooks> Workbooks();
  bool Visible() const;
  void SetVisible(bool visible);
  bool DisplayAlerts() const;
  void SetDisplayAlerts(bool display);
  // The workspace save (file name missing): the open workbooks are already
  // saved by Workbook.Save, so nothing is written.
  void Save();
  // Closes every open workbook without saving and ends the instance; every
  // object of it is disconnected afterwards.
  void Quit();
  // The window of the active workbook.
  std::shared_ptr<Window> ActiveWindow();

  // Whether the instance still runs (not part of the program's model; for
  // callers that clean up).
  bool Running() const;

  explicit Application(std::shared_ptr<detail::AppState> state);

 private:
  std::shared_ptr<detail::AppState> app_;
};

class Workbooks {
 public:
  // A new workbook of three empty sheets, Sheet1 to Sheet3 (template missing).
  std::shared_ptr<Workbook> Add();
  // Opens a workbook file (the other arguments missing).
  std::shared_ptr<Workbook> Open(const std::string& fileName);
  // Opens a workbook that a program already holds in memory as if it had
  // been read from `fileName`, without reading the file again; the program
  // takes it back with Workbook::Release. `book` is moved from only when
  // this succeeds.
  std::shared_ptr<Workbook> Adopt(xls::Workbook&& book, const std::string& fileName);
  // Closes every open workbook; with alerts off, changes are discarded.
  void Close();
  int Count() const;

  explicit Workbooks(std::shared_ptr<detail::AppState> state);

 private:
  std::shared_ptr<detail::AppState> app_;
};

// Workbook.SaveAs arguments; a member left empty is passed as missing.
// ConflictResolution, AddToMru, TextCodepage and TextVisualLayout are always
// missing.
struct SaveAsArgs {
  std::string fileName;
  std::optional<int> fileFormat;
  std::optional<std::string> password;
  std::optional<std::string> writeResPassword;
  std::optional<int> readOnlyRecommended;
  std::optional<int> createBackup;
  std::optional<int> accessMode;
};

class Workbook {
 public:
  std::shared_ptr<automation::Sheets> Sheets();
  std::shared_ptr<automation::Names> Names();
  void SaveAs(const SaveAsArgs& args);
  void Save();
  // SaveChanges missing or false: changes are discarded (alerts are off).
  void Close(std::optional<bool> saveChanges = {});
  bool MultiUserEditing() const;
  // Takes the workbook out of shared use; an ordinary workbook stays as it is.
  bool ExclusiveAccess();
  std::string Name() const;
  std::string FullName() const;
  // Closes the workbook if it is still open, without saving, and hands its
  // contents back, saved or not (the counterpart of Workbooks::Adopt). Works
  // after Quit too; the object holds nothing afterwards.
  xls::Workbook Release();

  Workbook(std::shared_ptr<detail::AppState> app, std::shared_ptr<detail::Document> doc);

 private:
  std::shared_ptr<detail::AppState> app_;
  std::shared_ptr<detail::Document> doc_;
};

class Sheets {
 public:
  int Count() const;
  // By 1-based position.
  std::shared_ptr<Worksheet> Item(int index);
  // By name, without regard to case.
  std::shared_ptr<Worksheet> Item(const std::string& name);

  Sheets(std::shared_ptr<detail::AppState> app, std::shared_ptr<detail::Document> doc);

 private:
  std::shared_ptr<detail::AppState> app_;
  std::shared_ptr<detail::Document> doc_;
};

class Worksheet {
 public:
  // The workbook must keep one visible sheet. Alerts are never shown.
  void Delete();
  std::string Name() const;
  void SetName(const std::string& name);
  // xlSheetVisible, xlSheetHidden or xlSheetVeryHidden.
  int Visible() const;
  // The block of cells in use; A1 for an empty sheet.
  std::shared_ptr<automation::Range> UsedRange();
  void Activate();
  // A1-style reference: "B2", "A1:C4", "$A$1", "AA1:AA1" (up to IV65536).
  std::shared_ptr<automation::Range> Range(const std::string& address);
  // Whether the sheet shows filter buttons. Only false can be set: it
  // removes the filter (buttons, criteria and its hidden name).
  bool AutoFilterMode() const;
  void SetAutoFilterMode(bool mode);

  Worksheet(std::shared_ptr<detail::AppState> app, std::shared_ptr<detail::Document> doc,
            const xls::Sheet* sheet);

 private:
  friend class automation::Range;
  std::shared_ptr<detail::AppState> app_;
  std::shared_ptr<detail::Document> doc_;
  const xls::Sheet* sheet_;
};

class Names {
 public:
  int Count() const;
  // A workbook-level name, without regard to case.
  std::shared_ptr<automation::Name> Item(const std::string& name);

  Names(std::shared_ptr<detail::AppState> app, std::shared_ptr<detail::Document> doc);

 private:
  std::shared_ptr<detail::AppState> app_;
  std::shared_ptr<detail::Document> doc_;
};

class Name {
 public:
  std::string NameText() const;
  // The reference as a formula: "=Sheet1!$A$1:$C$1".
  std::string Value() const;
  void Delete();

  Name(std::shared_ptr<detail::AppState> app, std::shared_ptr<detail::Document> doc,
       std::string name);

 private:
  size_t Index() const;
  std::shared_ptr<detail::AppState> app_;
  std::shared_ptr<detail::Document> doc_;
  std::string name_;
};

// A block of cells of one sheet. The formatting members (HorizontalAlignment,
// Font, Borders, Interior) work on whole rows (EntireRow), where the engine
// keeps a row format; on other ranges they raise E_NOTIMPL.
class Range {
 public:
  std::string Address() const;  // "$A$1:$B$1"
  // Defines a workbook-level name over the range (redefines an existing one).
  void SetName(const std::string& name);
  // The top-left cell's value.
  automation::Value Value() const;
  // The top-left cell's number format code ("General", "yyyy-mm-dd", ...).
  std::string NumberFormat() const;
  // The top-left column's width in characters.
  double ColumnWidth() const;
  // Sets the width of every column of the range: 0 to 255 characters.
  void SetColumnWidth(double width);
  void SetHorizontalAlignment(int alignment);
  std::shared_ptr<automation::Font> Font();
  std::shared_ptr<automation::Borders> Borders();
  std::shared_ptr<automation::Interior> Interior();
  // The whole rows the range spans.
  std::shared_ptr<Range> EntireRow();
  // Called without arguments: filter buttons on the first row of the range
  // (of the sheet's used range for one cell), or, when the sheet shows them
  // already, off.
  void AutoFilter();

  Range(std::shared_ptr<detail::AppState> app, std::shared_ptr<detail::Document> doc,
        const xls::Sheet* sheet, xls::Range area, bool entireRows);

 private:
  friend class automation::Font;
  friend class automation::Border;
  friend class automation::Borders;
  friend class automation::Interior;
  xls::Sheet& CheckedSheet() const;
  // Applies a row format to every row of a whole-row range.
  void FormatRows(const xls::RowFormat& format, const char* property);
  std::shared_ptr<detail::AppState> app_;
  std::shared_ptr<detail::Document> doc_;
  const xls::Sheet* sheet_;
  xls::Range area_;
  bool entireRows_;
};

class Font {
 public:
  // "Bold" or "Regular".
  void SetFontStyle(const std::string& style);
  std::string FontStyle() const;
  // In points.
  double Size() const;

  explicit Font(std::shared_ptr<automation::Range> range) : range_(std::move(range)) {}

 private:
  std::optional<xls::Font> Current() const;
  std::shared_ptr<automation::Range> range_;
};

class Borders {
 public:
  // xlEdgeLeft (7), xlEdgeTop (8), xlEdgeBottom (9), xlInsideVertical (11);
  // the other edges are known but cannot be drawn on a whole row.
  std::shared_ptr<Border> Item(int index);

  explicit Borders(std::shared_ptr<automation::Range> range) : range_(std::move(range)) {}

 private:
  std::shared_ptr<automation::Range> range_;
};

class Border {
 public:
  // xlContinuous draws a thin line.
  void SetLineStyle(int style);

  Border(std::shared_ptr<automation::Range> range, int index)
      : range_(std::move(range)), index_(index) {}

 private:
  std::shared_ptr<automation::Range> range_;
  int index_;
};

class Interior {
 public:
  // A colour of the palette, 1 to 56, filled solid.
  void SetColorIndex(int index);

  explicit Interior(std::shared_ptr<automation::Range> range) : range_(std::move(range)) {}

 private:
  std::shared_ptr<automation::Range> range_;
};

// The window of a workbook; it shows the workbook's active sheet.
class Window {
 public:
  // The rows above the split; with FreezePanes true they stay in view.
  int SplitRow() const;
  void SetSplitRow(int rows);
  int SplitColumn() const;
  void SetSplitColumn(int columns);
  bool FreezePanes() const;
  void SetFreezePanes(bool freeze);

  Window(std::shared_ptr<detail::AppState> app, std::shared_ptr<detail::Document> doc);

 private:
  xls::Sheet& ActiveSheet() const;
  std::shared_ptr<detail::AppState> app_;
  std::shared_ptr<detail::Document> doc_;
};

}  // namespace migrator::automation
