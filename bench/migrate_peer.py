#!/usr/bin/python3
"""The copy a user would otherwise write: one MySQL table into a new .xls
workbook with MySQLdb (a server-side cursor, so rows stream) and xlwt, every
value as text, the header row bold, centred, filled, framed and frozen; into
an .xlsx one with XlsxWriter in its constant-memory mode instead of xlwt.

Usage: migrate_peer.py HOST PORT USER PASSWORD DATABASE TABLE OUT.xls|OUT.xlsx
Exits with 3 (and says so) when MySQLdb or the writer's module is missing.
"""
import sys

try:
    import MySQLdb
    import MySQLdb.cursors
    if sys.argv[7].endswith(".xlsx"):
        import xlsxwriter
    else:
        import xlwt
except ImportError as e:
    print(f"missing module: {e.name}")
    sys.exit(3)


def cells(cursor):
    """(row, column, text) of every value that is not NULL, from row 1 on."""
    for r, row in enumerate(cursor, start=1):
        for c, v in enumerate(row):
            if v is not None:
                yield r, c, v.decode("latin-1") if isinstance(v, bytes) else str(v)


def write_xlsx(cursor, table, out):
    book = xlsxwriter.Workbook(out, {"constant_memory": True})
    sheet = book.add_worksheet(table[:31])
    head = book.add_format({"bold": True, "align": "center", "bg_color": "#CCFFFF",
                            "top": 1, "bottom": 1, "left": 1})
    for c, d in enumerate(cursor.description):
        sheet.write_string(0, c, d[0], head)
    sheet.freeze_panes(1, 0)
    for r, c, text in cells(cursor):
        sheet.write_string(r, c, text)
    book.close()


def main():
    host, port, user, password, database, table, out = sys.argv[1:8]
    conn = MySQLdb.connect(host=host, port=int(port), user=user, passwd=password, db=database,
                           charset="utf8mb4", cursorclass=MySQLdb.cursors.SSCursor)
    cursor = conn.cursor()
    cursor.execute("select * from `%s`" % table.replace("`", "``"))
    if out.endswith(".xlsx"):
        write_xlsx(cursor, table, out)
        conn.close()
        return
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet(table[:31])
    head = xlwt.easyxf("font: bold on; align: horiz center; "
                       "pattern: pattern solid, fore_colour light_turquoise; "
                       "borders: top thin, bottom thin, left thin")
    for c, d in enumerate(cursor.description):
        sheet.write(0, c, d[0], head)
    sheet.set_panes_frozen(True)
    sheet.set_horz_split_pos(1)
    for r, c, text in cells(cursor):
        sheet.write(r, c, text)
    book.save(out)
    conn.close()


if __name__ == "__main__":
    main()
