#!/usr/bin/python3
"""Profile-likelihood intervals of theophylline subject 1, computed once.

An independent check of the program's profiles: the closed-form solution of
the one-compartment model with first-order absorption,

    conc(t) = dose*ka / (V*(ka - ke)) * (exp(-ke*t) - exp(-ka*t)),

fitted to examples/theophylline_pk/theophylline.csv by SciPy's least_squares
in ka, ke and V on a linear scale. Unit errors of unknown size, so the 95%
interval of each parameter is where its profile (the sum of squares
minimised over the other two) stays at or below

    S* * (1 + t(0.975, n - p)**2 / (n - p)),   n = 11, p = 3.

Each side is stepped out from the optimum until the profile passes that
level, and the crossing is located by brentq. Runs with Debian's python3
and python3-scipy (not another python3 that may come first on the PATH);
neither is needed by the build or the tests. Usage:

    /usr/bin/python3 tools/theophylline_profiles.py > tools/reference/theophylline_profiles.txt
"""
import csv
import os

import numpy as np
from scipy.optimize import brentq, least_squares
from scipy.special import betainc

DOSE = 4.02
HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "examples", "theophylline_pk", "theophylline.csv")
NAMES = ["ka", "ke", "V"]
TIGHT = dict(xtol=1e-15, ftol=1e-15, gtol=1e-15, max_nfev=10000)


def read_data():
    with open(DATA) as f:
        rows = [r for r in csv.reader(line for line in f if not line.startswith("#"))]
    body = rows[1:]
    return (np.array([float(r[0]) for r in body]),
            np.array([float(r[1]) for r in body]))


TIMES, CONC = read_data()


def residuals(theta):
    ka, ke, v = theta
    model = DOSE * ka / (v * (ka - ke)) * (np.exp(-ke * TIMES) - np.exp(-ka * TIMES))
    return model - CONC


def sum_of_squares(theta):
    r = residuals(theta)
    return float(r @ r)


def fit(start):
    return least_squares(residuals, start, method="lm", **TIGHT).x


def profile(k, value, start_others):
    """min over the other two parameters with parameter k held at value."""
    def res(others):
        theta = np.insert(others, k, value)
        return residuals(theta)
    sol = least_squares(res, start_others, method="lm", **TIGHT)
    return float(sol.fun @ sol.fun), sol.x


def crossing(k, best, level, direction):
    others = np.delete(best, k)
    step = 0.02 * abs(best[k])
    inside = best[k]
    while True:
        outside = inside + direction * step
        s, new_others = profile(k, outside, others)
        if s > level:
            break
        inside, others = outside, new_others
        step *= 1.5
    def g(v):
        return profile(k, v, others)[0] - level
    lo, hi = sorted((inside, outside))
    return brentq(g, lo, hi, xtol=1e-14, rtol=1e-13, maxiter=500)


def t_quantile(p, dof):
    """Student's t quantile from P(T > t) = I_{dof/(dof + t^2)}(dof/2, 1/2)/2,
    solved to rounding; SciPy 1.10's t.ppf is off by about 1e-10 here."""
    def g(x):
        return 0.5 * betainc(0.5 * dof, 0.5, dof / (dof + x * x)) - (1.0 - p)
    return brentq(g, 0.0, 100.0, xtol=1e-16, rtol=1e-15)


def main():
    best = fit(np.array([1.7774, 0.053955, 0.36943]))
    s_best = sum_of_squares(best)
    n, p = len(CONC), 3
    tq = t_quantile(0.975, n - p)
    level = s_best * (1.0 + tq * tq / (n - p))
    print("# /usr/bin/python3 tools/theophylline_profiles.py "
          "(SciPy least_squares + brentq; linear ka, ke, V)")
    print(f"# n {n}  p {p}  t(0.975, {n - p}) {tq:.15g}")
    print(f"optimum_sum_of_squares {s_best:.15g}")
    print(f"threshold {level:.15g}")
    for k, name in enumerate(NAMES):
        lower = crossing(k, best, level, -1.0)
        upper = crossing(k, best, level, +1.0)
        print(f"{name} estimate {best[k]:.12g} profile {lower:.12g} {upper:.12g}")


if __name__ == "__main__":
    main()
