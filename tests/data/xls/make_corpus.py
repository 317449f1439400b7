#!/usr/bin/python3
"""Makes the workbooks that the engine's copy tests read.

  make_corpus.py xlwt OUTDIR     xlwt_mixed.xls: several sheets, formulas,
                                 merged cells, frozen panes, number formats,
                                 fonts, borders, fills, long and non-Latin text
  make_corpus.py lo OUTDIR       lo_rich.xls and lo_names.xls, written by
                                 LibreOffice from an .xlsx made here with
                                 openpyxl (charts, comments, validation,
                                 conditional formats, links, defined names)
                                 and from lo_names.fods beside this script
  make_corpus.py attached OUTDIR lo_attached.xls (LibreOffice from openpyxl):
                                 comments, hyperlinks and merged ranges inside
                                 and outside a named table, a chart beside them
  make_corpus.py big PATH [ROWS] a workbook of more than 7 MB (xlwt)

The small files are committed; the big one is made when the tests run.
"""
import datetime
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

NON_LATIN = [
    "Привет, мир",
    "日本語のテキスト",
    "中文字符",
    "한국어",
    "مرحبا بالعالم",
    "שלום",
    "Ελληνικά",
    "emoji \U0001F600 and \U0001F680",
    "tab\tand\nnewline",
]


def make_xlwt(outdir):
    import xlwt
    wb = xlwt.Workbook(encoding="utf-8")
    head = xlwt.easyxf("font: bold on, height 240; align: horiz center, vert center; "
                       "borders: left thin, right thin, top medium, bottom double; "
                       "pattern: pattern solid, fore_colour light_yellow")
    money = xlwt.easyxf(num_format_str="#,##0.00 [$EUR]")
    date = xlwt.easyxf(num_format_str="YYYY-MM-DD")
    pct = xlwt.easyxf(num_format_str="0.0%")
    italic = xlwt.easyxf("font: italic on, colour red; align: wrap on")

    ws = wb.add_sheet("Orders")
    cols = ["id", "customer", "amount", "date", "share", "note"]
    for c, name in enumerate(cols):
        ws.write(0, c, name, head)
    for r in range(1, 120):
        ws.write(r, 0, r)
        ws.write(r, 1, "Customer %03d %s" % (r, NON_LATIN[r % len(NON_LATIN)]))
        ws.write(r, 2, r * 10.25 - 7, money)
        ws.write(r, 3, datetime.date(2020, 1, 1) + datetime.timedelta(days=r), date)
        ws.write(r, 4, r / 200.0, pct)
        if r % 7 == 0:
            ws.write(r, 5, "note " * (r % 5 + 1), italic)
    ws.write(121, 1, "Total")
    ws.write(121, 2, xlwt.Formula("SUM(C2:C120)"), money)
    ws.write(122, 2, xlwt.Formula('IF(C122>1000;"big";"small")'))
    ws.write_merge(124, 125, 0, 3, "merged block", head)
    ws.col(1).width = 256 * 40
    ws.col(5).width = 256 * 25
    ws.row(0).height_mismatch = True
    ws.row(0).height = 20 * 30
    ws.set_panes_frozen(True)
    ws.set_horz_split_pos(1)
    ws.set_vert_split_pos(1)

    ws2 = wb.add_sheet("Текст и числа")
    long_latin = "".join(chr(ord("a") + i % 26) for i in range(32767))
    long_wide = "".join(chr(0x4E00 + i % 500) for i in range(20000))
    ws2.write(0, 0, long_latin)
    ws2.write(1, 0, long_wide)
    for i, t in enumerate(NON_LATIN):
        ws2.write(3 + i, 0, t)
        ws2.write(3 + i, 1, xlwt.Formula('LEN(A%d)' % (4 + i)))
    ws2.write(15, 0, True)
    ws2.write(16, 0, False)
    ws2.write(17, 0, -0.5)
    ws2.write(18, 0, 1e-300)
    ws2.write(19, 0, 123456789012345.0)
    ws2.write(20, 0, xlwt.Formula("Orders!C2*2"))
    ws2.write(21, 0, xlwt.Formula("1/0"))

    ws3 = wb.add_sheet("Hidden")
    ws3.write(0, 0, "not shown")
    ws3.visibility = 1

    ws4 = wb.add_sheet("Blank formats")
    for r in range(5):
        for c in range(5):
            ws4.write(r, c, None, head if (r + c) % 2 else italic)
    wb.save(os.path.join(outdir, "xlwt_mixed.xls"))


