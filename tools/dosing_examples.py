#!/usr/bin/env python3
"""Data of examples/multiple_dose and examples/infusion, generated once.

Each example is a linear compartment model in amounts (mg), time in hours,
observed through the central concentration conc = central / V (mg/L). The
exact solution at the true parameters is a superposition of closed forms
(A the matrix, e_i unit vectors):

  bolus a into state i at tau:        exp(A (t - tau)) a e_i          (t >= tau)
  infusion of rate r into i on [s, f): r A^-1 (exp(A (t - s))
                                              - exp(A (t - min(t, f)))) e_i
                                                                      (t > s)

evaluated with mpmath at 30 significant digits. The script writes, per
example, noise_free.csv (time, conc at the truth, 17 significant digits:
the unit test checks the exact model against it) and data.csv (the same
plus normal noise of standard deviation SIGMA from Python's
random.Random(SEED).gauss, in time order, rounded to 4 decimals). It prints
the design's standard errors at the truth, SIGMA * sqrt(diag((J^T J)^-1))
with J the derivative of the noise-free values with respect to the
parameters (central differences at 30 digits): what a fit of data like
these recovers the parameters to.

Usage (from the repository root): tools/dosing_examples.py
Needs python3 with mpmath (Debian: python3-mpmath).
"""
import os
import random

import mpmath as mp

mp.mp.dps = 30
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


def conc(A, V, boluses, infusions, t):
    """Central concentration at t; central is state 1 of 3, 0 of 2."""
    n = A.rows
    central = 1 if n == 3 else 0
    x = mp.zeros(n, 1)
    for tau, i, amount in boluses:
        if tau <= t:
            x += mp.expm(A * (t - tau))[:, i] * amount
    for s, f, i, rate in infusions:
        if s < t:
            x += rate * mp.inverse(A) * (mp.expm(A * (t - s))
                                         - mp.expm(A * (t - min(t, f))))[:, i]
    return x[central] / V


class MultipleDose:
    """Oral two-compartment model: 5 doses of 100 mg every 12 h, a lag."""
    folder = "multiple_dose"
    names = ["ka", "CL", "V", "Q", "V2", "tlag"]
    truth = {"ka": "1.2", "CL": "3.5", "V": "30", "Q": "6", "V2": "60",
             "tlag": "0.4"}
    SIGMA, SEED = mp.mpf("0.05"), 2024
    times = ["%g" % (12 * k + a) for k in range(5)
             for a in (0.5, 1, 1.5, 2, 4, 8)] + ["60", "72"]

    @staticmethod
    def values(p, times):
        ka, CL, V, Q, V2, lag = (p[n] for n in MultipleDose.names)
        A = mp.matrix([[-ka, 0, 0],
                       [ka, -(CL + Q) / V, Q / V2],
                       [0, Q / V, -Q / V2]])
        boluses = [(12 * k + lag, 0, mp.mpf(100)) for k in range(5)]
        return [conc(A, V, boluses, [], mp.mpf(t)) for t in times]


class Infusion:
    """Intravenous two-compartment model: 500 mg over 1 h from t = 0."""
    folder = "infusion"
    names = ["CL", "V", "Q", "V2"]
    truth = {"CL": "5", "V": "20", "Q": "8", "V2": "40"}
    SIGMA, SEED = mp.mpf("0.1"), 2025
    times = ["0.25", "0.5", "1", "1.25", "1.5", "2", "3", "4", "6", "8", "12",
             "16", "24"]

    @staticmethod
    def values(p, times):
        CL, V, Q, V2 = (p[n] for n in Infusion.names)
        A = mp.matrix([[-(CL + Q) / V, Q / V2], [Q / V, -Q / V2]])
        infusions = [(mp.mpf(0), mp.mpf(1), 0, mp.mpf(500))]
        return [conc(A, V, [], infusions, mp.mpf(t)) for t in times]


def standard_errors(example, truth):
    h = mp.mpf("1e-12")
    J = mp.matrix(len(example.times), len(example.names))
    for j, name in enumerate(example.names):
        up, down = dict(truth), dict(truth)
        up[name] += h * truth[name]
        down[name] -= h * truth[name]
        hi = example.values(up, example.times)
        lo = example.values(down, example.times)
        for i in range(len(example.times)):
            J[i, j] = (hi[i] - lo[i]) / (2 * h * truth[name])
    covariance = mp.inverse(J.T * J) * example.SIGMA ** 2
    return [mp.sqrt(covariance[j, j]) for j in range(len(example.names))]


def write(example):
    truth = {n: mp.mpf(v) for n, v in example.truth.items()}
    exact = example.values(truth, example.times)
    rng = random.Random(example.SEED)
    folder = os.path.join(ROOT, "examples", example.folder)
    with open(os.path.join(folder, "noise_free.csv"), "w") as f:
        f.write("# The exact concentrations at the true parameters "
                "(tools/dosing_examples.py).\ntime,conc\n")
        for t, y in zip(example.times, exact):
            f.write("%s,%s\n" % (t, mp.nstr(y, 17, strip_zeros=False)))
    with open(os.path.join(folder, "data.csv"), "w") as f:
        f.write("# Synthetic: the exact values plus normal noise, sigma %s, "
                "seed %d (tools/dosing_examples.py).\ntime,conc\n"
                % (mp.nstr(example.SIGMA, 3), example.SEED))
        for t, y in zip(example.times, exact):
            noisy = float(y) + rng.gauss(0.0, float(example.SIGMA))
            f.write("%s,%.4f\n" % (t, noisy))
    print(example.folder)
    for name, se in zip(example.names, standard_errors(example, truth)):
        print("  %-4s truth %-5s standard error %s (%s %%)"
              % (name, example.truth[name], mp.nstr(se, 3),
                 mp.nstr(100 * se / truth[name], 2)))


def main():
    for example in (MultipleDose, Infusion):
        write(example)


if __name__ == "__main__":
    main()
