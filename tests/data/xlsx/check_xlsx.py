#!/usr/bin/python3
"""Checks .xlsx workbooks with openpyxl, as an independent reader.

  check_xlsx.py engine FILE          the workbook xlsx_interop_test writes: values,
                                     number formats and dates, header formatting,
                                     frozen first row, widths, merged cells, names
  check_xlsx.py same ORIG COPY [--grown NAME]
                                     COPY keeps every part of ORIG's package and
                                     everything openpyxl sees of it; with --grown,
                                     the defined name NAME and its sheet have one
                                     row more at the end
  check_xlsx.py rows FILE N          N rows of the pattern the test writes, cell
                                     for cell (openpyxl's read-only mode)
  check_xlsx.py migrated FILE N      the table "whole" the migration test fills
                                     from a sequence: a header and N rows, cell
                                     for cell

Prints what differs and exits 1, or exits 0.
"""
import datetime
import sys
import zipfile

import openpyxl
from openpyxl.utils.cell import range_boundaries

problems = []


def expect(what, got, want):
    if got != want:
        problems.append("%s: %r, expected %r" % (what, got, want))


def check_engine(path):
    wb = openpyxl.load_workbook(path)
    expect("sheets", wb.sheetnames, ["Data", "Hidden"])
    ws = wb["Data"]
    expect("hidden sheet", wb["Hidden"].sheet_state, "hidden")
    expect("header", [c.value for c in ws[1]][:4], ["id", "name", "when", "amount"])
    for r in range(2, 12):
        expect("id %d" % r, ws.cell(r, 1).value, r - 1)
        expect("name %d" % r, ws.cell(r, 2).value, "name %d \u00e9\u65e5\U0001F600" % (r - 1))
        expect("when %d" % r, ws.cell(r, 3).value, datetime.datetime(2024, 1, r - 1, 12, 30))
        expect("amount %d" % r, ws.cell(r, 4).value, (r - 1) * 1.25)
    expect("date format", ws.cell(2, 3).number_format, "yyyy-mm-dd hh:mm")
    expect("money format", ws.cell(2, 4).number_format, "#,##0.00")
    expect("boolean", ws["F2"].value, True)
    expect("error", ws["F3"].value, "#DIV/0!")
    for c in ws[1][:4]:
        expect("bold " + c.coordinate, c.font.b, True)
        expect("centred " + c.coordinate, c.alignment.horizontal, "center")
        expect("top border " + c.coordinate, c.border.top.style, "thin")
        expect("bottom border " + c.coordinate, c.border.bottom.style, "thin")
        expect("fill " + c.coordinate, c.fill.fill_type, "solid")
        expect("fill colour " + c.coordinate, c.fill.fgColor.indexed, 22)
    expect("frozen", ws.freeze_panes, "A2")
    expect("width B", ws.column_dimensions["B"].width, 24.5)
    expect("merged", [str(r) for r in ws.merged_cells.ranges], ["A20:C21"])
    names = {n.name: n.attr_text for n in wb.defined_names.definedName}
    expect("names", names, {"Table1": "Data!$A$1:$D$11"})


def parts(path):
    with zipfile.ZipFile(path) as z:
        return {i.filename: z.read(i) for i in z.infolist()}


# The parts the engine writes anew; all others go over byte for byte.
def rewritten(name):
    return (name in ("[Content_Types].xml", "xl/workbook.xml", "xl/styles.xml",
                     "xl/sharedStrings.xml") or name.startswith("xl/worksheets/sheet")
            or "/_rels/" in name or name.startswith("_rels/"))


def sheet_view(ws, skip_row):
    cells = {}
    for row in ws.iter_rows():
        for c in row:
            if c.row == skip_row:
                continue
            if c.value is None and not c.has_style:
                continue
            cells[c.coordinate] = (c.value, c.number_format, c.font.b, c.font.i,
                                   c.fill.fill_type, str(c.fill.fgColor.rgb), c.border.top.style,
                                   c.border.bottom.style, c.alignment.horizontal,
                                   c.comment.text if c.comment else None,
                                   c.hyperlink.target if c.hyperlink else None)
    return {
        "cells": cells,
        "merged": sorted(str(r) for r in ws.merged_cells.ranges),
        "frozen": ws.freeze_panes,
        "widths": {k: d.width for k, d in ws.column_dimensions.items() if d.customWidth},
        "heights": {k: d.height for k, d in ws.row_dimensions.items()
                    if d.customHeight and k != skip_row},
        "validation": sorted((str(v.sqref), v.type, v.formula1, v.formula2)
                             for v in ws.data_validations.dataValidation),
        "conditional": sorted((str(cf.sqref), tuple((r.type, tuple(r.formula or ()))
                                                    for r in cf.rules))
                              for cf in ws.conditional_formatting),
        "charts": len(ws._charts),
        "print area": ws.print_area,
        "state": ws.sheet_state,
    }


