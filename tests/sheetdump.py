# Prints a workbook as openpyxl reads it (or a CSV file as the csv module
# reads it) as JSON, for the export tests: per sheet its name, frozen cell,
# filter range, column widths, whether the header is bold, and every row as
# [type, text, number format] cells ("s" text, "n" number, "d" date, "" empty).
import csv
import datetime
import json
import sys

import openpyxl
from openpyxl.utils import get_column_letter


def cell(c):
    v = c.value
    if v is None:
        return ["", "", c.number_format]
    if isinstance(v, datetime.datetime):
        return ["d", v.isoformat(), c.number_format]
    if isinstance(v, (int, float)) and not isinstance(v, bool):
        return ["n", repr(float(v)), c.number_format]
    if isinstance(v, str):
        return ["s", v, c.number_format]
    return [type(v).__name__, str(v), c.number_format]


def sheet(ws):
    return {
        "name": ws.title,
        "freeze": ws.freeze_panes,
        "filter": ws.auto_filter.ref,
        "bold": all(c.font.b for c in ws[1]),
        "widths": [ws.column_dimensions[get_column_letter(i)].width for i in range(1, ws.max_column + 1)],
        "rows": [[cell(c) for c in row] for row in ws.iter_rows()],
    }


path = sys.argv[1]
if path.endswith(".csv"):
    with open(path, newline="", encoding="utf-8-sig") as f:
        print(json.dumps(list(csv.reader(f)), ensure_ascii=False))
else:
    print(json.dumps([sheet(ws) for ws in openpyxl.load_workbook(path).worksheets], ensure_ascii=False))
