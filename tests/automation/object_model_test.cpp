// The automation object model on the workbook engine: what each member does
// to a workbook, and how members fail.

#include <gtest/gtest.h>

#include <filesystem>

#include "automation/excel.h"
#include "testlib/testlib.h"
#include "xls/workbook.h"

namespace migrator::automation {
namespace {

using migrator::testing::TempDir;

// Runs `f` and returns the code of the AutomationError it raised (0 if none).
template <class F>
HRESULT CodeOf(F&& f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return e.code();
  }
  return 0;
}

std::shared_ptr<Application> Start() {
  auto app = CreateObject("Excel.Application");
  EXPECT_NE(app, nullptr);
  app->SetVisible(false);
  app->SetDisplayAlerts(false);
  return app;
}

xls::Workbook LoadOrDie(const std::string& path) {
  auto wb = xls::Workbook::Load(path);
  EXPECT_TRUE(wb.ok()) << (wb.ok() ? "" : wb.message());
  return std::move(wb.value());
}

TEST(CreateObject, KnowsOnlyTheSpreadsheetProgram) {
  EXPECT_NE(CreateObject("Excel.Application"), nullptr);
  EXPECT_NE(CreateObject("excel.application"), nullptr);
  EXPECT_NE(CreateObject("{00024500-0000-0000-C000-000000000046}"), nullptr);
  EXPECT_EQ(CreateObject("Word.Application"), nullptr);
  EXPECT_EQ(CreateObject("{00000000-0000-0000-0000-000000000000}"), nullptr);
  EXPECT_EQ(CreateObject(""), nullptr);
}

TEST(ErrorMessage, FollowsTheErrorExceptionRules) {
  EXPECT_EQ(ErrorMessage(DISP_E_EXCEPTION), "Exception occurred.");
  EXPECT_EQ(ErrorMessage(DISP_E_BADINDEX), "Invalid index.");
  // No system text: the dispatch range gives a number relative to its start.
  EXPECT_EQ(ErrorMessage(hr::Code(0x80040201u)), "IDispatch error #1");
  EXPECT_EQ(ErrorMessage(hr::Code(0x8004FFFFu)), "IDispatch error #65023");
  EXPECT_EQ(ErrorMessage(hr::Code(0x80040200u)), "Unknown error 0x80040200");
  EXPECT_EQ(ErrorMessage(hr::Code(0x80050000u)), "Unknown error 0x80050000");
  EXPECT_EQ(ErrorMessage(kExcelError), "Unknown error 0x800A03EC");
}

TEST(Workbooks, NewWorkbookHasThreeSheetsAndSavesAsAnOrdinaryWorkbook) {
  TempDir dir;
  auto app = Start();
  auto book = app->Workbooks()->Add();
  auto sheets = book->Sheets();
  ASSERT_EQ(sheets->Count(), 3);
  EXPECT_EQ(sheets->Item(1)->Name(), "Sheet1");
  EXPECT_EQ(sheets->Item(3)->Name(), "Sheet3");
  sheets->Item(2)->Delete();
  sheets->Item(1)->Delete();
  ASSERT_EQ(sheets->Count(), 1);
  EXPECT_EQ(sheets->Item(1)->Name(), "Sheet3");

  const std::string path = (dir / "new.xls").string();
  SaveAsArgs args;
  args.fileName = path;
  args.fileFormat = xlNormal;
  args.password = "";
  args.writeResPassword = "";
  args.readOnlyRecommended = 0;
  args.createBackup = 0;
  args.accessMode = xlShared;
  book->SaveAs(args);
  EXPECT_FALSE(book->MultiUserEditing());
  EXPECT_TRUE(book->ExclusiveAccess());
  app->Quit();

  auto saved = LoadOrDie(path);
  ASSERT_EQ(saved.sheetCount(), 1u);
  EXPECT_EQ(saved.sheet(0).name(), "Sheet3");
}

TEST(Workbooks, SaveAsRefusesWhatItCannotWrite) {
  TempDir dir;
  auto app = Start();
  auto book = app->Workbooks()->Add();
  SaveAsArgs args;
  args.fileName = (dir / "a.xls").string();
  args.fileFormat = 6;  // text (CSV)
  EXPECT_EQ(CodeOf([&] { book->SaveAs(args); }), hr::E_NOTIMPL);
  args.fileFormat = xlNormal;
  args.password = "secret";
  EXPECT_EQ(CodeOf([&] { book->SaveAs(args); }), hr::E_NOTIMPL);
  args.password.reset();
  args.accessMode = 7;
  EXPECT_EQ(CodeOf([&] { book->SaveAs(args); }), kExcelError);
  EXPECT_FALSE(std::filesystem::exists(args.fileName));

  // With alerts on, an existing file is not replaced (nobody can say yes).
  args.accessMode.reset();
  testing::WriteFile(args.fileName, "keep");
  app->SetDisplayAlerts(true);
  EXPECT_EQ(CodeOf([&] { book->SaveAs(args); }), kExcelError);
  EXPECT_EQ(testing::ReadFile(args.fileName), "keep");
  app->SetDisplayAlerts(false);
  book->SaveAs(args);
  EXPECT_EQ(LoadOrDie(args.fileName).sheetCount(), 3u);

  // A new workbook cannot be saved before it has a file.
  auto other = app->Workbooks()->Add();
  EXPECT_EQ(CodeOf([&] { other->Save(); }), kExcelError);
  // Its first file's name, or the format given, chooses the format; a saved
  // workbook keeps its own.
  args.fileFormat.reset();
  args.fileName = (dir / "b.xlsx").string();
  other->SaveAs(args);
  EXPECT_EQ(LoadOrDie(args.fileName).format(), xls::FileFormat::kXlsx);
  args.fileName = (dir / "c.xls").string();
  other->SaveAs(args);
  EXPECT_EQ(LoadOrDie(args.fileName).format(), xls::FileFormat::kXlsx);
  args.fileFormat = xlExcel8;
  other->SaveAs(args);
  EXPECT_EQ(LoadOrDie(args.fileName).format(), xls::FileFormat::kXls);
  EXPECT_EQ(LoadOrDie(args.fileName).sheetCount(), 3u);
}

TEST(Workbooks, OpenAndCloseFailures) {
  TempDir dir;
  auto app = Start();
  EXPECT_EQ(CodeOf([&] { app->Workbooks()->Open((dir / "missing.xls").string()); }), kExcelError);
  testing::WriteFile(dir / "junk.xls", "this is not a workbook");
  try {
    app->Workbooks()->Open((dir / "junk.xls").string());
    ADD_FAILURE() << "a file that is no workbook opened";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.code(), kExcelError);
    EXPECT_NE(e.description().find("junk.xls"), std::string::npos);
  }
  // No workbook open: there is no active window.
  EXPECT_EQ(CodeOf([&] { app->ActiveWindow(); }), kExcelError);
}

