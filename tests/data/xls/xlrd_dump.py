#!/usr/bin/python3
"""Prints what xlrd reads from a workbook, with formatting, as JSON.

Usage: xlrd_dump.py FILE [--values-only]

Everything a spreadsheet program shows is in the dump: values and types, the
resolved format of each cell (font, alignment, borders, fill, number format),
column widths, row heights, merged ranges, frozen panes, sheet visibility and
the defined names. Anything xlrd writes to its log (warnings) is reported
under "log", so that a clean file gives an empty list.
"""
import io
import json
import re
import sys

import xlrd


def font_of(book, xf):
    f = book.font_list[xf.font_index]
    return {"name": f.name, "height": f.height, "bold": bool(f.bold), "weight": f.weight,
            "italic": bool(f.italic), "underline": f.underline_type, "colour": f.colour_index,
            "struck": bool(f.struck_out)}


def xf_of(book, xfx):
    xf = book.xf_list[xfx]
    b = xf.border
    a = xf.alignment
    bg = xf.background
    fmt = book.format_map.get(xf.format_key)
    return {
        "font": font_of(book, xf),
        "format": fmt.format_str if fmt else None,
        "align": [a.hor_align, a.vert_align, a.text_wrapped, a.rotation, a.indent_level],
        "borders": [b.left_line_style, b.right_line_style, b.top_line_style, b.bottom_line_style,
                    b.left_colour_index, b.right_colour_index, b.top_colour_index, b.bottom_colour_index],
        "fill": [bg.fill_pattern, bg.pattern_colour_index, bg.background_colour_index],
        "protection": [xf.protection.cell_locked, xf.protection.formula_hidden],
    }


def value_of(cell):
    v = cell.value
    if isinstance(v, float) and v != v:
        v = "nan"
    return [cell.ctype, v]


def dump(path, values_only=False):
    log = io.StringIO()
    book = xlrd.open_workbook(path, formatting_info=not values_only, logfile=log, verbosity=0)
    out = {"datemode": book.datemode, "sheets": [], "names": []}
    for sh in book.sheets():
        s = {"name": sh.name, "visibility": sh.visibility, "nrows": sh.nrows, "ncols": sh.ncols,
             "cells": [], "merged": sorted(sh.merged_cells)}
        for r in range(sh.nrows):
            row = []
            for c in range(sh.ncols):
                cell = sh.cell(r, c)
                entry = value_of(cell)
                if not values_only:
                    entry.append(xf_of(book, cell.xf_index))
                row.append(entry)
            s["cells"].append(row)
        if not values_only:
            s["colwidths"] = {c: [ci.width, ci.hidden] for c, ci in sorted(sh.colinfo_map.items())}
            s["rowheights"] = {r: [ri.height, ri.has_default_height, ri.hidden]
                               for r, ri in sorted(sh.rowinfo_map.items())}
            s["rowformats"] = {r: xf_of(book, ri.xf_index) for r, ri in sorted(sh.rowinfo_map.items())
                               if ri.has_default_xf_index}
            s["frozen"] = [sh.panes_are_frozen, sh.horz_split_pos, sh.vert_split_pos]
        out["sheets"].append(s)
    for n in book.name_obj_list:
        entry = {"name": n.name, "scope": n.scope, "hidden": n.hidden, "builtin": n.builtin}
        try:
            entry["area"] = list(n.area2d(clipped=False))
            entry["area"][0] = entry["area"][0].name
        except Exception:
            res = n.result
            entry["formula"] = [res.kind, str(res.value), res.text] if res is not None else None
            entry["raw"] = n.raw_formula.hex()
        out["names"].append(entry)
    out["log"] = [re.sub(r" at 0x[0-9a-f]+", "", line) for line in log.getvalue().splitlines() if line.strip()]
    return out


if __name__ == "__main__":
    values_only = "--values-only" in sys.argv
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    json.dump(dump(args[0], values_only), sys.stdout, ensure_ascii=False, sort_keys=True, indent=1,
              default=str)
    sys.stdout.write("\n")
