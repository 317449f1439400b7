#!/usr/bin/python3
"""Checks the sheet "typed" of a workbook made from typed_source.sql with
typed cells, read with xlrd: every cell's type, value and (for dates and
times) number format.

Usage: check_typed.py WORKBOOK

Prints one line per fault and exits with 1 when there is any; anything xlrd
logs counts as a fault.
"""
import io
import sys

import xlrd

N, D, T, B, E = "number", "date", "text", "boolean", "empty"

HEADER = ["id", "i", "ti", "yr", "bi", "bu", "de", "dw", "fl", "db", "d", "dt", "ts", "tm",
          "b1", "bo", "bw", "en", "st", "js", "vc", "bl"]

# (kind, value): numbers as floats, dates as (y, m, d, hh, mm, ss), times as
# seconds of the day, booleans as 0 or 1.
ROWS = [
    [(N, 1), (N, -7), (N, 255), (N, 2024), (N, 9007199254740992.0),
     (T, "18446744073709551615"), (N, 1234567890.12345), (T, "12345678901234567890.1234567891"),
     (N, 1.5), (N, -2.25e300), (D, (2024, 2, 29, 0, 0, 0)), (D, (2024, 2, 29, 13, 14, 15)),
     (D, (2000, 1, 1, 0, 0, 0)), ("time", 45296.789), (B, 1), (B, 1), (N, 2730), (T, "b c"),
     (T, "x,y"), (T, '{"k": 1}'), (T, "text 1"), (T, "00FF")],
    [(N, 2), (N, 0), (N, 0), (N, 1901), (T, "9007199254740993"), (T, "9007199254740993"),
     (N, -0.00001), (N, 1.5), (N, 0), (N, 0), (T, "0000-00-00"), (T, "2024-00-10 00:00:00"),
     (E, None), (T, "-01:00:00.000"), (B, 0), (B, 0), (N, 0), (T, "a"), (T, ""), (T, "[]"),
     (T, ""), (T, "")],
    [(N, 3)] + [(E, None)] * 21,
    [(N, 4), (N, 2147483647), (N, 1), (N, 2155), (T, "-9007199254740993"), (N, 0),
     (N, 99999.99999), (N, 1e-10), (N, 3.25), (N, 1e-300), (T, "1899-12-31"),
     (T, "2024-05-00 10:00:00"), (D, (2038, 1, 19, 3, 14, 7)), (T, "838:59:59.000"), (B, 1),
     (T, "7"), (N, 4095), (E, None), (T, "y"), (E, None), (T, "x"), (E, None)],
]


def main():
    log = io.StringIO()
    book = xlrd.open_workbook(sys.argv[1], logfile=log, formatting_info=True)
    faults = []
    sheet = book.sheet_by_name("typed")
    if [c.value for c in sheet.row(0)] != HEADER:
        faults.append(f"header {[c.value for c in sheet.row(0)]}")
    if sheet.nrows != len(ROWS) + 1:
        faults.append(f"{sheet.nrows} rows, expected {len(ROWS) + 1}")
    for r, row in enumerate(ROWS[: sheet.nrows - 1], start=1):
        for c, (kind, want) in enumerate(row):
            where = f"R{r + 1}C{c + 1} ({HEADER[c]})"
            cell = sheet.cell(r, c) if c < sheet.row_len(r) else xlrd.sheet.Cell(0, "")
            fmt = book.format_map[book.xf_list[cell.xf_index].format_key].format_str \
                if cell.ctype != xlrd.XL_CELL_EMPTY else ""
            got = (cell.ctype, cell.value)
            if kind == E:
                ok = cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK)
            elif kind == T:
                ok = cell.ctype == xlrd.XL_CELL_TEXT and cell.value == want
            elif kind == N:
                ok = cell.ctype == xlrd.XL_CELL_NUMBER and cell.value == want
            elif kind == B:
                ok = cell.ctype == xlrd.XL_CELL_BOOLEAN and cell.value == want
            elif kind == D:
                ok = cell.ctype == xlrd.XL_CELL_DATE and \
                    xlrd.xldate_as_tuple(cell.value, book.datemode) == want
                # A date with a time shows it; a whole day shows the date alone.
                has_time = want[3:] != (0, 0, 0)
                ok = ok and ("y" in fmt) and (("h" in fmt) == has_time)
            else:  # a time of day
                ok = cell.ctype == xlrd.XL_CELL_DATE and abs(cell.value * 86400 - want) < 1e-4 \
                    and "h" in fmt and "y" not in fmt
            if not ok:
                faults.append(f"{where}: {got!r} format {fmt!r}, expected {kind} {want!r}")
    if log.getvalue():
        faults.append("xlrd logged: " + log.getvalue().strip())
    for fault in faults[:30]:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
