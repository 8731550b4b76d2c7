#!/usr/bin/python3
"""The least-squares optimum of a long table of tools/big_table.py, for the
test that fits it: one compartment, x' = -k x, observed directly, each
experiment e from x0 = 10 + e. Newton's method on S(k) = sum of squared
residuals, then the standard error sqrt(S/(n - 1) / J'J). NumPy only.

    tools/long_table_reference.py ROWS [EXPERIMENTS]
"""

import csv
import os
import subprocess
import sys
import tempfile

import numpy as np


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    rows = sys.argv[1]
    experiments = sys.argv[2] if len(sys.argv) == 3 else "1"
    here = os.path.dirname(os.path.abspath(__file__))
    with tempfile.TemporaryDirectory() as directory:
        subprocess.run([sys.executable, os.path.join(here, "big_table.py"),
                        directory, rows, experiments], check=True)
        t, y, x0 = [], [], []
        with open(os.path.join(directory, "data.csv")) as f:
            reader = csv.reader(f)
            next(reader)
            for row in reader:
                x0.append(10.0 + int(row[0][1:]))
                t.append(float(row[2]))
                y.append(float(row[3]))
    t, y, x0 = np.array(t), np.array(y), np.array(x0)
    k = 0.3
    for _ in range(50):
        m = x0 * np.exp(-k * t)
        d = -t * m
        r = m - y
        k -= np.dot(d, r) / (np.dot(d, d) + np.dot(t * t * m, r))
    m = x0 * np.exp(-k * t)
    d = -t * m
    S = np.sum((m - y) ** 2)
    print("k %.17g" % k)
    print("standard error %.17g" % np.sqrt(S / (len(t) - 1) / np.dot(d, d)))
    print("sum of squares %.17g" % S)


if __name__ == "__main__":
    main()
