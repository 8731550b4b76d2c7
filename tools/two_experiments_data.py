#!/usr/bin/env python3
"""Exact data of examples/two_experiments, computed once with mpmath.

The three-state system

    x1' = -k1 x1 + k2 x2
    x2' =  k1 x1 - (k2 + k3) x2
    x3' =  k3 x2 - k4 x3

is observed through y = x1 + 2 x3 in two experiments: "from_x1" starts at
x0 = (5, 0, 0), "from_x2" at x0 = (0, 3, x3_0) with x3_0 unknown. The true
values are below. Each y(t) = c . expm(A t) x0 is computed with mpmath's
expm at 30 significant digits and written with 17 significant digits, so
the table holds the exact solution to within an ulp of a double. The script also prints, to stderr,
the singular values of the Jacobian of the data with respect to
(k1, k2, k3, k4, x3_0) at the truth (central differences at 30 digits):
all well away from 0, so the truth is identifiable from this data.

Usage: tools/two_experiments_data.py > examples/two_experiments/data.csv
"""
import sys

import mpmath as mp

mp.mp.dps = 30

TRUTH = {"k1": mp.mpf("0.8"), "k2": mp.mpf("0.3"), "k3": mp.mpf("0.5"),
         "k4": mp.mpf("0.15"), "x3_0": mp.mpf("1.5")}
TIMES = ["0.25", "0.5", "1", "1.5", "2", "3", "4", "6", "8", "10", "12", "15"]
C = mp.matrix([[1, 0, 2]])


def experiments(p):
    return [("from_x1", mp.matrix([5, 0, 0])),
            ("from_x2", mp.matrix([0, 3, p["x3_0"]]))]


def system(p):
    k1, k2, k3, k4 = p["k1"], p["k2"], p["k3"], p["k4"]
    return mp.matrix([[-k1, k2, 0], [k1, -(k2 + k3), 0], [0, k3, -k4]])


def data(p):
    A = system(p)
    rows = []
    for name, x0 in experiments(p):
        for t in TIMES:
            y = (C * mp.expm(A * mp.mpf(t)) * x0)[0]
            rows.append((name, t, y))
    return rows


def jacobian_singular_values():
    names = list(TRUTH)
    h = mp.mpf("1e-10")
    columns = []
    for n in names:
        up = dict(TRUTH)
        down = dict(TRUTH)
        up[n] += h
        down[n] -= h
        columns.append([(a[2] - b[2]) / (2 * h)
                        for a, b in zip(data(up), data(down))])
    J = mp.matrix(len(columns[0]), len(names))
    for j, col in enumerate(columns):
        for i, v in enumerate(col):
            J[i, j] = v
    return mp.svd_r(J, compute_uv=False)


def main():
    print("experiment,observable,time,measurement")
    for name, t, y in data(TRUTH):
        print(f"{name},y,{t},{mp.nstr(y, 17, strip_zeros=False)}")
    sv = jacobian_singular_values()
    print("singular values of the Jacobian at the truth:",
          ", ".join(mp.nstr(s, 6) for s in sv), file=sys.stderr)


if __name__ == "__main__":
    main()
