#!/usr/bin/python3
"""Residual-bootstrap intervals of every subject of examples/theophylline_12.

Each subject is fitted on its own (as `identify --separately`) by SciPy's
least_squares with the closed-form one-compartment model with first-order
absorption,

    conc(t) = dose*ka / (V*(ka - ke)) * (exp(-ke*t) - exp(-ka*t)),

in the problem file's coordinates x = (ln ka, ln ke, ln V) within its
bounds, from its start values ka = 1, ke = 0.1, V = 0.5. Replicate r of a
subject with n samples draws n indices from the same SplitMix64 stream as
identify (seed s, replicate r from 1):

    state = s XOR (r * 0xD1B54A32D192ED03)        (mod 2^64)
    next: state += 0x9E3779B97F4A7C15; z = state
          z = (z XOR z >> 30) * 0xBF58476D1CE4E5B9
          z = (z XOR z >> 27) * 0x94D049BB133111EB
          return z XOR z >> 31
    index = next() mod n

and refits, from the subject's estimate, the data y*_m = f_m + (y_j - f_j)
(unit sigmas: the residual of the drawn sample j put on the model value of
sample m). The 95% interval of each parameter is numpy's linear percentile
(2.5 and 97.5) of the replicates' estimates. Prints one line per subject and
parameter: subject, name, lower, upper, with 17 digits. Needs
/usr/bin/python3 with numpy and scipy (Debian's python3-scipy); neither it
nor this script is needed by the build or the tests. Usage:

    /usr/bin/python3 tools/theophylline_bootstrap.py [REPLICATES [SEED]] \
        > tools/reference/theophylline_bootstrap.txt
"""
import csv
import os
import re
import sys

import numpy as np
from scipy.optimize import least_squares

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLE = os.path.join(HERE, "..", "examples", "theophylline_12")
NAMES = ["ka", "ke", "V"]
LOWER = np.log([0.01, 0.001, 0.01])
UPPER = np.log([20.0, 5.0, 10.0])
START = np.log([1.0, 0.1, 0.5])
MASK = (1 << 64) - 1


def stream(seed, replicate):
    state = (seed ^ (replicate * 0xD1B54A32D192ED03)) & MASK
    while True:
        state = (state + 0x9E3779B97F4A7C15) & MASK
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        yield z ^ (z >> 31)


def indices(seed, replicate, n):
    draws = stream(seed, replicate)
    return [next(draws) % n for _ in range(n)]


def read_subjects():
    doses = {}
    with open(os.path.join(EXAMPLE, "problem.yaml")) as f:
        for line in f:
            m = re.search(r"id: (\w+), x0: \{gut: ([0-9.]+)\}", line)
            if m:
                doses[m.group(1)] = float(m.group(2))
    data = {s: ([], []) for s in doses}
    with open(os.path.join(EXAMPLE, "theophylline.csv")) as f:
        rows = list(csv.reader(l for l in f if not l.startswith("#")))
    for subject, t, c in rows[1:]:
        data[subject][0].append(float(t))
        data[subject][1].append(float(c))
    return [(s, doses[s], np.array(data[s][0]), np.array(data[s][1]))
            for s in doses]


def model(x, dose, t):
    ka, ke, v = np.exp(x)
    return dose * ka / (v * (ka - ke)) * (np.exp(-ke * t) - np.exp(-ka * t))


def jacobian(x, dose, t):
    ka, ke, v = np.exp(x)
    ea, ee = np.exp(-ka * t), np.exp(-ke * t)
    g = dose * ka / (v * (ka - ke))
    f = g * (ee - ea)
    d_ka = f * (1 / ka - 1 / (ka - ke)) + g * t * ea
    d_ke = f / (ka - ke) - g * t * ee
    d_v = -f / v
    return np.column_stack([d_ka * ka, d_ke * ke, d_v * v])


def fit(x0, dose, t, y):
    r = least_squares(lambda x: model(x, dose, t) - y, x0,
                      jac=lambda x: jacobian(x, dose, t),
                      bounds=(LOWER, UPPER), method="trf",
                      xtol=1e-15, ftol=1e-15, gtol=1e-15, max_nfev=10000)
    return r.x


def main():
    replicates = int(sys.argv[1]) if len(sys.argv) > 1 else 200
    seed = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    for subject, dose, t, y in read_subjects():
        x_hat = fit(START, dose, t, y)
        f = model(x_hat, dose, t)
        residual = y - f
        estimates = []
        for r in range(1, replicates + 1):
            drawn = indices(seed, r, len(t))
            y_star = f + residual[drawn]
            estimates.append(np.exp(fit(x_hat, dose, t, y_star)))
        estimates = np.array(estimates)
        for k, name in enumerate(NAMES):
            lower, upper = np.percentile(estimates[:, k], [2.5, 97.5])
            print(f"{subject}\t{name}\t{np.exp(x_hat[k]):.17g}\t"
                  f"{lower:.17g}\t{upper:.17g}")


if __name__ == "__main__":
    main()
