// The RK4 step that both reference sweeps take, and the scratch Vectors it
// works in: the four stage increments, the stage argument y, the
// right-hand side f and the running state w. The caller allocates them once
// per run so that no sweep allocates inside the descent loop.
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

// One step of w' = g(w) with step h (negative for the adjoint's backward
// sweep): rhs(y, f) sets f = g(y). The stages, in this one order:
//   k1 = h·g(w), k2 = h·g(w + k1/2), k3 = h·g(w + k2/2), k4 = h·g(w + k3),
// then rk4_combine. Every product and sum is the reference order the fast
// kernels match bit for bit.
template <typename Rhs>
inline void rk4_step(int N, double h, SweepScratch& s, const Rhs& rhs) {
  double* w = s.w.data();
  double* k1 = s.k1.data();
  double* k2 = s.k2.data();
  double* k3 = s.k3.data();
  double* k4 = s.k4.data();
  double* y = s.y.data();
  double* f = s.f.data();
  rhs(w, f);
  for (int i = 0; i < N; ++i) k1[i] = h * f[i];
  for (int i = 0; i < N; ++i) y[i] = w[i] + k1[i] / 2.0;
  rhs(y, f);
  for (int i = 0; i < N; ++i) k2[i] = h * f[i];
  for (int i = 0; i < N; ++i) y[i] = w[i] + k2[i] / 2.0;
  rhs(y, f);
  for (int i = 0; i < N; ++i) k3[i] = h * f[i];
  for (int i = 0; i < N; ++i) y[i] = w[i] + k3[i];
  rhs(y, f);
  for (int i = 0; i < N; ++i) k4[i] = h * f[i];
  rk4_combine(N, s);
}

}  // namespace identify
