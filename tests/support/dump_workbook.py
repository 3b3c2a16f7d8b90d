#!/usr/bin/python3
"""Prints what a spreadsheet user sees of a workbook, one fact per line, for
the tests to compare: sheet names and order, the active sheet, and per sheet
its size, column widths and the cells of its first rows (type, value, number
format, horizontal alignment). Usage: dump_workbook.py FILE [ROWS [--read-only]]
(read-only: for big sheets; no widths and no formats)"""
import sys

import openpyxl
from openpyxl.utils import get_column_letter

path = sys.argv[1]
rows = int(sys.argv[2]) if len(sys.argv) > 2 else 30
read_only = "--read-only" in sys.argv
wb = openpyxl.load_workbook(path, read_only=read_only)
print("sheets\t" + "|".join(wb.sheetnames))
print("active\t" + wb.active.title)
for ws in wb.worksheets:
    print("size\t%s\t%d\t%d" % (ws.title, ws.max_row, ws.max_column))
    for letter, dim in ({} if read_only else ws.column_dimensions).items():
        if dim.width:
            print("width\t%s!%s\t%.2f" % (ws.title, letter, dim.width))
    for row in ws.iter_rows(min_row=1, max_row=min(rows, ws.max_row)):
        for c in row:
            if c.value is None or not hasattr(c, "column"):
                continue
            value = c.value.isoformat(sep=" ") if hasattr(c.value, "isoformat") else repr(c.value)
            print("cell\t%s!%s%d\t%s\t%s\t%s\t%s" % (ws.title, get_column_letter(c.column), c.row,
                  c.data_type, value, c.number_format, "" if read_only else (c.alignment.horizontal or "")))
