// Forward sweep of the model dx/dt = A x + amp·exp(rate·t) on the TimeGrid,
// the plain reference implementation: every sum and product in the one fixed
// order that makes the results reproducible to the last bit.
#pragma once

#include <atomic>

#include "core/table.h"
#include "model/grid/sweep_scratch.h"
#include "model/stop_flag.h"

namespace identify {

// out_i = sum_j A[i][j]·x_j (j ascending, each product added to the running
// sum), then + exp(rate_i·t)·amp_i. out and x are distinct.
void forward_rhs(int N, const double* x, const Matrix& A, double t,
                 const double* amp, const double* rate, double* out);

// Number of steps for a caller's dt: T/dt to the nearest whole number (3000
// for dt = T/3000). Returns 0 when the quotient is not finite.
int step_count(double T, double dt);

// Classic four-stage Runge-Kutta with fixed step dt, all four stages
// evaluated at the time of the node the step produces, t_s = s·dt. Fills
// X[i][0 .. n] (n = step_count(T, dt), at most kStepCount); X has N rows of
// kNodeCount doubles. x0, amp and rate have N entries. Once *stop is
// nonzero (looked at every kStopCheckInterval steps) the sweep returns
// early and the later nodes keep what they held; a null stop never is.
void solve_forward(int N, double T, double dt, const double* x0,
                   const Matrix& A, const double* amp, const double* rate,
                   Trajectory& X, SweepScratch& scratch,
                   const std::atomic<int>* stop = nullptr);

}  // namespace identify
