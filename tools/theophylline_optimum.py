#!/usr/bin/python3
"""The least-squares optimum of examples/theophylline_pk to 50 digits.

The closed-form solution of the one-compartment model with first-order
absorption,

    conc(t) = dose*ka / (V*(ka - ke)) * (exp(-ke*t) - exp(-ka*t)),

fitted to examples/theophylline_pk/theophylline.csv (all eleven samples,
unit weights) in the problem file's coordinates x = (ln ka, ln ke, ln V).
Gauss-Newton in mpmath with 60 significant digits, the Jacobian in closed
form, from R's nls estimates (tools/reference/theophylline_nls.txt) until
the step is below 1e-45. At the optimum it prints the sum of squares, the
residual standard error s = sqrt(S/(n - p)) and each parameter's estimate
and standard error in its own units, se = theta * s * sqrt(((J^T J)^-1)_jj)
with J = dr/dx, the program's Gauss-Newton standard errors. Needs only
python3-mpmath; neither it nor this script is needed by the build or the
tests. Usage:

    python3 tools/theophylline_optimum.py > tools/reference/theophylline_optimum.txt
"""
import csv
import os

import mpmath as mp

mp.mp.dps = 60
DOSE = mp.mpf("4.02")
HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "examples", "theophylline_pk", "theophylline.csv")
NAMES = ["ka", "ke", "V"]


def read_data():
    with open(DATA) as f:
        rows = list(csv.reader(line for line in f if not line.startswith("#")))
    return [(mp.mpf(t), mp.mpf(c)) for t, c in rows[1:]]


def residuals_and_jacobian(x, data):
    ka, ke, v = (mp.exp(xi) for xi in x)
    r, jac = [], []
    for t, c in data:
        ea, ee = mp.exp(-ka * t), mp.exp(-ke * t)
        g = DOSE * ka / (v * (ka - ke))
        model = g * (ee - ea)
        # d model / d ka, d ke, d V, then times theta for d/d ln theta.
        d_ka = model * (1 / ka - 1 / (ka - ke)) + g * t * ea
        d_ke = model / (ka - ke) - g * t * ee
        d_v = -model / v
        r.append(model - c)
        jac.append([d_ka * ka, d_ke * ke, d_v * v])
    return mp.matrix(r), mp.matrix(jac)


def main():
    data = read_data()
    x = mp.matrix([mp.log(mp.mpf("1.777417")), mp.log(mp.mpf("0.053954499")),
                   mp.log(mp.mpf("0.3692644"))])
    for _ in range(200):
        r, jac = residuals_and_jacobian(x, data)
        step = mp.lu_solve(jac.T * jac, -(jac.T * r))
        x = x + step
        if mp.norm(step) < mp.mpf("1e-45"):
            break
    else:
        raise SystemExit("Gauss-Newton did not converge")
    r, jac = residuals_and_jacobian(x, data)
    n, p = len(data), 3
    ssr = sum(ri * ri for ri in r)
    s = mp.sqrt(ssr / (n - p))
    cov = mp.inverse(jac.T * jac)
    print("# python3 tools/theophylline_optimum.py (mpmath %s, %d digits)"
          % (mp.__version__, mp.mp.dps))
    print("sum_of_squares %s" % mp.nstr(ssr, 20))
    print("residual_standard_error %s" % mp.nstr(s, 20))
    for j, name in enumerate(NAMES):
        theta = mp.exp(x[j])
        se = theta * s * mp.sqrt(cov[j, j])
        print("%s estimate %s std_error %s"
              % (name, mp.nstr(theta, 20), mp.nstr(se, 20)))


if __name__ == "__main__":
    main()
