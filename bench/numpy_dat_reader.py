"""Reads a .dat file the way a Python user would: a structured dtype and the divisions.

usage: numpy_dat_reader.py FILE REPEATS DIVISOR... ; prints the median MB/s."""
import os
import statistics
import sys
import time

import numpy as np


def main():
    path, repeats = sys.argv[1], int(sys.argv[2])
    divisors = np.array([float(d) for d in sys.argv[3:]])
    keys = len(divisors)
    dtype = np.dtype([("values", "<i4", (keys,)), ("stamp", "u1", (6,))])
    size_mb = os.path.getsize(path) / 1e6
    rates = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        records = np.fromfile(path, dtype=dtype)
        values = records["values"] / divisors
        stamps = records["stamp"].astype(np.uint16)
        stamps[:, 0] += 2000
        rates.append(size_mb / (time.perf_counter() - t0))
        del records, values, stamps
    print(f"{statistics.median(rates):.1f}")


if __name__ == "__main__":
    main()
