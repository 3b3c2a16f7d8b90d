"""Reads a .dat file the way a Python user would: a structured dtype and the divisions.

usage: numpy_dat_reader.py FILE DIVISOR...
Then, for each line "N" on stdin, reads the file N times and prints the seconds
that took, on a line of its own; ends at the end of stdin."""
import sys
import time

import numpy as np


def read_once(path, dtype, divisors):
    records = np.fromfile(path, dtype=dtype)
    values = records["values"] / divisors
    stamps = records["stamp"].astype(np.uint16)
    stamps[:, 0] += 2000
    return values, stamps


def main():
    path = sys.argv[1]
    divisors = np.array([float(d) for d in sys.argv[2:]])
    dtype = np.dtype([("values", "<i4", (len(divisors),)), ("stamp", "u1", (6,))])
    read_once(path, dtype, divisors)  # warm: imports, the page cache
    print("ready", flush=True)
    for line in sys.stdin:
        t0 = time.perf_counter()
        for _ in range(int(line)):
            read_once(path, dtype, divisors)
        print(f"{time.perf_counter() - t0:.9f}", flush=True)


if __name__ == "__main__":
    main()