def check_same(orig, copy, grown):
    a, b = parts(orig), parts(copy)
    for name, data in a.items():
        # The engine writes texts in their cells, without a table of them.
        if name not in b and name != "xl/sharedStrings.xml":
            problems.append("part %s is lost" % name)
        elif not rewritten(name) and b[name] != data:
            problems.append("part %s changed" % name)
    for name in b:
        if name not in a:
            problems.append("part %s is new" % name)
    wa, wb = openpyxl.load_workbook(orig), openpyxl.load_workbook(copy)
    expect("sheets", wb.sheetnames, wa.sheetnames)
    names_a = {n.name: (n.attr_text, n.localSheetId) for n in wa.defined_names.definedName}
    names_b = {n.name: (n.attr_text, n.localSheetId) for n in wb.defined_names.definedName}
    skip = {}
    if grown:
        text, local = names_a[grown]
        sheet, area = text.rsplit("!", 1)
        sheet = sheet.strip("'")
        c1, r1, c2, r2 = range_boundaries(area.replace("$", ""))
        skip[sheet] = r2 + 1
        names_a[grown] = (text[:text.rfind("$") + 1] + str(r2 + 1), local)
    expect("names", names_b, names_a)
    for title in wa.sheetnames:
        va = sheet_view(wa[title], skip.get(title))
        vb = sheet_view(wb[title], skip.get(title))
        for key in va:
            expect("%s: %s" % (title, key), vb[key], va[key])


def check_rows(path, n):
    wb = openpyxl.load_workbook(path, read_only=True)
    ws = wb.active
    count = 0
    for i, row in enumerate(ws.iter_rows(values_only=True)):
        want = ("row %d" % i, i, i / 8, datetime.datetime(2020, 1, 1) + datetime.timedelta(days=i % 3000),
                None if i % 4 == 0 else "t%d" % (i % 100))
        if tuple(row[:5]) != want:
            problems.append("row %d: %r, expected %r" % (i + 1, row, want))
            if len(problems) > 10:
                break
        count += 1
    expect("rows", count, n)


def day_text(value):
    if isinstance(value, datetime.datetime):
        return value.date().isoformat()
    return str(value)[:10]


def check_migrated(path, n):
    wb = openpyxl.load_workbook(path, read_only=True)
    ws = wb["whole"]
    rows = ws.iter_rows(values_only=True)
    expect("header", tuple(next(rows, ())[:5]), ("id", "name", "amount", "day", "note"))
    count = 0
    for i, row in enumerate(rows, start=1):
        day = (datetime.date(2020, 1, 1) + datetime.timedelta(days=i % 3000)).isoformat()
        # Numbers arrive as numbers or as the server's text of them.
        got = (float(row[0]), row[1], float(row[2]), day_text(row[3]),
               row[4] if len(row) > 4 else None)
        want = (float(i), "row %d" % i, i / 8, day, None if i % 4 == 0 else "t%d" % (i % 100))
        if got != want:
            problems.append("row %d: %r, expected %r" % (i + 1, row, want))
            if len(problems) > 10:
                break
        count += 1
    expect("rows", count, n)


if __name__ == "__main__":
    args = sys.argv[1:]
    if len(args) == 2 and args[0] == "engine":
        check_engine(args[1])
    elif len(args) in (3, 5) and args[0] == "same":
        check_same(args[1], args[2], args[4] if len(args) == 5 and args[3] == "--grown" else None)
    elif len(args) == 3 and args[0] == "rows":
        check_rows(args[1], int(args[2]))
    elif len(args) == 3 and args[0] == "migrated":
        check_migrated(args[1], int(args[2]))
    else:
        print(__doc__)
        sys.exit(2)
    for p in problems:
        print(p)
    sys.exit(1 if problems else 0)
