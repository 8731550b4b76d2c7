#!/usr/bin/env python3
"""Reference values for the entrywise accuracy tests of the exact model
(tests/matrix_exponential_accuracy_test.cc and tests/exact_decay_test.cc).

1. Chains x1 -> x2 -> ... -> xN, A lower bidiagonal with diagonal d_i and
   sub-diagonal c much larger than |d_i|, at t = 1:
     N = 5,  c = 1000, d_i = -1;
     N = 10, c = 50,   d_i = -0.2*i (i = 1 .. 10).
   Printed: every entry of the lower triangle of exp(A) (row by row), and the
   first column of the Frechet derivative L(A, E) with E = e_2 e_1^T (the
   change of exp(A) per unit change of the first sub-diagonal entry), from
   mpmath's expm of the block matrix [[A, E], [0, A]]. Computed at 60 and
   at 90 digits, which must agree to 1e-45.

2. Matrices with a cycle, whose exponentials decay by many orders:
     [[-1, 0.5], [0.8, -0.9]]*t at t = 45, 300 and 650 (entries near 1e-7,
     1e-42 and 1e-90), gut -> central <-> peripheral
     [[-1.3, 0, 0], [1.3, -0.25, 0.0733], [0, 0.1375, -0.0733]]*400 (the gut
     at 1e-226), and a stiff one,
     [[-1e4, 0.05, 0], [1e4, -0.1, 0.02], [0, 0.05, -0.02]]*8.
   Printed: every entry of exp, row by row.

3. Gut -> central with ka = ke = k = 0.7, boluses of D = 4 into the gut at
   t = 0 (and, in the second experiment, again at t = 20), concentration
   C = central/V with V = 0.5. For one bolus at 0,
     C(t)       = D*k*t*e^{-kt}/V,
     dC/dka     = D/V*(t*e^{-kt} - k*t^2*e^{-kt}/2),
     dC/dke     = -D/V*k*t^2*e^{-kt}/2,
     dC/dV      = -C/V,
   (the limits at ka = ke of D*ka*(e^{-ke t} - e^{-ka t})/(V*(ka - ke)) and
   of its derivatives), and a second bolus adds the same terms in t - 20.
   Printed as {t, C, dC/dka, dC/dke, dC/dV} per experiment.

Every input is taken as the double the tests use (0.7 is
0.6999999999999999555910790149937...), so that the references hold for
exactly the arguments given. Values are printed to 25 significant digits, to be pasted into the tests
once; the tests never run Python. Needs python3 with mpmath (Debian:
python3-mpmath).
"""
import mpmath as mp

CHAINS = [(5, "1000", ["-1"] * 5), (10, "50", [str(-0.2 * i)[:4] for i in
                                                range(1, 11)])]
K, DOSE, VOLUME = mp.mpf(0.7), mp.mpf(4), mp.mpf(0.5)
TIMES = ["1", "5", "20", "32.6", "45.1", "62.4", "150", "400", "950"]


def fmt(x):
    return mp.nstr(x, 25, min_fixed=-1, max_fixed=-1)


def chain(n, sub, diag):
    A = mp.zeros(n, n)
    for i in range(n):
        A[i, i] = mp.mpf(float(diag[i]))
        if i > 0:
            A[i, i - 1] = mp.mpf(float(sub))
    return A


def chain_values(n, sub, diag):
    A = chain(n, sub, diag)
    block = mp.zeros(2 * n, 2 * n)
    for i in range(n):
        for j in range(n):
            block[i, j] = block[n + i, n + j] = A[i, j]
    block[1, n] = 1  # E = e_2 e_1^T in the upper right block
    E = mp.expm(A)
    L = mp.expm(block)
    lower = [E[i, j] for i in range(n) for j in range(i + 1)]
    derivative = [L[i, n] for i in range(n)]
    return lower, derivative


CYCLES = [([["-1", "0.5"], ["0.8", "-0.9"]], t) for t in ("45", "300", "650")]
CYCLES += [([["-1.3", "0", "0"], ["1.3", "-0.25", "0.0733"],
             ["0", "0.1375", "-0.0733"]], "400"),
           ([["-1e4", "0.05", "0"], ["1e4", "-0.1", "0.02"],
             ["0", "0.05", "-0.02"]], "8")]


def cycle_values(rows, t):
    # The argument as the test forms it: each entry times t, rounded.
    n = len(rows)
    X = mp.matrix([[mp.mpf(float(rows[i][j]) * float(t)) for j in range(n)]
                   for i in range(n)])
    E = mp.expm(X)
    return [E[i, j] for i in range(n) for j in range(n)]


def one_bolus(t):
    e = mp.exp(-K * t)
    c = DOSE * K * t * e / VOLUME
    return [c, DOSE / VOLUME * (t * e - K * t * t * e / 2),
            -DOSE / VOLUME * K * t * t * e / 2, -c / VOLUME]


def main():
    for n, sub, diag in CHAINS:
        mp.mp.dps = 60
        lower, derivative = chain_values(n, sub, diag)
        mp.mp.dps = 90
        lower90, derivative90 = chain_values(n, sub, diag)
        for a, b in zip(lower + derivative, lower90 + derivative90):
            assert abs(a - b) <= mp.mpf("1e-45") * abs(b)
        print("// N = %d, sub-diagonal %s: exp(A), lower triangle" % (n, sub))
        print(",\n".join(fmt(x) for x in lower))
        print("// first column of L(A, e_2 e_1^T)")
        print(",\n".join(fmt(x) for x in derivative))
    for rows, t in CYCLES:
        mp.mp.dps = 60
        values = cycle_values(rows, t)
        mp.mp.dps = 90
        for a, b in zip(values, cycle_values(rows, t)):
            assert abs(a - b) <= mp.mpf("1e-45") * abs(b)
        print("// exp(%s * %s)" % (rows, t))
        print(",\n".join(fmt(x) for x in values))
    mp.mp.dps = 60
    for second in (False, True):
        print("// boluses at 0%s" % (" and 20" if second else ""))
        for text in TIMES:
            t = mp.mpf(float(text))
            row = one_bolus(t)
            if second and t > 20:
                row = [a + b for a, b in zip(row, one_bolus(t - 20))]
            print("{%s, %s}," % (text, ", ".join(fmt(x) for x in row)))


if __name__ == "__main__":
    main()
