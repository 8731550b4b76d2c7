// The six scratch Vectors that both sweeps borrow: the four stage increments,
// the stage argument y and the right-hand side f. The caller allocates them
// once per run so that no sweep allocates inside the descent loop.
#pragma once

#include "core/table.h"

namespace identify {

struct SweepScratch {
  explicit SweepScratch(int n) : k1(n), k2(n), k3(n), k4(n), y(n), f(n), w(n) {}
  Vector k1, k2, k3, k4, y, f;
  Vector w;  // the running state of a sweep
};

// The RK4 combination of one step: w_i = (2·k2_i + k1_i + 2·k3_i + k4_i) / 6
// + w_i, summed in exactly that order and divided (not multiplied by 1/6).
inline void rk4_combine(int N, SweepScratch& s) {
  for (int i = 0; i < N; ++i) {
    double u = 2.0 * s.k2[i];
    u = u + s.k1[i];
    u = u + 2.0 * s.k3[i];
    u = u + s.k4[i];
    u = u / 6.0;
    s.w[i] = u + s.w[i];
  }
}

}  // namespace identify
