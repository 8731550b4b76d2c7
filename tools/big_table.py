#!/usr/bin/env python3
"""Writes a problem file with a long data table, for measuring the memory and
time a run takes per measurement row.

    tools/big_table.py DIR ROWS [EXPERIMENTS]

DIR/problem.yaml: one compartment, x' = -k x, observed directly, with
EXPERIMENTS experiments (default 1) that start from different amounts;
DIR/data.csv: ROWS rows in long form (experiment, observable, time,
measurement), the experiments taking turns, each at its own increasing
times, values from the model at k = 0.3 with a small deterministic wobble so
that a fit has something to do. Standard library only.
"""

import math
import os
import sys


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    directory, rows = sys.argv[1], int(sys.argv[2])
    experiments = int(sys.argv[3]) if len(sys.argv) == 4 else 1
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, "problem.yaml"), "w") as out:
        out.write("states: [x]\n"
                  "parameters:\n"
                  "  k: {lower: 0.001, upper: 10, value: 0.5}\n"
                  "matrix:\n  x: {x: -k}\n"
                  "observables:\n  y: {states: {x: 1}}\n"
                  "experiments:\n")
        for e in range(experiments):
            out.write("  - {id: e%d, x0: {x: %d}}\n" % (e, 10 + e))
        out.write("data: data.csv\n")
    per_experiment = -(-rows // experiments)
    step = 20.0 / per_experiment
    with open(os.path.join(directory, "data.csv"), "w") as out:
        out.write("experiment,observable,time,measurement\n")
        lines = []
        for r in range(rows):
            e, k = r % experiments, r // experiments
            t = k * step
            wobble = 0.01 * math.sin(r)
            lines.append("e%d,y,%.6g,%.6g\n" %
                         (e, t, (10 + e) * math.exp(-0.3 * t) + wobble))
            if len(lines) == 100000:
                out.write("".join(lines))
                lines = []
        out.write("".join(lines))


if __name__ == "__main__":
    main()