TEST(Objects, AreDisconnectedWhenTheirWorkbookOrApplicationGoes) {
  auto app = Start();
  auto books = app->Workbooks();
  auto book = books->Add();
  auto sheet = book->Sheets()->Item(1);
  auto kept = book->Sheets()->Item(2);
  sheet->Delete();
  EXPECT_EQ(CodeOf([&] { sheet->Name(); }), RPC_E_DISCONNECTED);
  EXPECT_EQ(kept->Name(), "Sheet2");  // other sheets keep working
  book->Close(false);
  EXPECT_EQ(CodeOf([&] { kept->Name(); }), RPC_E_DISCONNECTED);
  EXPECT_EQ(books->Count(), 0);

  auto again = books->Add();
  app->Quit();
  EXPECT_FALSE(app->Running());
  EXPECT_EQ(CodeOf([&] { again->Sheets(); }), RPC_E_DISCONNECTED);
  EXPECT_EQ(CodeOf([&] { books->Add(); }), RPC_E_DISCONNECTED);
  EXPECT_EQ(CodeOf([&] { app->Quit(); }), RPC_E_DISCONNECTED);
}

TEST(Sheets, ItemByIndexAndNameAndTheirFailures) {
  auto app = Start();
  auto sheets = app->Workbooks()->Add()->Sheets();
  EXPECT_EQ(sheets->Item("sheet2")->Name(), "Sheet2");  // names match without regard to case
  EXPECT_EQ(CodeOf([&] { sheets->Item(0); }), DISP_E_BADINDEX);
  EXPECT_EQ(CodeOf([&] { sheets->Item(4); }), DISP_E_BADINDEX);
  EXPECT_EQ(CodeOf([&] { sheets->Item("Sheet9"); }), DISP_E_BADINDEX);
  // The last sheet cannot go; bad and taken names are refused.
  sheets->Item(1)->Delete();
  sheets->Item(1)->Delete();
  EXPECT_EQ(CodeOf([&] { sheets->Item(1)->Delete(); }), kExcelError);
  auto b = app->Workbooks()->Add()->Sheets();
  EXPECT_EQ(CodeOf([&] { b->Item(1)->SetName("Sheet2"); }), kExcelError);
  EXPECT_EQ(CodeOf([&] { b->Item(1)->SetName("a/b"); }), kExcelError);
  EXPECT_EQ(CodeOf([&] { b->Item(1)->SetName(std::string(32, 'x')); }), kExcelError);
  b->Item(1)->SetName("orders");
  EXPECT_EQ(b->Item("ORDERS")->Name(), "orders");
}

