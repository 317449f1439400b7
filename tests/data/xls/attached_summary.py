#!/usr/bin/python3
"""Prints what is attached to the cells of a workbook, one line a sheet.

Usage: attached_summary.py FILE [--libreoffice]

Each line: the sheet's name, its comments (cell and text), its hyperlinked
cells and its merged ranges, as xlrd reads them; with --libreoffice as
LibreOffice reads them (the file converted to .xlsx), with the number of
charts in the workbook last. Warnings of xlrd are printed as a line of their
own, so that a clean file gives none.
"""
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile
import posixpath


def col_name(c):
    s = ""
    c += 1
    while c:
        c, r = divmod(c - 1, 26)
        s = chr(ord("A") + r) + s
    return s


def cell(r, c):
    return "%s%d" % (col_name(c), r + 1)


def block(r1, c1, r2, c2):
    a, b = cell(r1, c1), cell(r2, c2)
    return a if a == b else a + ":" + b


def ref_key(ref):
    letters, digits = re.match(r"([A-Z]+)(\d+)", ref).groups()
    col = 0
    for ch in letters:
        col = col * 26 + ord(ch) - ord("A") + 1
    return int(digits), col


def line(name, comments, links, merged):
    return "%s comments %s | links %s | merged %s" % (
        name, ", ".join(comments) or "-", " ".join(links) or "-", " ".join(merged) or "-")


def with_xlrd(path):
    import xlrd
    log = io.StringIO()
    book = xlrd.open_workbook(path, formatting_info=True, logfile=log, verbosity=0)
    for sh in book.sheets():
        comments = ["%s %r" % (cell(r, c), n.text) for (r, c), n in sorted(sh.cell_note_map.items())]
        links = [block(h.frowx, h.fcolx, h.lrowx, h.lcolx) for h in sh.hyperlink_list]
        merged = [block(r1, c1, r2 - 1, c2 - 1) for r1, r2, c1, c2 in sorted(sh.merged_cells)]
        print(line(sh.name, comments, links, merged))
    if log.getvalue():
        print("log: " + log.getvalue().strip())


def with_libreoffice(path):
    tmp = tempfile.mkdtemp(prefix="migrator-attached-")
    try:
        subprocess.run(["soffice", "-env:UserInstallation=file://" + os.path.join(tmp, "lo"),
                        "--headless", "--convert-to", "xlsx", "--outdir", tmp, path],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        out = os.path.join(tmp, os.path.splitext(os.path.basename(path))[0] + ".xlsx")
        z = zipfile.ZipFile(out)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)

    def read(name):
        return z.read(name).decode("utf-8")

    def rels(part):
        d, f = posixpath.split(part)
        name = posixpath.join(d, "_rels", f + ".rels")
        if name not in z.namelist():
            return []
        return [(t, posixpath.normpath(posixpath.join(d, target)))
                for t, target in re.findall(r'Type="[^"]*/(\w+)" Target="([^"]*)"', read(name))]

    targets = dict((rid, t) for rid, t in re.findall(r'Id="(rId\d+)"[^>]*Target="([^"]*)"',
                                                     read("xl/_rels/workbook.xml.rels")))
    for name, rid in re.findall(r'<sheet name="([^"]*)" sheetId="\d+"[^>]*r:id="(rId\d+)"',
                                read("xl/workbook.xml")):
        part = posixpath.join("xl", targets[rid])
        xml = read(part)
        notes = []
        for kind, target in rels(part):
            if kind == "comments":
                notes += re.findall(r'<comment ref="([^"]*)"[^>]*>(.*?)</comment>', read(target))
        comments = ["%s %r" % (ref, "".join(re.findall(r"<t[^>]*>([^<]*)</t>", body)))
                    for ref, body in sorted(notes, key=lambda n: ref_key(n[0]))]
        links = re.findall(r'<hyperlink ref="([^"]*)"', xml)
        merged = re.findall(r'<mergeCell ref="([^"]*)"', xml)
        print(line(name, comments, links, merged))
    print("charts %d" % len([n for n in z.namelist() if re.match(r"xl/charts/chart\d+\.xml$", n)]))


if __name__ == "__main__":
    if len(sys.argv) < 2:
        print(__doc__)
        sys.exit(2)
    if "--libreoffice" in sys.argv[2:]:
        with_libreoffice(sys.argv[1])
    else:
        with_xlrd(sys.argv[1])
