#!/usr/bin/python3
"""The copy a user would otherwise write: one MySQL table into a new .xls
workbook with MySQLdb (a server-side cursor, so rows stream) and xlwt, every
value as text, the header row bold, centred, filled, framed and frozen.

Usage: migrate_peer.py HOST PORT USER PASSWORD DATABASE TABLE OUT.xls
Exits with 3 (and says so) when MySQLdb or xlwt is missing.
"""
import sys

try:
    import MySQLdb
    import MySQLdb.cursors
    import xlwt
except ImportError as e:
    print(f"missing module: {e.name}")
    sys.exit(3)


def main():
    host, port, user, password, database, table, out = sys.argv[1:8]
    conn = MySQLdb.connect(host=host, port=int(port), user=user, passwd=password, db=database,
                           charset="utf8mb4", cursorclass=MySQLdb.cursors.SSCursor)
    cursor = conn.cursor()
    cursor.execute("select * from `%s`" % table.replace("`", "``"))
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet(table[:31])
    head = xlwt.easyxf("font: bold on; align: horiz center; "
                       "pattern: pattern solid, fore_colour light_turquoise; "
                       "borders: top thin, bottom thin, left thin")
    for c, d in enumerate(cursor.description):
        sheet.write(0, c, d[0], head)
    sheet.set_panes_frozen(True)
    sheet.set_horz_split_pos(1)
    r = 1
    for row in cursor:
        for c, v in enumerate(row):
            if v is not None:
                sheet.write(r, c, v.decode("latin-1") if isinstance(v, bytes) else str(v))
        r += 1
    book.save(out)
    conn.close()


if __name__ == "__main__":
    main()
