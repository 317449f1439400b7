#!/usr/bin/python3
"""The peers of xlsx_bench: XlsxWriter in its constant-memory mode writing the
same workbook, and openpyxl in its read-only mode reading one. Prints the
wall and processor seconds.

  xlsx_peers.py write FILE ROWS
  xlsx_peers.py read FILE
"""
import datetime
import sys
import time

CATEGORIES = ["alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta",
              "iota", "kappa", "lambda", "mu", "nu", "xi", "omicron", "pi", "rho",
              "sigma", "tau", "upsilon"]
EPOCH = datetime.datetime(1899, 12, 30)


def write(path, rows):
    import xlsxwriter
    wb = xlsxwriter.Workbook(path, {"constant_memory": True})
    ws = wb.add_worksheet("Data")
    date = wb.add_format({"num_format": "yyyy-mm-dd"})
    stamp = wb.add_format({"num_format": "yyyy-mm-dd hh:mm:ss"})
    for r in range(rows):
        # The engine's pattern (see xlsx_bench.cpp's Fill).
        ws.write_string(r, 0, "row %07d name" % r)
        ws.write_number(r, 1, r)
        ws.write_number(r, 2, r * 1.37)
        ws.write_datetime(r, 3, EPOCH + datetime.timedelta(days=40000 + r % 9000), date)
        ws.write_string(r, 4, CATEGORIES[r % 20])
        ws.write_number(r, 5, (r * 7919) % 1000003)
        if r % 2:
            ws.write_string(r, 6, "note %d" % (r % 1000))
        ws.write_number(r, 7, r / 3.0)
        ws.write_datetime(r, 8, EPOCH + datetime.timedelta(days=40000 + r % 9000,
                                                            seconds=r % 86400), stamp)
        ws.write_string(r, 9, "a longer description of row %d" % r)
    wb.close()


def read(path):
    import openpyxl
    wb = openpyxl.load_workbook(path, read_only=True)
    cells = 0
    for ws in wb.worksheets:
        for row in ws.iter_rows(values_only=True):
            for v in row:
                if v is not None:
                    cells += 1
    return cells


if __name__ == "__main__":
    t, cpu = time.time(), time.process_time()
    if sys.argv[1] == "write":
        write(sys.argv[2], int(sys.argv[3]))
    else:
        read(sys.argv[2])
    print(time.time() - t, time.process_time() - cpu)
