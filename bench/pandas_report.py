"""The daily energy report of one group's .dat file as a pandas user writes it:
numpy reads the records, then per energy register diff, negative steps (resets)
dropped, summed by the day of the earlier reading; per power column the daily
maximum, its first time and the mean. Values equal to the NoValue marker are
left out.

usage: pandas_report.py FILE ENERGY_COUNT DIVISOR...
(the first ENERGY_COUNT columns are energy registers). Then, for each line "N"
on stdin, computes the report N times and prints the seconds that took; ends
at the end of stdin."""
import sys
import time

import numpy as np
import pandas as pd

NO_VALUE = -2147483648


def report(path, dtype, divisors, energies):
    records = np.fromfile(path, dtype=dtype)
    stamp = records["stamp"].astype(np.int64)
    times = pd.to_datetime(pd.DataFrame({
        "year": stamp[:, 0] + 2000, "month": stamp[:, 1], "day": stamp[:, 2],
        "hour": stamp[:, 3], "minute": stamp[:, 4], "second": stamp[:, 5]}))
    raw = records["values"]
    values = pd.DataFrame(np.where(raw == NO_VALUE, np.nan, raw / divisors), index=times)
    values = values[~values.index.isna()].sort_index(kind="stable")
    out = {}
    for c in range(energies):
        s = values[c].dropna()
        step = s.diff().shift(-1)  # to the earlier reading
        step = step.where(step >= 0, 0.0)
        out[c] = step.groupby(s.index.floor("D")).sum()
    power = values.iloc[:, energies:]
    day = power.index.floor("D")
    grouped = power.groupby(day)
    maxima, means = grouped.max(), grouped.mean()
    at = grouped.idxmax()
    return out, maxima, means, at


def main():
    path = sys.argv[1]
    energies = int(sys.argv[2])
    divisors = np.array([float(d) for d in sys.argv[3:]])
    dtype = np.dtype([("values", "<i4", (len(divisors),)), ("stamp", "u1", (6,))])
    out, _, _, _ = report(path, dtype, divisors, energies)  # warm: imports, the page cache
    print(f"ready {out[0].sum()!r}", flush=True)  # the first register's consumption, to compare
    for line in sys.stdin:
        t0 = time.perf_counter()
        for _ in range(int(line)):
            report(path, dtype, divisors, energies)
        print(f"{time.perf_counter() - t0:.9f}", flush=True)


if __name__ == "__main__":
    main()
