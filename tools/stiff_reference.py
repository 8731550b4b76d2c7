#!/usr/bin/env python3
"""Reference values for the stiff test of the exact model (tests/exact_model_stiff_test.cc).

The system: a gut compartment x1 absorbed at ka = 1e4 per hour into a central
compartment x2 cleared at ke = 0.1 per hour (eigenvalues -1e4 and -0.1), a
source amp*exp(rate*t) into the gut, x(0) = (x10, x20), and the observable
y = x2/V + d. Its solution in closed form (every term a sum of exponentials):

  x1(t) = x10*e^{-ka t} + amp*(e^{rt} - e^{-ka t})/(r + ka)
  x2(t) = x20*e^{-ke t} + ka*x10*(e^{-ka t} - e^{-ke t})/(ke - ka)
        + ka*amp/(r + ka)*[(e^{rt} - e^{-ke t})/(r + ke)
                           - (e^{-ka t} - e^{-ke t})/(ke - ka)]

evaluated in mpmath at 60 significant digits, and checked against mpmath's
own matrix exponential of the augmented 3x3 system to 40 digits. The values
are printed to 25 digits, to be pasted into the test once; the test never
runs Python. Needs python3 with mpmath (Debian: python3-mpmath).
"""
import mpmath as mp

mp.mp.dps = 60

KA = mp.mpf(10000)
KE = mp.mpf("0.1")
AMP = mp.mpf(2)
RATE = mp.mpf("-0.5")
X10 = mp.mpf(5)
X20 = mp.mpf("0.5")
V = mp.mpf(3)
D = mp.mpf("0.25")
TIMES = ["0", "1e-5", "1e-4", "3e-4", "1e-3", "0.01", "0.1", "0.5", "1", "2",
         "4", "8"]


def closed_form(t):
    ea, ee, er = mp.exp(-KA * t), mp.exp(-KE * t), mp.exp(RATE * t)
    x1 = X10 * ea + AMP * (er - ea) / (RATE + KA)
    x2 = (X20 * ee + KA * X10 * (ea - ee) / (KE - KA)
          + KA * AMP / (RATE + KA) * ((er - ee) / (RATE + KE)
                                      - (ea - ee) / (KE - KA)))
    return x1, x2


def by_expm(t):
    B = mp.matrix([[-KA, 0, 1], [KA, -KE, 0], [0, 0, RATE]])
    z = mp.expm(B * t) * mp.matrix([X10, X20, AMP])
    return z[0], z[1]


def main():
    for text in TIMES:
        t = mp.mpf(text)
        x1, x2 = closed_form(t)
        e1, e2 = by_expm(t)
        for a, b in ((x1, e1), (x2, e2)):
            assert abs(a - b) <= mp.mpf("1e-40") * abs(a), (text, a, b)
        y = x2 / V + D
        print("    {%s, %s, %s}," % (text, mp.nstr(x1, 25, min_fixed=-1,
                                                  max_fixed=-1),
                                     mp.nstr(y, 25, min_fixed=-1,
                                             max_fixed=-1)))


if __name__ == "__main__":
    main()
