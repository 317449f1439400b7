#!/usr/bin/python3
"""Compares a workbook, read with xlrd, with the cells it should hold.

Usage: compare_workbook.py WORKBOOK EXPECTED.json

EXPECTED.json maps sheet names to their rows (the header first); a cell is a
text, or null for a cell that must be empty. The sheet must hold exactly these
rows, every non-empty cell as text. Prints one line per fault (at most 20)
and exits with 1 when there is any; anything xlrd logs counts as a fault.
"""
import io
import json
import sys

import xlrd


def main():
    log = io.StringIO()
    book = xlrd.open_workbook(sys.argv[1], logfile=log)
    with open(sys.argv[2], encoding="utf-8") as f:
        expected = json.load(f)
    faults = []
    for name, rows in expected.items():
        try:
            sheet = book.sheet_by_name(name)
        except xlrd.biffh.XLRDError:
            faults.append(f"no sheet {name!r}")
            continue
        if sheet.nrows != len(rows):
            faults.append(f"{name}: {sheet.nrows} rows, expected {len(rows)}")
        for r, row in enumerate(rows[: sheet.nrows]):
            for c, want in enumerate(row):
                cell = sheet.cell(r, c) if c < sheet.row_len(r) else None
                if want is None:
                    if cell is not None and cell.value != "":
                        faults.append(f"{name}!R{r + 1}C{c + 1}: {cell.value!r}, expected empty")
                elif cell is None or cell.ctype != xlrd.XL_CELL_TEXT or cell.value != want:
                    got = None if cell is None else (cell.ctype, cell.value[:60])
                    faults.append(f"{name}!R{r + 1}C{c + 1}: {got!r}, expected {want[:60]!r}")
    if log.getvalue():
        faults.append("xlrd logged: " + log.getvalue().strip())
    for fault in faults[:20]:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
