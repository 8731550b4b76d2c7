#!/usr/bin/python3
"""Independent covariance step for the theophylline population fit
(examples/theophylline_population), from the FOCE-I objective of
tools/population_reference.py (closed-form model, complex-step derivatives in
eta, SciPy least squares for the modes), in x = (tka, tcl, tke, ln a,
ln sd_ka, ln sd_cl):

  R = 1/2 * Hessian of the OFV        (second central differences, step 1e-3,
                                       Richardson-extrapolated with 5e-4)
  S = 1/4 * sum_i g_i g_i'             (g_i: subject i's OFV_i gradient by
                                       Richardson central differences)
  sandwich R^-1 S R^-1, and R^-1 and S^-1.

At identify's estimate X_HAT (the L-BFGS fit with one start) it prints the
standard errors of x under each kind (stored in
tests/population_covariance_test.cc). Run:
/usr/bin/python3 tools/population_covariance.py
"""
import math
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import population_reference as ref  # noqa: E402

# identify's estimate (one start): tka, tcl, tke, ln a, ln sd_ka, ln sd_cl.
X_HAT = [0.4821313459, -3.230351127, -2.465527234, math.log(0.707770435),
         math.log(0.6564257044), math.log(0.1675106139)]


def hessian(x, data):
    n = len(x)
    H = np.zeros((n, n))
    f0 = ref.ofv_at_x(x, data)

    def second(k, l, h):
        if k == l:
            up, down = list(x), list(x)
            up[k] += h
            down[k] -= h
            return (ref.ofv_at_x(up, data) - 2 * f0 + ref.ofv_at_x(down, data)) / h**2
        total = 0.0
        for sk, sl, sign in ((1, 1, 1), (1, -1, -1), (-1, 1, -1), (-1, -1, 1)):
            p = list(x)
            p[k] += sk * h
            p[l] += sl * h
            total += sign * ref.ofv_at_x(p, data)
        return total / (4 * h * h)

    for k in range(n):
        for l in range(k, n):
            v = (4 * second(k, l, 5e-4) - second(k, l, 1e-3)) / 3
            H[k, l] = H[l, k] = v
    return H


def main(x_hat):
    data = ref.read_data()
    R = 0.5 * hessian(x_hat, data)
    S = np.zeros((6, 6))
    for i in range(12):
        g = np.array(ref.richardson_gradient(x_hat, data, i))
        S += 0.25 * np.outer(g, g)
    Ri = np.linalg.inv(R)
    kinds = {"sandwich": Ri @ S @ Ri, "r": Ri, "s": np.linalg.inv(S)}
    for name, C in kinds.items():
        print("%s SE %s" % (name, " ".join("%.8f" % math.sqrt(C[k, k]) for k in range(6))))
    print("R eigenvalues " + " ".join("%.6g" % e for e in np.linalg.eigvalsh(R)))


if __name__ == "__main__":
    main(X_HAT)