def make_big(path, rows=62000):
    """About 620,000 distinct strings: over 7 MB, so the compound file needs
    more than 109 FAT sectors."""
    import xlwt
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Big")
    for r in range(rows):
        row = ws.row(r)
        for c in range(10):
            row.write(c, "r%06d c%d %s" % (r, c, "ÄÖÜ" if c == 3 else "data"))
        if r % 1000 == 0:
            ws.flush_row_data()
    ws2 = wb.add_sheet("Numbers")
    for r in range(2000):
        for c in range(10):
            ws2.write(r, c, r * 10 + c + 0.5)
    wb.save(path)


def soffice_convert(src, fmt, outdir):
    profile = tempfile.mkdtemp(prefix="migrator-lo-")
    try:
        subprocess.run(["soffice", "-env:UserInstallation=file://" + profile, "--headless",
                        "--convert-to", fmt, "--outdir", outdir, src],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    finally:
        shutil.rmtree(profile, ignore_errors=True)


def sales_sheet(ws):
    """The sheet Sales: regions by quarter with their totals as formulas and
    a formatted header. Gives the last row of the regions."""
    from openpyxl.styles import Alignment, Border, Font, PatternFill, Side
    ws.title = "Sales"
    ws.append(["Region", "Q1", "Q2", "Q3", "Q4", "Total"])
    regions = ["North", "South", "East", "West", "Zentral", "Восток", "東部"]
    for i, name in enumerate(regions):
        r = i + 2
        ws.append([name, 100 + i * 11, 90 + i * 7, 120 - i * 3, 80 + i * 13, None])
        ws.cell(row=r, column=6, value="=SUM(B%d:E%d)" % (r, r))
    thin = Side(style="thin")
    for cell in ws[1]:
        cell.font = Font(bold=True, name="Arial", size=11)
        cell.alignment = Alignment(horizontal="center")
        cell.fill = PatternFill("solid", fgColor="FFFF00")
        cell.border = Border(top=thin, bottom=thin, left=thin, right=thin)
    return len(regions) + 1


def make_lo(outdir):
    from openpyxl import Workbook
    from openpyxl.chart import BarChart, LineChart, Reference
    from openpyxl.comments import Comment
    from openpyxl.formatting.rule import CellIsRule
    from openpyxl.styles import PatternFill
    from openpyxl.workbook.defined_name import DefinedName
    from openpyxl.worksheet.datavalidation import DataValidation

    wb = Workbook()
    ws = wb.active
    last = sales_sheet(ws)
    ws.cell(row=last + 1, column=1, value="Sum")
    for c in "BCDEF":
        ws["%s%d" % (c, last + 1)] = "=SUM(%s2:%s%d)" % (c, c, last)
    for r in range(2, last + 2):
        ws.cell(row=r, column=2).number_format = "#,##0.00"
        ws.cell(row=r, column=3).number_format = "0%"
    ws.column_dimensions["A"].width = 18
    ws.column_dimensions["F"].width = 12.5
    ws.row_dimensions[1].height = 24
    ws.freeze_panes = "B2"
    ws.merge_cells("A12:C13")
    ws["A12"] = "merged note"
    ws["A2"].comment = Comment("a comment on North", "tester")
    ws["H1"] = "link"
    ws["H1"].hyperlink = "https://example.org/"
    dv = DataValidation(type="whole", operator="between", formula1="0", formula2="1000")
    ws.add_data_validation(dv)
    dv.add("B2:E8")
    ws.conditional_formatting.add("F2:F8", CellIsRule(operator="greaterThan", formula=["450"],
                                                      fill=PatternFill("solid", fgColor="FFC7CE")))
    chart = BarChart()
    chart.title = "Quarters"
    chart.add_data(Reference(ws, min_col=2, min_row=1, max_col=5, max_row=last), titles_from_data=True)
    chart.set_categories(Reference(ws, min_col=1, min_row=2, max_row=last))
    ws.add_chart(chart, "J2")

    ws2 = wb.create_sheet("Dates & text")
    ws2["A1"] = datetime.datetime(2021, 3, 4, 5, 6, 7)
    ws2["A1"].number_format = "YYYY-MM-DD HH:MM:SS"
    ws2["A2"] = datetime.date(1999, 12, 31)
    ws2["A2"].number_format = "DD.MM.YYYY"
    ws2["A3"] = 0.25
    ws2["A3"].number_format = "[h]:mm"
    ws2["A4"] = True
    ws2["A5"] = "x" * 5000
    ws2["A6"] = "中" * 3000
    for i, t in enumerate(NON_LATIN):
        ws2.cell(row=8 + i, column=1, value=t)
        ws2.cell(row=8 + i, column=2, value="=LEN(A%d)" % (8 + i))
        ws2.cell(row=8 + i, column=3, value="=B%d*2" % (8 + i))  # filled down: shared formulas
    line = LineChart()
    line.add_data(Reference(ws2, min_col=2, min_row=8, max_row=8 + len(NON_LATIN) - 1))
    ws2.add_chart(line, "E2")

    ws3 = wb.create_sheet("Hidden data")
    ws3["A1"] = "secret"
    ws3.sheet_state = "hidden"

    wb.defined_names.append(DefinedName("Regions", attr_text="Sales!$A$2:$A$%d" % last))
    wb.defined_names.append(DefinedName("Totals", attr_text="Sales!$F$2:$F$%d" % last))
    wb.defined_names.append(DefinedName("FirstDate", attr_text="'Dates & text'!$A$1"))
    wb.defined_names.append(DefinedName("LocalNote", attr_text="'Dates & text'!$A$5", localSheetId=1))
    ws.print_area = "A1:F9"

    tmp = tempfile.mkdtemp(prefix="migrator-corpus-")
    try:
        src = os.path.join(tmp, "lo_rich.xlsx")
        wb.save(src)
        soffice_convert(src, "xls", outdir)
        soffice_convert(os.path.join(HERE, "lo_names.fods"), "xls", outdir)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def make_attached(outdir):
    from openpyxl import Workbook
    from openpyxl.chart import BarChart, Reference
    from openpyxl.comments import Comment
    from openpyxl.workbook.defined_name import DefinedName

    wb = Workbook()
    ws = wb.active
    ws.title = "Orders"
    # The table "orders" is A1:C6. Inside it: comments on A1 and C3, a link on
    # B4, the merged range A5:B5, and B6:D6 reaching out of it. Outside: a
    # comment on E2, a link on E4, the merged range E8:F9 and a chart.
    ws.append(["id", "name", "note"])
    for i in range(1, 6):
        ws.append([i, "name %d" % i, "note %d" % i])
    ws["A1"].comment = Comment("first comment, inside", "tester")
    ws["C3"].comment = Comment("second comment, inside", "tester")
    ws["E2"] = "kept"
    ws["E2"].comment = Comment("comment outside", "tester")
    ws["B4"].hyperlink = "https://example.org/inside"
    ws["E4"] = "kept link"
    ws["E4"].hyperlink = "https://example.org/outside"
    ws.merge_cells("A5:B5")
    ws.merge_cells("B6:D6")
    ws["E8"] = "kept merge"
    ws.merge_cells("E8:F9")
    for r in range(1, 5):
        ws.cell(row=r, column=8, value=r * 10)
    chart = BarChart()
    chart.add_data(Reference(ws, min_col=8, min_row=1, max_row=4))
    ws.add_chart(chart, "H6")
    wb.defined_names.append(DefinedName("orders", attr_text="Orders!$A$1:$C$6"))

    # A sheet dropped whole: everything on it goes.
    ws2 = wb.create_sheet("Notes")
    ws2.append(["a", "b"])
    ws2.append([1, 2])
    ws2["A1"].comment = Comment("on the sheet", "tester")
    ws2["B2"].hyperlink = "https://example.org/sheet"
    ws2.merge_cells("A3:B3")

    tmp = tempfile.mkdtemp(prefix="migrator-corpus-")
    try:
        src = os.path.join(tmp, "lo_attached.xlsx")
        wb.save(src)
        soffice_convert(src, "xls", outdir)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        print(__doc__)
        sys.exit(2)
    what, where = sys.argv[1], sys.argv[2]
    if what == "xlwt":
        make_xlwt(where)
    elif what == "lo":
        make_lo(where)
    elif what == "attached":
        make_attached(where)
    elif what == "big":
        make_big(where, int(sys.argv[3]) if len(sys.argv) > 3 else 62000)
    else:
        print(__doc__)
        sys.exit(2)
