#!/usr/bin/env python3
"""Checks the filter buttons of a workbook as other programs read them.

check_filters.py BOOK.xls|BOOK.xlsx [SHEET=A1:C4 ...]

Each SHEET named must have an automatic filter over exactly that range, kept
as one hidden built-in _FilterDatabase name local to the sheet; every other
sheet must have none. An .xlsx workbook is read with openpyxl (the sheet's
auto_filter.ref) and its workbook part (the defined names); an .xls workbook
with xlrd, which must open it without a word of complaint. Prints one line
per fault and exits with 1 when there is any.
"""

import io
import re
import sys
import zipfile


def col_name(c):
    s = ""
    c += 1
    while c:
        c, r = divmod(c - 1, 26)
        s = chr(65 + r) + s
    return s


def check_xlsx(path, want, faults):
    import openpyxl

    wb = openpyxl.load_workbook(path)
    for ws in wb.worksheets:
        got = ws.auto_filter.ref
        if got != want.get(ws.title):
            faults.append(f"{ws.title}: openpyxl reads the filter {got!r}, not {want.get(ws.title)!r}")
    with zipfile.ZipFile(path) as z:
        book = z.read("xl/workbook.xml").decode("utf-8")
    names = re.findall(r"<definedName\b([^>]*)>([^<]*)</definedName>", book)
    sheets = re.findall(r"<sheet\b[^>]*\bname=\"([^\"]*)\"", book)
    seen = {}
    for attrs, text in names:
        if 'name="_xlnm._FilterDatabase"' not in attrs:
            continue
        local = re.search(r'localSheetId="(\d+)"', attrs)
        if not local or not re.search(r'hidden="(1|true)"', attrs):
            faults.append(f"a _FilterDatabase name is not hidden and local to a sheet: {attrs}")
            continue
        sheet = sheets[int(local.group(1))]
        seen[sheet] = seen.get(sheet, 0) + 1
        ref = text.split("!")[-1].replace("$", "")
        if ref != want.get(sheet):
            faults.append(f"{sheet}: the _FilterDatabase name refers to {ref}, not {want.get(sheet)}")
    for sheet in want:
        if seen.get(sheet, 0) != 1:
            faults.append(f"{sheet}: {seen.get(sheet, 0)} _FilterDatabase names, not one")


def check_xls(path, want, faults):
    import xlrd

    log = io.StringIO()
    book = xlrd.open_workbook(path, logfile=log)
    if log.getvalue().strip():
        faults.append("xlrd complains: " + log.getvalue().strip())
    seen = {}
    for n in book.name_obj_list:
        if n.name != "_FilterDatabase":
            continue
        if not (n.hidden and n.builtin and 0 <= n.scope < book.nsheets):
            faults.append(f"_FilterDatabase is not hidden, built-in and local: "
                          f"hidden {n.hidden} builtin {n.builtin} scope {n.scope}")
            continue
        sheet = book.sheet_by_index(n.scope).name
        seen[sheet] = seen.get(sheet, 0) + 1
        _, rlo, rhi, clo, chi = n.area2d()
        ref = f"{col_name(clo)}{rlo + 1}"
        if (rhi, chi) != (rlo + 1, clo + 1):
            ref += f":{col_name(chi - 1)}{rhi}"
        if ref != want.get(sheet):
            faults.append(f"{sheet}: the _FilterDatabase name refers to {ref}, not {want.get(sheet)}")
    for sheet in {s.name for s in book.sheets()} | set(want):
        expected = 1 if sheet in want else 0
        if seen.get(sheet, 0) != expected:
            faults.append(f"{sheet}: {seen.get(sheet, 0)} _FilterDatabase names, not {expected}")


def main():
    path = sys.argv[1]
    want = dict(a.split("=", 1) for a in sys.argv[2:])
    faults = []
    if path.lower().endswith(".xlsx"):
        check_xlsx(path, want, faults)
    else:
        check_xls(path, want, faults)
    for f in faults:
        print(f)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
