# Prints the rows of a query on a SQLite file, TAB-separated, floats as the
# shortest text that reads back the same (as psql prints them).
import sqlite3
import sys

con = sqlite3.connect(sys.argv[1])
for row in con.execute(sys.argv[2]):
    print("\t".join(repr(v) if isinstance(v, float) else str(v) for v in row))
