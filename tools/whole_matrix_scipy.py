#!/usr/bin/python3
"""The whole-matrix fits of ../shared/data/whole_matrix_wellposed by SciPy.

scipy.optimize.least_squares (method='trf', exact Jacobian) on a problem
directory (problem.yaml with every entry of A free, start 0, and data.csv):
x_k(t) = expm(t A) x0_k for each experiment k, every state observed. The
Jacobian is exact: for all N^2 directions at once from A = V diag(l) V^-1,
dx(t)/dA_ij = sum_pq V_ap Vinv_pi Phi_pq V_jq (Vinv x0)_q with Phi the
divided differences of exp(t l). Prints the sum of squares, the number of
evaluations and the CPU and wall time of the fit, one `key value` a line.

Run with Debian's python (numpy, scipy): /usr/bin/python3 tools/whole_matrix_scipy.py DIR
"""
import csv
import re
import sys
import time

import numpy as np
from scipy.optimize import least_squares


def read_problem(directory):
    text = open(f"{directory}/problem.yaml").read()
    states = re.search(r"^states: \[(.*)\]", text, re.M).group(1).split(", ")
    index = {s: i for i, s in enumerate(states)}
    n = len(states)
    starts = []
    for match in re.finditer(r"- \{id: (\w+), x0: \{(.*)\}\}", text):
        x0 = np.zeros(n)
        for pair in match.group(2).split(", "):
            name, value = pair.split(": ")
            x0[index[name]] = float(value)
        starts.append((match.group(1), x0))
    data = {}
    with open(f"{directory}/data.csv") as f:
        for row in csv.DictReader(f):
            key = row["experiment"]
            data.setdefault(key, []).append(
                (float(row["time"]), int(row["observable"][1:]) - 1,
                 float(row["measurement"])))
    return n, starts, data


def divided_differences(l, t):
    g = np.exp(t * l)
    d = l[:, None] - l[None, :]
    close = np.abs(t * d) < 1e-8
    with np.errstate(divide="ignore", invalid="ignore"):
        phi = (g[:, None] - g[None, :]) / np.where(close, 1.0, d)
    return np.where(close, t * 0.5 * (g[:, None] + g[None, :]), phi), g


def main(directory):
    n, starts, data = read_problem(directory)
    plan = []
    for key, x0 in starts:
        rows = data[key]
        times = sorted({t for t, _, _ in rows})
        where = {t: i for i, t in enumerate(times)}
        plan.append((x0, np.array(times),
                     np.array([where[t] for t, _, _ in rows]),
                     np.array([o for _, o, _ in rows]),
                     np.array([m for _, _, m in rows])))
    measured = np.concatenate([p[4] for p in plan])

    def states(a):
        A = a.reshape(n, n)
        l, V = np.linalg.eig(A)
        return l, V, np.linalg.inv(V)

    def residuals(a):
        l, V, Vinv = states(a)
        out = []
        for x0, times, ti, obs, _ in plan:
            y = Vinv @ x0
            X = np.real(V @ (np.exp(np.outer(l, times)) * y[:, None]))
            out.append(X[obs, ti])
        return np.concatenate(out) - measured

    def jacobian(a):
        l, V, Vinv = states(a)
        blocks = []
        for x0, times, ti, obs, _ in plan:
            y = Vinv @ x0
            G = np.empty((len(times), n, n, n))
            for k, t in enumerate(times):
                phi, _ = divided_differences(l, t)
                R = phi @ (y[:, None] * V.T)  # p x j
                G[k] = np.real(np.einsum("ap,pi,pj->aij", V, Vinv, R))
            blocks.append(G[ti, obs].reshape(len(ti), n * n))
        return np.vstack(blocks)

    cpu, wall = time.process_time(), time.perf_counter()
    fit = least_squares(residuals, np.zeros(n * n), jac=jacobian,
                        method="trf")
    cpu, wall = time.process_time() - cpu, time.perf_counter() - wall
    print(f"ssr {float(fit.fun @ fit.fun)!r}")
    print(f"evaluations {fit.nfev}")
    print(f"cpu_seconds {cpu}")
    print(f"wall_seconds {wall}")


if __name__ == "__main__":
    main(sys.argv[1])
