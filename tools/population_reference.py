#!/usr/bin/python3
"""Independent reference for the FOCE-I objective on the theophylline
population (examples/theophylline_population): the one-compartment model in
closed form, derivatives with respect to eta by complex steps (exact to
rounding), each subject's conditional mode by SciPy's least squares on the
penalised residuals (additive error), and

  OFV_i = sum_j [r_j^2 + ln 2 pi + 2 ln sigma] + eta' Omega^-1 eta
          + ln det Omega + ln det(Omega^-1 + sum_j a_j a_j'),
  a_j = (d y_j / d eta) / sigma.

It prints the OFV, the modes and subject 1's conditional weighted residuals
(CWRES) at a fixed test point (stored in
tests/population_fit_test.cc), then compares FOCE-I with nlme's
Lindstrom-Bates fit: the FOCE-I OFV at nlme's estimates and at identify's,
and the marginal likelihood itself at both points by adaptive Gauss-Hermite
quadrature (40 x 40 nodes around each mode), which neither approximation
uses. It also prints the gradient of the OFV, and of subject 1's OFV_i, at
the test point with respect to x = (tka, tcl, tke, ln a, ln sd_ka, ln sd_cl)
by its own means: Richardson-extrapolated central differences of the OFV
above (steps 1e-3 and 5e-4, truncation O(h^4)), the modes solved to 1e-15
at every point (stored in tests/population_gradient_test.cc).
Run: /usr/bin/python3 tools/population_reference.py
"""
import csv
import math
import os

import numpy as np
from scipy.optimize import least_squares

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLE = os.path.join(HERE, "..", "examples", "theophylline_population")
DOSES = [4.02, 4.4, 4.53, 4.4, 5.86, 4, 4.95, 4.53, 3.1, 5.5, 4.92, 5.3]


def read_data():
    subjects = {}
    with open(os.path.join(EXAMPLE, "theophylline.csv")) as f:
        rows = [l for l in f if not l.startswith("#")]
    for row in csv.DictReader(rows):
        subjects.setdefault(row["experiment"], []).append(
            (float(row["time"]), float(row["concentration"])))
    return [np.array(subjects["subject%d" % (i + 1)]) for i in range(12)]


def conc(theta, eta, dose, t):
    tka, tcl, tke = theta[0], theta[1], theta[2]
    ka = np.exp(tka + eta[0])
    cl = np.exp(tcl + eta[1])
    ke = np.exp(tke)
    return dose * ka * ke / (cl * (ka - ke)) * (np.exp(-ke * t) - np.exp(-ka * t))


def jac_eta(theta, eta, dose, t):
    h = 1e-30
    cols = []
    for k in range(len(eta)):
        e = np.array(eta, dtype=complex)
        e[k] += 1j * h
        cols.append(np.imag(conc(theta, e, dose, t)) / h)
    return np.column_stack(cols)


def subject_ofv(theta, sigma, omega, dose, data):
    t, v = data[:, 0], data[:, 1]
    L = np.linalg.cholesky(omega)
    Linv = np.linalg.inv(L)

    def res(eta):
        return np.concatenate([(conc(theta, eta, dose, t) - v) / sigma, Linv @ eta])

    def jac(eta):
        return np.vstack([jac_eta(theta, eta, dose, t) / sigma, Linv])

    sol = least_squares(res, np.zeros(2), jac=jac, xtol=1e-15, ftol=1e-15,
                        gtol=1e-15, method="lm")
    eta = sol.x
    r = (conc(theta, eta, dose, t) - v) / sigma
    a = jac_eta(theta, eta, dose, t) / sigma
    oinv = np.linalg.inv(omega)
    H = oinv + a.T @ a
    n = len(v)
    ofv = (r @ r + n * math.log(2 * math.pi) + 2 * n * math.log(sigma)
           + eta @ oinv @ eta + np.linalg.slogdet(omega)[1]
           + np.linalg.slogdet(H)[1])
    return ofv, eta, H


