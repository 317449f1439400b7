#!/usr/bin/python3
"""Checks with xlrd the workbook that interop_test.cpp writes through the
engine (see MakeEngineBook there): values, header formatting, column widths,
the frozen row, defined names, and that xlrd logs no warning.

Prints what differs and exits 1, or prints OK.
"""
import io
import sys

import xlrd

NAMES = ["Ærøskøbing", "Привет", "日本語", "emoji \U0001F600", "plain"]

problems = []


def expect(what, got, want):
    if got != want:
        problems.append("%s: got %r, want %r" % (what, got, want))


def main(path):
    log = io.StringIO()
    book = xlrd.open_workbook(path, formatting_info=True, logfile=log, verbosity=0)
    expect("sheet names", book.sheet_names(), ["Customers", "Notes"])
    sh = book.sheet_by_index(0)
    expect("rows", sh.nrows, 101)
    expect("columns", sh.ncols, 3)
    expect("header", [c.value for c in sh.row(0)], ["id", "name", "city"])
    for r in range(1, 101):
        expect("A%d" % (r + 1), (sh.cell_type(r, 0), sh.cell_value(r, 0)), (xlrd.XL_CELL_NUMBER, r * 1.5))
        expect("B%d" % (r + 1), sh.cell_value(r, 1), "%s %d" % (NAMES[r % len(NAMES)], r))
        expect("C%d" % (r + 1), sh.cell_value(r, 2), "city-%d" % (r % 7))
    for c in range(3):
        xf = book.xf_list[sh.cell_xf_index(0, c)]
        font = book.font_list[xf.font_index]
        expect("header %d bold" % c, bool(font.bold), True)
        expect("header %d weight" % c, font.weight, 700)
        expect("header %d alignment" % c, xf.alignment.hor_align, 2)
        b = xf.border
        expect("header %d borders top/bottom/left/right" % c,
               (b.top_line_style, b.bottom_line_style, b.left_line_style, b.right_line_style), (1, 1, 1, 1))
        expect("header %d fill" % c, (xf.background.fill_pattern, xf.background.pattern_colour_index), (1, 8))
    data_xf = book.xf_list[sh.cell_xf_index(5, 1)]
    expect("data row bold", bool(book.font_list[data_xf.font_index].bold), False)
    expect("data row fill", data_xf.background.fill_pattern, 0)
    expect("row 1 formatted", sh.rowinfo_map[0].has_default_xf_index, True)
    expect("width A", sh.colinfo_map[0].width, 15 * 256)
    expect("width B", sh.colinfo_map[1].width, 2 * 256)
    expect("width C", sh.colinfo_map[2].width, int(20.5 * 256))
    expect("frozen", (sh.panes_are_frozen, sh.horz_split_pos, sh.vert_split_pos), (1, 1, 0))

    notes = book.sheet_by_index(1)
    expect("long text length", len(notes.cell_value(0, 0)), 32767)
    expect("boolean", (notes.cell_type(1, 0), notes.cell_value(1, 0)), (xlrd.XL_CELL_BOOLEAN, 1))
    expect("error", (notes.cell_type(2, 0), notes.cell_value(2, 0)), (xlrd.XL_CELL_ERROR, 0x2A))

    names = {n.name: n for n in book.name_obj_list}
    expect("names", sorted(names), ["Customers", "Header"])
    cust = names["Customers"].area2d(clipped=False)
    expect("Customers", (cust[0].name,) + tuple(cust[1:]), ("Customers", 0, 101, 0, 3))
    hdr = names["Header"].area2d(clipped=False)
    expect("Header", (hdr[0].name,) + tuple(hdr[1:]), ("Customers", 0, 1, 0, 3))
    expect("Header scope", names["Header"].scope, -1)
    expect("xlrd log", [l for l in log.getvalue().splitlines() if l.strip()], [])

    if problems:
        print("\n".join(problems))
        return 1
    print("OK")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
