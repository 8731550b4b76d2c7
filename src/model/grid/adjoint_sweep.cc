// Adjoint sweep: for the misfit J = sum (x_c(t_kn) − d_kn)², the adjoint
// psi solves dpsi/dt = −Aᵀ psi backward from psi(T) = 0, jumping by
// 2·(x_c(t_kn) − d_kn) in component c at every sample node; then
// dJ/dA[i][j] = integral over [0, T] of psi_i·x_j. Walking from node n down
// to node 0 with the positive grid step dt, one RK4 step for
// dpsi/ds = +Aᵀ psi in reversed time s = T − t reads k = (−dt)·(−Aᵀ psi)
// stage by stage, in the same arrangement as the forward sweep. Each sample's
// jump lands at the very node its model value was read from, after the step
// that produces that node and before the node is stored.
#include "model/grid/adjoint_sweep.h"

#include <algorithm>
#include <cmath>

#include "model/grid/forward_sweep.h"

namespace identify {

int sample_node(double t, double T) {
  const double q = t / T;
  const double r = q * static_cast<double>(kStepCount);
  if (!(r > 0.0)) return 0;  // also NaN
  if (r >= static_cast<double>(kStepCount)) return kStepCount;
  return static_cast<int>(r);
}

std::vector<Jump> make_jump_schedule(std::span<const int> components,
                                     std::span<const double> times, double T) {
  std::vector<Jump> jumps;
  jumps.reserve(times.size());
  for (std::size_t q = 0; q < times.size(); ++q) {
    jumps.push_back(
        Jump{sample_node(times[q], T), components[q], 0, static_cast<int>(q)});
  }
  std::stable_sort(
      jumps.begin(), jumps.end(),
      [](const Jump& a, const Jump& b) { return a.node > b.node; });
  return jumps;
}

void adjoint_rhs(int N, const double* psi, const Matrix& A, double* out) {
  for (int i = 0; i < N; ++i) {
    double sum = 0.0;
    for (int j = 0; j < N; ++j) sum = (-A[j][i]) * psi[j] + sum;
    out[i] = sum;
  }
}

void solve_adjoint(int N, double T, double dt, const double* terminal,
                   const Matrix& A, const Table& H, std::span<const Jump> jumps,
                   Trajectory& Psi, SweepScratch& s,
                   const std::atomic<int>* stop) {
  const int n = step_count(T, dt);
  const double mdt = -dt;
  double* w = s.w.data();
  double* k1 = s.k1.data();
  double* k2 = s.k2.data();
  double* k3 = s.k3.data();
  double* k4 = s.k4.data();
  double* y = s.y.data();
  double* f = s.f.data();
  JumpCursor cursor(jumps, n);
  for (int j = 0; j < N; ++j) w[j] = terminal[j];
  cursor.apply(n, H, w);
  for (int j = 0; j < N; ++j) Psi[j][n] = w[j];
  for (int i = 1; i <= n; ++i) {
    if (i % kStopCheckInterval == 0 && stop_requested(stop)) return;
    const int node = n - i;
    adjoint_rhs(N, w, A, f);
    for (int j = 0; j < N; ++j) k1[j] = mdt * f[j];
    for (int j = 0; j < N; ++j) y[j] = w[j] + k1[j] / 2.0;
    adjoint_rhs(N, y, A, f);
    for (int j = 0; j < N; ++j) k2[j] = mdt * f[j];
    for (int j = 0; j < N; ++j) y[j] = w[j] + k2[j] / 2.0;
    adjoint_rhs(N, y, A, f);
    for (int j = 0; j < N; ++j) k3[j] = mdt * f[j];
    for (int j = 0; j < N; ++j) y[j] = w[j] + k3[j];
    adjoint_rhs(N, y, A, f);
    for (int j = 0; j < N; ++j) k4[j] = mdt * f[j];
    rk4_combine(N, s);
    cursor.apply(node, H, w);
    for (int j = 0; j < N; ++j) Psi[j][node] = w[j];
  }
}

}  // namespace identify
