#!/usr/bin/python3
"""The run command without a display, three times, in a temporary home directory.

    first_run_test.py SOURCE_DIR BUILD_DIR

The first run creates the demo server, loads the sample database and migrates
it; the workbook must hold every table as a sheet with every value as the
generator made it (read back with xlrd, and opened by LibreOffice when it is
installed). The second run reuses the server's data and its port; the third,
with that port taken, moves to another and updates the migrator.cfg it wrote.
The first two runs' times are printed.
"""

import csv
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

import xlrd

SRC, BUILD = sys.argv[1], sys.argv[2]
sys.path.insert(0, os.path.join(SRC, "scripts"))
sys.path.insert(0, os.path.join(SRC, "tests", "testlib"))
import sample_shop  # noqa: E402
from checks import check, failures  # noqa: E402


def run(home):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_DATA_HOME",
                        "MIGRATOR_HOME")}
    env.update(HOME=home, MIGRATOR_BUILD_DIR=BUILD)
    started = time.monotonic()
    p = subprocess.run(["bash", os.path.join(SRC, "scripts", "run.sh")], env=env,
                       capture_output=True, text=True, timeout=900)
    seconds = time.monotonic() - started
    print(p.stdout)
    print(p.stderr[-3000:], file=sys.stderr)
    return p, seconds


def check_summary(p, workbook, label):
    check(p.returncode == 0, f"{label}: exit code {p.returncode}")
    m = re.search(r"^  Workbook: (.*)$", p.stdout, re.M)
    check(m and m.group(1) == workbook, f"{label}: summary names the workbook {workbook}")
    names = sorted(t for t, _, _ in sample_shop.sample_tables())
    m = re.search(r"^  Tables:   (\d+) \((.*)\)$", p.stdout, re.M)
    check(m and int(m.group(1)) == len(names) and sorted(m.group(2).split(", ")) == names,
          f"{label}: summary lists the tables {names}")
    m = re.search(r"^  Rows:     ([\d,]+)$", p.stdout, re.M)
    total = sum(len(rows) for _, _, rows in sample_shop.sample_tables())
    check(m and int(m.group(1).replace(",", "")) == total, f"{label}: summary counts {total} rows")
    check(re.search(r"^  Seconds:  \d+\.\d$", p.stdout, re.M), f"{label}: summary gives seconds")
    check("Sheets:" in p.stdout, f"{label}: prints the workbook's sheets")


def check_workbook(path):
    book = xlrd.open_workbook(path)
    for table, columns, rows in sample_shop.sample_tables():
        if not check(table in book.sheet_names(), f"workbook has a sheet {table}"):
            continue
        sheet = book.sheet_by_name(table)
        check(sheet.row_values(0) == columns, f"{table}: header row {columns}")
        check(sheet.nrows == len(rows) + 1, f"{table}: {sheet.nrows - 1} rows, {len(rows)} expected")
        wrong = 0
        for i, row in enumerate(rows[:sheet.nrows - 1], start=1):
            expected = ["" if v is None else v for v in row]
            got = sheet.row_values(i)
            if got != expected:
                wrong += 1
                if wrong <= 3:
                    print(f"{table} row {i}: {got!r} != {expected!r}")
        check(wrong == 0, f"{table}: {wrong} rows differ from the database")


def check_libreoffice(path, scratch):
    if not shutil.which("soffice"):
        print("LibreOffice (soffice) is not installed: the workbook is not opened with it")
        return
    out = os.path.join(scratch, "csv")
    # The last token (-1) writes every sheet to a file of its own.
    csv_filter = "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1"
    p = subprocess.run(["soffice", f"-env:UserInstallation=file://{scratch}/lo-profile",
                        "--headless", "--convert-to", csv_filter, "--outdir", out, path],
                       capture_output=True, text=True, timeout=300)
    check(p.returncode == 0, f"LibreOffice converts the workbook: {p.stderr[-500:]}")
    stem = os.path.splitext(os.path.basename(path))[0]
    for table, columns, rows in sample_shop.sample_tables():
        name = os.path.join(out, f"{stem}-{table}.csv")
        if not check(os.path.exists(name), f"LibreOffice shows the sheet {table}"):
            continue
        with open(name, newline="", encoding="utf-8") as f:
            records = list(csv.reader(f))
        check(records and records[0] == columns and len(records) == len(rows) + 1,
              f"LibreOffice reads {table} with its header and {len(rows)} rows")


def main():
    scratch = tempfile.mkdtemp(prefix="migrator-first-run.")
    try:
        home = os.path.join(scratch, "home")
        os.mkdir(home)
        demo = os.path.join(home, ".local", "share", "migrator", "demo")
        workbook = os.path.join(demo, "shop.xls")
        cfg = os.path.join(home, ".local", "share", "migrator", "migrator.cfg")

        p, first = run(home)
        check_summary(p, workbook, "first run")
        check("first run only" in p.stdout, "the first run creates and loads the demo server")
        check_workbook(workbook)
        check_libreoffice(workbook, scratch)
        def server_port():
            with open(os.path.join(demo, "port")) as f:
                return int(f.read())

        def cfg_names_port(port):
            with open(cfg) as f:
                return f"SourceName=127.0.0.1:{port}\n" in f.read()

        port = server_port()
        check(cfg_names_port(port), "migrator.cfg names the demo server")

        p, second = run(home)
        check_summary(p, workbook, "second run")
        check("first run only" not in p.stdout, "the second run reuses the demo server's data")
        check(server_port() == port, "the second run keeps the port")

        # Someone else takes the port meanwhile.
        with socket.socket() as taken:
            taken.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            taken.bind(("127.0.0.1", port))
            taken.listen()
            p, _ = run(home)
        check_summary(p, workbook, "third run")
        new_port = server_port()
        check(new_port != port, "the third run moves to a free port")
        check(cfg_names_port(new_port), "migrator.cfg follows the server to its new port")

        print(f"first run: {first:.1f} s, second run: {second:.1f} s")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    if failures:
        print(f"{len(failures)} checks failed")
        sys.exit(1)
    print("all checks passed")


if __name__ == "__main__":
    main()
