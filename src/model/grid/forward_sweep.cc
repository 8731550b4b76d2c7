// Forward sweep: classic four-stage Runge-Kutta for dx/dt = A x + s(t), with
// s_i(t) = amp_i·exp(rate_i·t), on the uniform grid t_s = s·dt. Every stage of
// step s evaluates the right-hand side at t_s, the time of the node the step
// produces: k1 = dt·f(w), k2 = dt·f(w + k1/2), k3 = dt·f(w + k2/2),
// k4 = dt·f(w + k3), w += (2·k2 + k1 + 2·k3 + k4) / 6, summed in exactly that
// order (rk4_step, shared with the adjoint sweep). The fixed order of every sum
// makes the trajectory reproducible to the last bit; this plain version is the
// reference the fast kernels match.
#include "model/grid/forward_sweep.h"

#include <cmath>

namespace identify {

void forward_rhs(int N, const double* x, const Matrix& A, double t,
                 const double* amp, const double* rate, double* out) {
  for (int i = 0; i < N; ++i) {
    const double* a = A[i];
    double sum = 0.0;
    for (int j = 0; j < N; ++j) sum = a[j] * x[j] + sum;
    const double e = std::exp(rate[i] * t);
    out[i] = e * amp[i] + sum;
  }
}

int step_count(double T, double dt) {
  const double q = std::nearbyint(T / dt);
  if (!std::isfinite(q) || q < 0.0) return 0;
  return q > kStepCount ? kStepCount : static_cast<int>(q);
}

void solve_forward(int N, double T, double dt, const double* x0,
                   const Matrix& A, const double* amp, const double* rate,
                   Trajectory& X, SweepScratch& s,
                   const std::atomic<int>* stop) {
  const int n = step_count(T, dt);
  double* w = s.w.data();
  for (int i = 0; i < N; ++i) {
    w[i] = x0[i];
    X[i][0] = w[i];
  }
  for (int step = 1; step <= n; ++step) {
    if (step % kStopCheckInterval == 0 && stop_requested(stop)) return;
    const double t = static_cast<double>(step) * dt;
    rk4_step(N, dt, s, [&](const double* y, double* f) {
      forward_rhs(N, y, A, t, amp, rate, f);
    });
    for (int i = 0; i < N; ++i) X[i][step] = w[i];
  }
}

}  // namespace identify