TEST(Names, RangeNameDefinesANameThatFollowsItsSheet) {
  TempDir dir;
  const std::string path = (dir / "n.xls").string();
  {
    auto wb = xls::Workbook::New();
    ASSERT_TRUE(wb.AddSheet("t").ok());
    auto& s = wb.sheet(0);
    ASSERT_TRUE(s.SetText(0, 0, "id").ok());
    ASSERT_TRUE(s.SetText(0, 1, "name").ok());
    ASSERT_TRUE(s.SetNumber(2, 1, 7).ok());
    ASSERT_TRUE(wb.Save(path).ok());
  }
  auto app = Start();
  auto book = app->Workbooks()->Open(path);
  auto sheet = book->Sheets()->Item("t");
  EXPECT_EQ(sheet->UsedRange()->Address(), "$A$1:$B$3");
  sheet->UsedRange()->SetName("t");
  auto name = book->Names()->Item("T");
  EXPECT_EQ(name->Value(), "=t!$A$1:$B$3");
  sheet->SetName("my t");
  EXPECT_EQ(name->Value(), "='my t'!$A$1:$B$3");
  EXPECT_EQ(CodeOf([&] { book->Names()->Item("other"); }), kExcelError);
  EXPECT_EQ(CodeOf([&] { sheet->UsedRange()->SetName("A1"); }), kExcelError);
  EXPECT_EQ(CodeOf([&] { sheet->UsedRange()->SetName("two words"); }), kExcelError);
  name->Delete();
  EXPECT_EQ(book->Names()->Count(), 0);
  EXPECT_EQ(CodeOf([&] { name->Value(); }), RPC_E_DISCONNECTED);
  book->Save();
  book->Close();
  app->Quit();
  auto saved = LoadOrDie(path);
  EXPECT_EQ(saved.sheet(0).name(), "my t");
  EXPECT_FALSE(saved.FindName("t").has_value());
}

TEST(Range, AddressesUpToTheLastColumnAndRow) {
  auto app = Start();
  auto sheet = app->Workbooks()->Add()->Sheets()->Item(1);
  EXPECT_EQ(sheet->Range("A1:B1")->Address(), "$A$1:$B$1");
  EXPECT_EQ(sheet->Range("AA1:AA1")->Address(), "$AA$1");
  EXPECT_EQ(sheet->Range("$B$2:$A$1")->Address(), "$A$1:$B$2");
  EXPECT_EQ(sheet->Range("iv65536")->Address(), "$IV$65536");
  for (const char* bad : {"IW1", "A0", "A65537", "1", "A", "A1:", "A1:B", "A1 ", "", "AAAA1"}) {
    EXPECT_EQ(CodeOf([&] { sheet->Range(bad); }), kExcelError) << bad;
  }

  // An .xlsx workbook's sheets go on to XFD1048576; its whole rows too.
  TempDir dir;
  const std::string path = (dir / "wide.xlsx").string();
  auto made = xls::Workbook::New(xls::FileFormat::kXlsx);
  ASSERT_TRUE(made.AddSheet("Sheet1", 0));
  ASSERT_TRUE(made.Save(path));
  auto wide = app->Workbooks()->Open(path)->Sheets()->Item(1);
  EXPECT_EQ(wide->Range("IW1:xfd1048576")->Address(), "$IW$1:$XFD$1048576");
  EXPECT_EQ(wide->Range("B2")->EntireRow()->Address(), "$A$2:$XFD$2");
  for (const char* bad : {"XFE1", "A1048577", "A10485760"}) {
    EXPECT_EQ(CodeOf([&] { wide->Range(bad); }), kExcelError) << bad;
  }
  wide->Activate();
  app->ActiveWindow()->SetSplitColumn(300);
  EXPECT_EQ(app->ActiveWindow()->SplitColumn(), 300);
}

