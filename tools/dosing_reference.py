#!/usr/bin/env python3
"""Reference values for the dosing test of the exact model (tests/exact_dosing_test.cc).

The system: an oral two-compartment model in amounts, gut -> central <->
peripheral with clearance from central,

  gut'     = -ka gut
  central' =  ka gut - (CL + Q)/V central + Q/V2 periph + amp exp(rate t)
  periph'  =  Q/V central - Q/V2 periph

with x(0) = (0, 0.5, 0), a source amp exp(rate t) into central (the legacy
input), ten oral boluses of 100 into gut every 12 h from t = 0, and two
infusions into central: 50 over 2 h from t = 30 and 80 over 0.5 h from
t = 60. Every dose acts at its time plus the lag tlag = 0.37. Observed:
conc = central / V and the gut amount.

Each value is the superposition of closed forms (A the 3x3 matrix, e_i unit
vectors, r = amount/duration):

  exp(A t) x0
  + amp (rate I - A)^-1 (exp(rate t) I - exp(A t)) e_central
  + sum over boluses at tau <= t of   exp(A (t - tau)) 100 e_gut
  + sum over infusions started at s < t, ending at f:
        r A^-1 (exp(A (t - s)) - exp(A (t - min(t, f)))) e_central,

a bolus at the very time of a sample counting as given. mpmath at 40
significant digits; every value is checked against a second computation,
event to event with the exponential of the augmented 5x5 matrix (state,
source, infusion input), to 1e-30. Printed to 25 digits, to be pasted into
the test once; the test never runs Python. Needs python3 with mpmath
(Debian: python3-mpmath).
"""
import mpmath as mp

mp.mp.dps = 40

KA, CL, V, Q, V2 = (mp.mpf(s) for s in ("1.3", "0.9", "8", "1.1", "15"))
AMP, RATE = mp.mpf("0.2"), mp.mpf("-0.05")
LAG = mp.mpf("0.37")
X0 = mp.matrix([0, mp.mpf("0.5"), 0])
BOLUSES = [(mp.mpf(12 * k), mp.mpf(100)) for k in range(10)]
INFUSIONS = [(mp.mpf(30), mp.mpf(50), mp.mpf(2)),
             (mp.mpf(60), mp.mpf(80), mp.mpf("0.5"))]
TIMES = ["0", "0.37", "1", "6", "12.37", "13", "30.5", "31.37", "32.37",
         "45", "60.37", "60.6", "60.87", "72.5", "100", "108.37", "120",
         "150"]

A = mp.matrix([[-KA, 0, 0],
               [KA, -(CL + Q) / V, Q / V2],
               [0, Q / V, -Q / V2]])
GUT, CENTRAL = mp.matrix([1, 0, 0]), mp.matrix([0, 1, 0])


def superposition(t):
    I = mp.eye(3)
    x = mp.expm(A * t) * X0
    x += AMP * mp.inverse(RATE * I - A) * (mp.exp(RATE * t) * I
                                           - mp.expm(A * t)) * CENTRAL
    for time, amount in BOLUSES:
        tau = time + LAG
        if tau <= t:
            x += mp.expm(A * (t - tau)) * (amount * GUT)
    for time, amount, duration in INFUSIONS:
        s, f = time + LAG, time + LAG + duration
        if s < t:
            r = amount / duration
            x += r * mp.inverse(A) * (mp.expm(A * (t - s))
                                      - mp.expm(A * (t - min(t, f)))) * CENTRAL
    return x


def augmented(t):
    """Event to event with B = [[A, e_c, e_c], [0, rate, 0], [0, 0, 0]]."""
    B = mp.zeros(5, 5)
    for i in range(3):
        for j in range(3):
            B[i, j] = A[i, j]
    B[1, 3], B[1, 4], B[3, 3] = 1, 1, RATE
    events = [(time + LAG, 0, amount) for time, amount in BOLUSES]
    for time, amount, duration in INFUSIONS:
        events.append((time + LAG, 4, amount / duration))
        events.append((time + LAG + duration, 4, -amount / duration))
    events.sort(key=lambda e: e[0])
    z = mp.matrix([X0[0], X0[1], X0[2], AMP, 0])
    now = mp.mpf(0)
    for tau, index, jump in events:
        if tau > t:
            break
        z = mp.expm(B * (tau - now)) * z
        z[index] += jump
        now = tau
    z = mp.expm(B * (t - now)) * z
    return mp.matrix([z[0], z[1], z[2]])


def main():
    for text in TIMES:
        t = mp.mpf(text)
        x = superposition(t)
        check = augmented(t)
        for i in range(3):
            assert abs(x[i] - check[i]) <= mp.mpf("1e-30") * (1 + abs(x[i])), \
                (text, i, x[i], check[i])
        conc = x[1] / V
        print("    {%s, %s, %s}," % (text, mp.nstr(conc, 25, min_fixed=-1,
                                                  max_fixed=-1),
                                     mp.nstr(x[0], 25, min_fixed=-1,
                                             max_fixed=-1)))


if __name__ == "__main__":
    main()
