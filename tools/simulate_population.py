#!/usr/bin/python3
"""A simulated population with known truth, and an independent FOCE-I
objective for it.

Writes examples/population_simulated/{problem.yaml,data.csv}: 100 subjects,
a two-compartment model after an intravenous bolus of 100 into the central
compartment, random effects on log CL and log V1, proportional error,
NumPy seed 20261209. Subjects 1-90 are sampled at nine times, subjects
91-99 once each (a random time), subject 100 never.

Then evaluates the FOCE-I objective independently of identify: the
closed-form biexponential concentration, derivatives with respect to eta by
complex steps, each subject's conditional mode by SciPy's BFGS polished by
Newton steps on the complex-step Hessian of the gradient, and

  OFV_i = sum_j [r_j^2 + ln 2 pi + 2 ln sigma_j] + eta' Omega^-1 eta
          + ln det Omega + ln det(Omega^-1 + sum_j [a_j a_j' + 2 b_j b_j']),

a_j = (dy_j/deta)/sigma_j, b_j = (dsigma_j/deta)/sigma_j, sigma_j = b*y_j.
It prints the OFV and the modes of subjects 1, 91 and 100 at the truth,
which tests/population_fit_test.cc stores.
Run: /usr/bin/python3 tools/simulate_population.py
"""
import math
import os

import numpy as np
from scipy.optimize import minimize

SEED = 20261209
TRUTH = {"tcl": math.log(5.0), "tv1": math.log(20.0), "tq": math.log(3.0),
         "tv2": math.log(40.0), "b": 0.1}
SD = [0.3, 0.2]
DOSE = 100.0
TIMES = [0.25, 0.5, 1, 2, 4, 6, 8, 12, 24]
HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "examples", "population_simulated")


def conc(th, eta, t):
    cl = np.exp(th["tcl"] + eta[0])
    v1 = np.exp(th["tv1"] + eta[1])
    q, v2 = math.exp(th["tq"]), math.exp(th["tv2"])
    k10, k12, k21 = cl / v1, q / v1, q / v2
    s = k10 + k12 + k21
    root = np.sqrt(s * s - 4 * k10 * k21)
    alpha, beta = (s + root) / 2, (s - root) / 2
    return DOSE / v1 * ((alpha - k21) / (alpha - beta) * np.exp(-alpha * t)
                        + (k21 - beta) / (alpha - beta) * np.exp(-beta * t))


def simulate():
    rng = np.random.default_rng(SEED)
    rows = []
    for i in range(1, 101):
        eta = rng.normal(0.0, SD)
        if i <= 90:
            times = TIMES
        elif i < 100:
            times = [float(np.round(rng.uniform(0.25, 24), 2))]
        else:
            times = []
        for t in times:
            y = float(conc(TRUTH, eta, np.array(t)))
            rows.append((i, t, y * (1 + TRUTH["b"] * rng.normal())))
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "data.csv"), "w") as f:
        f.write("# Simulated by tools/simulate_population.py, seed %d\n" % SEED)
        f.write("experiment,time,conc\n")
        for i, t, v in rows:
            f.write("s%d,%r,%.6g\n" % (i, t, v))
    with open(os.path.join(OUT, "problem.yaml"), "w") as f:
        f.write(PROBLEM_HEAD)
        for i in range(1, 101):
            f.write("  - {id: s%d, x0: {central: %g}}\n" % (i, DOSE))
        f.write("data: data.csv\n")


PROBLEM_HEAD = """# A simulated population (tools/simulate_population.py, seed %d): 100
# subjects, two compartments after an intravenous bolus of 100, random
# effects on log CL and log V1, proportional error. Truth: CL 5, V1 20,
# Q 3, V2 40, SD(eta_cl) 0.3, SD(eta_v1) 0.2, b 0.1. Subjects s91-s99 have
# one sample each, s100 none.
states: [central, peripheral]
parameters:
  tcl: {value: 1.2}
  tv1: {value: 2.7}
  tq:  {value: 1.4}
  tv2: {value: 3.4}
  b:   {value: 0.2, lower: 0.001, upper: 10, scale: log}
random:
  eta_cl: {sd: 0.5}
  eta_v1: {sd: 0.5}
individual:
  cl: exp(tcl + eta_cl)
  v1: exp(tv1 + eta_v1)
  q: exp(tq)
  v2: exp(tv2)
matrix:
  central:    {central: -(cl + q)/v1, peripheral: q/v2}
  peripheral: {central: q/v1, peripheral: -q/v2}
observables:
  conc: {states: {central: 1/v1}, sigma: b*conc}
experiments:
""" % SEED


def read_data():
    data = {i: [] for i in range(1, 101)}
    with open(os.path.join(OUT, "data.csv")) as f:
        for line in f:
            if line.startswith("#") or line.startswith("experiment"):
                continue
            s, t, v = line.strip().split(",")
            data[int(s[1:])].append((float(t), float(v)))
    return {i: np.array(d).reshape(-1, 2) for i, d in data.items()}


def subject(th, omega, d):
    oinv = np.linalg.inv(omega)
    t, v = d[:, 0], d[:, 1]
    if len(v) == 0:
        return 0.0, np.zeros(2)

    def f(eta):
        y = conc(th, eta, t)
        sig = th["b"] * y
        return np.sum((y - v) ** 2 / sig ** 2 + 2 * np.log(sig)) + eta @ oinv @ eta

    def grad(eta):
        g = []
        for k in range(2):
            e = np.array(eta, dtype=complex)
            e[k] += 1e-30j
            g.append(np.imag(f(e)) / 1e-30)
        return np.array(g)

    eta = minimize(f, np.zeros(2), jac=grad, method="BFGS", options={"gtol": 1e-10}).x
    for _ in range(5):  # Newton on a central-difference Hessian of the exact gradient
        h = 1e-6
        H = np.column_stack([(grad(eta + h * np.eye(2)[k]) - grad(eta - h * np.eye(2)[k])) / (2 * h)
                             for k in range(2)])
        eta = eta - np.linalg.solve((H + H.T) / 2, grad(eta))
    y = conc(th, eta, t)
    sig = th["b"] * y
    dy = np.column_stack([np.imag(conc(th, np.array(eta, dtype=complex) + 1e-30j * np.eye(2)[k], t)) / 1e-30
                          for k in range(2)])
    a = dy / sig[:, None]
    b = (th["b"] * dy) / sig[:, None]
    Hl = oinv + a.T @ a + 2 * b.T @ b
    r = (y - v) / sig
    ofv = (np.sum(r ** 2 + math.log(2 * math.pi) + 2 * np.log(sig)) + eta @ oinv @ eta
           + np.linalg.slogdet(omega)[1] + np.linalg.slogdet(Hl)[1])
    return ofv, eta


def main():
    simulate()
    data = read_data()
    omega = np.diag([SD[0] ** 2, SD[1] ** 2])
    total, modes = 0.0, {}
    for i, d in data.items():
        o, eta = subject(TRUTH, omega, d)
        total += o
        modes[i] = eta
    print("OFV at the truth %.10f" % total)
    for i in (1, 91, 100):
        print("s%d eta %.12f %.12f" % (i, modes[i][0], modes[i][1]))


if __name__ == "__main__":
    main()
