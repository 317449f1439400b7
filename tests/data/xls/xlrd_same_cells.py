#!/usr/bin/python3
"""Compares blocks of cells of two workbooks as xlrd reads them.

Usage: xlrd_same_cells.py A.xls B.xls BLOCKS

BLOCKS is JSON: a list of [sheetA, firstRow, firstCol, lastRow, lastCol,
sheetB, firstRowB, firstColB], rows and columns from 0. Every cell of the
block in A is compared with the cell at the same offset in B, by type and
value. Prints each difference and exits 1 when there is one, or when xlrd
wrote anything to its log.
"""
import io
import json
import sys

import xlrd


def cell(sheet, r, c):
    if r >= sheet.nrows or c >= sheet.ncols:
        return (xlrd.XL_CELL_EMPTY, "")
    k = sheet.cell(r, c)
    return (k.ctype, k.value)


def main():
    log = io.StringIO()
    a = xlrd.open_workbook(sys.argv[1], logfile=log, verbosity=0)
    b = xlrd.open_workbook(sys.argv[2], logfile=log, verbosity=0)
    compared = differ = 0
    for sa, r0, c0, r1, c1, sb, rb, cb in json.loads(sys.argv[3]):
        x = a.sheet_by_name(sa)
        y = b.sheet_by_name(sb)
        for r in range(r0, r1 + 1):
            for c in range(c0, c1 + 1):
                p = cell(x, r, c)
                q = cell(y, rb + r - r0, cb + c - c0)
                compared += 1
                if p != q:
                    differ += 1
                    print("%s!R%dC%d %r != %s!R%dC%d %r" % (sa, r, c, p, sb, rb + r - r0,
                                                           cb + c - c0, q))
    if log.getvalue().strip():
        print("xlrd log: " + log.getvalue())
        differ += 1
    print("%d cells compared, %d differ" % (compared, differ))
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
