#!/usr/bin/python3
"""Checks with xlrd that every sheet of a workbook has a formatted header row.

Usage: check_heads.py FILE [SHEET:COLUMN=WIDTH ...]

On every sheet: the panes are frozen below row 1; every cell of row 1 and the
row's own format are bold, centred, filled solid with palette colour 8 of the
spreadsheet program (cyan, the file's colour index 15) and have thin top,
bottom and left lines and, but for the last column, a thin right line.
Each SHEET:COLUMN=WIDTH argument (COLUMN from 1, WIDTH in characters, or
"none" for no width) is checked against the sheet's column information.
Prints one line per fault and exits with 1 when there is any; anything xlrd
logs counts as a fault.
"""
import io
import sys

import xlrd

THIN = 1
CENTRE = 2
CYAN = (0, 255, 255)


def check_xf(book, xfx, where, last_column, faults):
    xf = book.xf_list[xfx]
    font = book.font_list[xf.font_index]
    if not font.bold:
        faults.append(f"{where}: not bold")
    if xf.alignment.hor_align != CENTRE:
        faults.append(f"{where}: horizontal alignment {xf.alignment.hor_align}")
    bg = xf.background
    if bg.fill_pattern != 1:
        faults.append(f"{where}: fill pattern {bg.fill_pattern}")
    if bg.pattern_colour_index - 7 != 8 or book.colour_map.get(bg.pattern_colour_index) != CYAN:
        faults.append(f"{where}: fill colour index {bg.pattern_colour_index} "
                      f"({book.colour_map.get(bg.pattern_colour_index)})")
    b = xf.border
    for name, style in (("top", b.top_line_style), ("bottom", b.bottom_line_style),
                        ("left", b.left_line_style)):
        if style != THIN:
            faults.append(f"{where}: {name} line {style}")
    if not last_column and b.right_line_style != THIN:
        faults.append(f"{where}: right line {b.right_line_style}")


def main():
    log = io.StringIO()
    book = xlrd.open_workbook(sys.argv[1], formatting_info=True, logfile=log)
    faults = []
    for sheet in book.sheets():
        if not sheet.panes_are_frozen or sheet.horz_split_pos != 1 or sheet.vert_split_pos != 0:
            faults.append(f"{sheet.name}: panes frozen={sheet.panes_are_frozen} "
                          f"rows={sheet.horz_split_pos} columns={sheet.vert_split_pos}")
        info = sheet.rowinfo_map.get(0)
        if info is None or not info.has_default_xf_index:
            faults.append(f"{sheet.name}: row 1 has no format of its own")
        else:
            check_xf(book, info.xf_index, f"{sheet.name} row 1", True, faults)
        if sheet.nrows > 0:
            for c in range(sheet.ncols):
                check_xf(book, sheet.cell_xf_index(0, c), f"{sheet.name}!{c + 1}", c == 255,
                         faults)
    for spec in sys.argv[2:]:
        name, rest = spec.split(":", 1)
        column, width = rest.split("=", 1)
        sheet = book.sheet_by_name(name)
        info = sheet.colinfo_map.get(int(column) - 1)
        if width == "none":
            if info is not None:
                faults.append(f"{name} column {column}: width {info.width / 256} set")
        elif info is None:
            faults.append(f"{name} column {column}: no width")
        elif abs(info.width / 256 - float(width)) > 1e-9:
            faults.append(f"{name} column {column}: width {info.width / 256}, not {width}")
    if log.getvalue().strip():
        faults.append("xlrd logged: " + log.getvalue().strip())
    for fault in faults:
        print(fault)
    if not faults:
        print("OK")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