def marginal(theta, sigma, omega, dose, data, eta, H, nodes=40):
    """-2 ln of the integral of p(y|eta) N(eta; 0, Omega) by Gauss-Hermite
    quadrature centred at the mode with the scale H^-1/2."""
    t, v = data[:, 0], data[:, 1]
    x, w = np.polynomial.hermite.hermgauss(nodes)
    C = np.linalg.cholesky(np.linalg.inv(H))
    oinv = np.linalg.inv(omega)
    logdet_omega = np.linalg.slogdet(omega)[1]
    total = []
    for i in range(nodes):
        for j in range(nodes):
            z = np.array([x[i], x[j]]) * math.sqrt(2.0)
            e = eta + C @ z
            r = (conc(theta, e, dose, t) - v) / sigma
            log_p = (-0.5 * (r @ r) - len(v) * math.log(sigma * math.sqrt(2 * math.pi))
                     - 0.5 * (e @ oinv @ e) - math.log(2 * math.pi) - 0.5 * logdet_omega)
            total.append(math.log(w[i] * w[j]) + (x[i] ** 2 + x[j] ** 2) + log_p)
    m = max(total)
    log_int = m + math.log(sum(math.exp(s - m) for s in total))
    log_int += math.log(2.0) + np.linalg.slogdet(C)[1]  # sqrt(2)^2 det C
    return -2.0 * log_int


def population(theta, sd_ka, sd_cl, sigma, data, exact=False):
    omega = np.diag([sd_ka ** 2, sd_cl ** 2])
    ofv, modes, m2ll = 0.0, [], 0.0
    for dose, d in zip(DOSES, data):
        o, eta, H = subject_ofv(theta, sigma, omega, dose, d)
        ofv += o
        modes.append(eta)
        if exact:
            m2ll += marginal(theta, sigma, omega, dose, d, eta, H)
    return ofv, modes, m2ll


def ofv_at_x(x, data, subject=None):
    theta = x[:3]
    omega = np.diag([math.exp(2 * x[4]), math.exp(2 * x[5])])
    sigma = math.exp(x[3])
    pairs = list(zip(DOSES, data))
    if subject is not None:
        pairs = [pairs[subject]]
    return sum(subject_ofv(theta, sigma, omega, dose, d)[0] for dose, d in pairs)


def richardson_gradient(x, data, subject=None):
    out = []
    for k in range(len(x)):
        def central(h):
            up, down = list(x), list(x)
            up[k] += h
            down[k] -= h
            return (ofv_at_x(up, data, subject) - ofv_at_x(down, data, subject)) / (2 * h)
        d1, d2 = central(1e-3), central(5e-4)
        out.append((4 * d2 - d1) / 3)
    return out


def main():
    data = read_data()
    x = [0.45, -3.2, -2.45, math.log(0.7), math.log(0.6), math.log(0.2)]
    print("gradient " + " ".join("%.10f" % g for g in richardson_gradient(x, data)))
    print("subject1 gradient " + " ".join(
        "%.10f" % g for g in richardson_gradient(x, data, 0)))
    theta = [0.45, -3.2, -2.45]
    ofv, modes, _ = population(theta, 0.6, 0.2, 0.7, data)
    print("test point: tka 0.45, tcl -3.2, tke -2.45, sd 0.6 0.2, a 0.7")
    print("OFV %.12f" % ofv)
    for i, eta in enumerate(modes):
        print("subject%d eta %.12f %.12f" % (i + 1, eta[0], eta[1]))
    # CWRES of subject 1 at the test point: C^-1/2 (v - y(eta) + G eta),
    # C = G Omega G' + sigma^2 I, the symmetric inverse square root.
    t, v = data[0][:, 0], data[0][:, 1]
    eta = modes[0]
    G = jac_eta(theta, eta, DOSES[0], t)
    C = G @ np.diag([0.36, 0.04]) @ G.T + 0.49 * np.eye(len(t))
    w, U = np.linalg.eigh(C)
    cwres = U @ np.diag(w ** -0.5) @ U.T @ (v - conc(theta, eta, DOSES[0], t) + G @ eta)
    print("subject1 CWRES " + " ".join("%.12f" % c for c in cwres))
    points = {
        "nlme (Lindstrom-Bates, ML)": ([0.4657363, -3.2272229, -2.4547044],
                                       0.6435747, 0.1669282, 0.7092544),
        "identify (FOCE-I)": ([0.4821310405, -3.230348601, -2.465525018],
                              0.6564209406, 0.1675101079, 0.7077690425),
    }
    for name, (th, s1, s2, a) in points.items():
        ofv, _, exact = population(th, s1, s2, a, data, exact=True)
        print("%s: FOCE-I log-lik %.6f, quadrature log-lik %.6f"
              % (name, -0.5 * ofv, -0.5 * exact))


if __name__ == "__main__":
    main()