TEST(Range, ValuesAndColumnWidths) {
  auto app = Start();
  auto sheet = app->Workbooks()->Add()->Sheets()->Item(1);
  EXPECT_EQ(ValueText(sheet->Range("A1")->Value()), "");
  EXPECT_EQ(ValueText(Value::Number(12)), "12");
  EXPECT_EQ(ValueText(Value::Number(0.5)), "0.5");
  EXPECT_EQ(ValueText(Value::Boolean(true)), "-1");
  EXPECT_EQ(ValueText(Value::Error(xls::ErrorCode::kNA)), "#N/A");
  EXPECT_EQ(ValueText(Value::Text("héllo")), "héllo");

  sheet->Range("B1:C1")->SetColumnWidth(15);
  EXPECT_DOUBLE_EQ(sheet->Range("B1")->ColumnWidth(), 15);
  EXPECT_DOUBLE_EQ(sheet->Range("C5")->ColumnWidth(), 15);
  EXPECT_EQ(CodeOf([&] { sheet->Range("A1")->SetColumnWidth(256); }), kExcelError);
  EXPECT_EQ(CodeOf([&] { sheet->Range("A1")->SetColumnWidth(-1); }), kExcelError);
}

TEST(Range, HeaderRowFormattingAndFrozenPanes) {
  TempDir dir;
  const std::string path = (dir / "f.xls").string();
  auto app = Start();
  auto book = app->Workbooks()->Add();
  auto sheet = book->Sheets()->Item(2);
  sheet->Activate();
  auto window = app->ActiveWindow();
  window->SetSplitRow(1);
  EXPECT_FALSE(window->FreezePanes());
  window->SetFreezePanes(true);
  EXPECT_TRUE(window->FreezePanes());
  EXPECT_EQ(window->SplitRow(), 1);

  auto row = sheet->Range("A1:B1")->EntireRow();
  EXPECT_EQ(row->Address(), "$A$1:$IV$1");
  row->SetHorizontalAlignment(xlCenter);
  row->Font()->SetFontStyle("Bold");
  for (int edge : {xlEdgeTop, xlEdgeBottom, xlEdgeLeft, xlInsideVertical}) {
    row->Borders()->Item(edge)->SetLineStyle(xlContinuous);
  }
  row->Interior()->SetColorIndex(8);
  EXPECT_EQ(row->Font()->FontStyle(), "Bold");
  EXPECT_DOUBLE_EQ(row->Font()->Size(), 10);

  // What cannot be done on the engine is refused, not faked.
  EXPECT_EQ(CodeOf([&] { sheet->Range("A1")->SetHorizontalAlignment(xlCenter); }), hr::E_NOTIMPL);
  EXPECT_EQ(CodeOf([&] { row->Borders()->Item(xlEdgeRight)->SetLineStyle(xlContinuous); }),
            hr::E_NOTIMPL);
  EXPECT_EQ(CodeOf([&] { row->Borders()->Item(13); }), kExcelError);
  EXPECT_EQ(CodeOf([&] { row->Interior()->SetColorIndex(57); }), kExcelError);
  EXPECT_EQ(CodeOf([&] { row->SetHorizontalAlignment(12345); }), kExcelError);
  EXPECT_EQ(CodeOf([&] { row->Font()->SetFontStyle("Wavy"); }), kExcelError);

  SaveAsArgs args;
  args.fileName = path;
  book->SaveAs(args);
  app->Quit();

  auto saved = LoadOrDie(path);
  const auto& s = saved.sheet(1);
  EXPECT_EQ(s.frozenRows(), 1u);
  EXPECT_EQ(s.frozenColumns(), 0u);
  EXPECT_EQ(saved.sheet(0).frozenRows(), 0u);
  auto xf = s.RowFormatIndex(0);
  ASSERT_TRUE(xf.has_value());
  const xls::CellFormat f = saved.format(*xf);
  EXPECT_EQ(f.horizontal, xls::HAlign::kCenter);
  EXPECT_TRUE(saved.font(f.font)->bold());
  EXPECT_EQ(f.top, xls::LineStyle::kThin);
  EXPECT_EQ(f.bottom, xls::LineStyle::kThin);
  EXPECT_EQ(f.left, xls::LineStyle::kThin);
  EXPECT_EQ(f.fillPattern, 1);
  EXPECT_EQ(f.fillColor, 15);  // colour index 8 of the palette
}

}  // namespace
}  // namespace migrator::automation
