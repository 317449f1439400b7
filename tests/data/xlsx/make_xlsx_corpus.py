#!/usr/bin/python3
"""Makes the .xlsx workbooks that the engine's tests and its fuzzer start from.

  make_xlsx_corpus.py foreign OUTDIR   op_rich.xlsx, written by openpyxl: several
                                       sheets, formulas (shared ones too), merged
                                       cells, comments, hyperlinks, defined names,
                                       number formats, a chart and a picture,
                                       conditional formats, data validation,
                                       frozen panes, widths; lo_rich.xlsx, the
                                       same workbook saved by LibreOffice
  make_xlsx_corpus.py parts XLSX OUT   the parts of a package as the fuzzer's
                                       second input form (see fuzz/xlsx_fuzz.cpp)

The files are committed; run this again when they should change.
"""
import base64
import datetime
import io
import os
import shutil
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "xls"))
from make_corpus import sales_sheet, soffice_convert  # noqa: E402

# A 4 x 4 red PNG.
PNG = base64.b64decode(
    "iVBORw0KGgoAAAANSUhEUgAAAAQAAAAECAIAAAAmkwkpAAAAEklEQVR4nGP4z8DAwMDAwMAAAA8YAf+MJm6iAAAAAElFTkSuQmCC")


class Picture:
    """What openpyxl writes for a picture, without the imaging library."""

    def __init__(self, data, width=40, height=40):
        from openpyxl.drawing.image import Image
        self._impl = Image.__new__(Image)
        self._impl.ref = io.BytesIO(data)
        self._impl.format = "png"
        self._impl.width = width
        self._impl.height = height
        self._impl.anchor = "A1"
        self._impl._data = lambda: data

    @property
    def image(self):
        return self._impl


def make_openpyxl(path):
    from openpyxl import Workbook
    from openpyxl.chart import BarChart, Reference
    from openpyxl.comments import Comment
    from openpyxl.formatting.rule import CellIsRule, ColorScaleRule
    from openpyxl.styles import PatternFill
    from openpyxl.workbook.defined_name import DefinedName
    from openpyxl.worksheet.datavalidation import DataValidation

    wb = Workbook()
    ws = wb.active
    last = sales_sheet(ws)
    for r in range(2, last + 1):
        ws.cell(row=r, column=2).number_format = "#,##0.00"
        ws.cell(row=r, column=3).number_format = "0.0%"
    ws.column_dimensions["A"].width = 18
    ws.row_dimensions[1].height = 24
    ws.freeze_panes = "A2"
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
    ws.conditional_formatting.add("B2:B8", ColorScaleRule(start_type="min", start_color="FFFFFF",
                                                          end_type="max", end_color="63BE7B"))
    chart = BarChart()
    chart.title = "Quarters"
    chart.add_data(Reference(ws, min_col=2, min_row=1, max_col=5, max_row=last), titles_from_data=True)
    chart.set_categories(Reference(ws, min_col=1, min_row=2, max_row=last))
    ws.add_chart(chart, "J2")
    ws.add_image(Picture(PNG).image, "J20")

    ws2 = wb.create_sheet("Dates & text")
    ws2["A1"] = datetime.datetime(2021, 3, 4, 5, 6, 7)
    ws2["A1"].number_format = "yyyy-mm-dd hh:mm:ss"
    ws2["A2"] = datetime.date(1999, 12, 31)
    ws2["A2"].number_format = "dd.mm.yyyy"
    ws2["A3"] = True
    ws2["A4"] = "tab\tand line\nbreak, non-Latin: Привет 日本語 \U0001F600"
    for i in range(5):
        ws2.cell(row=6 + i, column=1, value=i + 1)
        ws2.cell(row=6 + i, column=2, value="=A%d*2" % (6 + i))

    ws3 = wb.create_sheet("Hidden data")
    ws3["A1"] = "secret"
    ws3.sheet_state = "hidden"

    wb.defined_names.append(DefinedName("Regions", attr_text="Sales!$A$1:$F$%d" % last))
    wb.defined_names.append(DefinedName("FirstDate", attr_text="'Dates & text'!$A$1"))
    wb.defined_names.append(DefinedName("Doubled", attr_text="SUM('Dates & text'!$B$6:$B$10)"))
    ws.print_area = "A1:F9"
    wb.save(path)


def make_foreign(outdir):
    op = os.path.join(outdir, "op_rich.xlsx")
    make_openpyxl(op)
    tmp = tempfile.mkdtemp(prefix="migrator-corpus-")
    try:
        # LibreOffice writes a workbook of its own from an .ods of the same content.
        soffice_convert(op, "ods", tmp)
        src = os.path.join(tmp, "op_rich.ods")
        os.rename(src, os.path.join(tmp, "lo_rich.ods"))
        soffice_convert(os.path.join(tmp, "lo_rich.ods"), "xlsx", outdir)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def make_parts(xlsx, out):
    with zipfile.ZipFile(xlsx) as z, open(out, "wb") as f:
        for info in z.infolist():
            f.write(b"\n=PART " + info.filename.encode() + b"\n")
            f.write(z.read(info))


if __name__ == "__main__":
    if len(sys.argv) >= 3 and sys.argv[1] == "foreign":
        make_foreign(sys.argv[2])
    elif len(sys.argv) >= 4 and sys.argv[1] == "parts":
        make_parts(sys.argv[2], sys.argv[3])
    else:
        print(__doc__)
        sys.exit(2)
