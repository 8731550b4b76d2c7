#!/usr/bin/python3
"""Reference maximum-likelihood estimates for the likelihood tests.

One compartment with first-order absorption, dose D into the gut:
  y(t) = D*ka/(V*(ka - ke)) * (exp(-ke*t) - exp(-ka*t)).
Cases:
  theophylline  examples/theophylline_pk data, sigma = s estimated;
  proportional  generated data (seed 20261208), sigma = b*y;
  combined      generated data (seed 20261209), sigma = sqrt(a^2 + b^2*y^2).
The objective is -2 ln L = sum(r^2 + ln(2*pi*sigma^2)), r = (y - v)/sigma,
minimised by SciPy over the logarithms of the parameters (Nelder-Mead, then
BFGS, then Nelder-Mead again from there with tight tolerances). Prints the
generated data and the estimates with 17 digits, to be pasted into
tests/likelihood_fit_test.cc. Run: /usr/bin/python3 tools/likelihood_reference.py
"""
import csv
import os

import numpy as np
from scipy.optimize import minimize

DOSE = 4.02
TIMES = [0.25, 0.5, 0.75, 1.0, 1.5, 2.0, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0, 12.0, 16.0,
         20.0, 24.0, 30.0, 36.0]


def conc(t, ka, ke, v):
    t = np.asarray(t, dtype=float)
    return DOSE * ka / (v * (ka - ke)) * (np.exp(-ke * t) - np.exp(-ka * t))


def m2ll(theta, t, obs, sigma_of):
    ka, ke, v = np.exp(theta[:3])
    y = conc(t, ka, ke, v)
    s = sigma_of(np.exp(theta[3:]), y)
    r = (y - obs) / s
    return float(np.sum(r * r + np.log(2 * np.pi * s * s)))


def fit(t, obs, sigma_of, start):
    x = np.log(start)
    f = lambda th: m2ll(th, t, obs, sigma_of)
    res = minimize(f, x, method="Nelder-Mead",
                   options={"xatol": 1e-12, "fatol": 1e-14, "maxiter": 40000,
                            "maxfev": 80000})
    res = minimize(f, res.x, method="BFGS", options={"gtol": 1e-12})
    res = minimize(f, res.x, method="Nelder-Mead",
                   options={"xatol": 1e-13, "fatol": 1e-15, "maxiter": 40000,
                            "maxfev": 80000})
    return np.exp(res.x), res.fun


def generate(seed, truth, sigma_of):
    rng = np.random.RandomState(seed)
    ka, ke, v = truth[:3]
    y = conc(TIMES, ka, ke, v)
    s = sigma_of(np.array(truth[3:]), y)
    return y + s * rng.standard_normal(len(TIMES))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = os.path.join(here, "..", "examples", "theophylline_pk",
                        "theophylline.csv")
    t, obs = [], []
    with open(path) as f:
        for row in csv.DictReader(line for line in f if not line.startswith("#")):
            t.append(float(row["time"]))
            obs.append(float(row["measurement"] if "measurement" in row
                             else row["concentration"]))
    additive = lambda p, y: p[0] * np.ones_like(y)
    est, value = fit(np.array(t), np.array(obs), additive, [1.8, 0.05, 0.37, 0.6])
    print("theophylline ka ke V s:", " ".join("%.17g" % e for e in est),
          "-2lnL %.17g" % value)
    # At the maximum s^2 = SS/n, and SS is stationary in (ka, ke, V), so
    # these are accurate to rounding whatever the optimiser left in them.
    ss = float(np.sum((conc(t, *est[:3]) - np.array(obs)) ** 2))
    s_exact = np.sqrt(ss / len(t))
    print("theophylline s = sqrt(SS/n): %.17g" % s_exact,
          "-2lnL = n ln(2 pi) + n + 2n ln s: %.17g"
          % (len(t) * (np.log(2 * np.pi) + 1) + 2 * len(t) * np.log(s_exact)))
    proportional = lambda p, y: p[0] * y
    combined = lambda p, y: np.sqrt(p[0] ** 2 + p[1] ** 2 * y * y)
    cases = [("proportional", 20261208, [1.5, 0.08, 0.4, 0.1], proportional),
             ("combined", 20261209, [1.5, 0.08, 0.4, 0.2, 0.1], combined)]
    for name, seed, truth, sigma_of in cases:
        data = generate(seed, truth, sigma_of)
        print(name, "data:", " ".join("%.17g" % d for d in data))
        est, value = fit(np.array(TIMES), data, sigma_of, truth)
        print(name, "estimates:", " ".join("%.17g" % e for e in est),
              "-2lnL %.17g" % value)


if __name__ == "__main__":
    main()
