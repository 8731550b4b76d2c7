// The forward and adjoint sweeps against analytic solutions and the exact
// values the fixed order of operations produces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "model/grid/adjoint_sweep.h"
#include "model/grid/forward_sweep.h"
#include "model/grid/quadrature.h"
#include "test_problems.h"

namespace identify {
namespace {

using testing::matrix_of;

// Both sweeps of one system on the full grid, dt = T/3000.
struct Sweeps {
  explicit Sweeps(int n)
      : n(n), X(make_trajectory(n)), Psi(make_trajectory(n)), scratch(n) {}
  void forward(double T, const Matrix& A, Vector x0, Vector amp, Vector rate) {
    solve_forward(n, T, T / 3000.0, x0.data(), A, amp.data(), rate.data(), X,
                  scratch);
  }
  void adjoint(double T, const Matrix& A, Vector terminal, const Table& H,
               const std::vector<Jump>& jumps) {
    solve_adjoint(n, T, T / 3000.0, terminal.data(), A, H, jumps, Psi, scratch);
  }
  int n;
  Trajectory X, Psi;
  SweepScratch scratch;
};

// Scalar systems x' = a·x + amp·exp(rate·t) at one node. A tolerance of 0
// asks for the exact bits of this order of operations (for the decay, within
// 2e-16 of exp(-1)).
TEST(ForwardSweep, GoldenValues) {
  const double dt = 1.0 / 3000.0;
  const struct {
    const char* name;
    double T, a, x0, amp, rate;
    int node;
    double want, tolerance;
  } cases[] = {
      {"decay", 1.0, -1.0, 1.0, 0.0, 0.0, 3000, 0.36787944117144222, 0.0},
      // The source is evaluated at the end of every step, not at mid-step
      // times: 2.8e-4 above e − 1.
      {"source, first step", 1.0, 0.0, 0.0, 1.0, 1.0, 1, dt * std::exp(dt),
       2e-19},
      {"source, end", 1.0, 0.0, 0.0, 1.0, 1.0, 3000, 1.7185682246738, 1e-12},
      {"constant source, end", 3.0, 0.0, 0.5, 2.0, 0.0, 3000, 6.5, 1e-12},
      {"constant source, inside", 3.0, 0.0, 0.5, 2.0, 0.0, 1234,
       0.5 + 2.0 * 1234 * (3.0 / 3000.0), 1e-12},
      // T/dt is just below 3000, yet all 3000 steps are taken.
      {"T = 7", 7.0, 0.0, 0.0, 1.0, 0.0, 3000, 7.0, 1e-12},
  };
  for (const auto& c : cases) {
    Sweeps f(1);
    f.forward(c.T, matrix_of({{c.a}}), {c.x0}, {c.amp}, {c.rate});
    EXPECT_NEAR(f.X[0][c.node], c.want, c.tolerance) << c.name;
  }
  EXPECT_EQ(step_count(7.0, 7.0 / 3000.0), 3000);
}

TEST(ForwardSweep, RowOfAFeedsItsComponent) {
  Sweeps f(2);
  f.forward(1.0, matrix_of({{0.0, 1.0}, {0.0, 0.0}}), {0.0, 1.0}, {0.0, 0.0},
            {0.0, 0.0});
  for (int k = 0; k <= 3000; k += 250) {
    EXPECT_EQ(f.X[1][k], 1.0);
    EXPECT_NEAR(f.X[0][k], k / 3000.0, 1e-12);
  }
}

TEST(ForwardSweep, EdgeCases) {
  {  // A = 0, amp = 0: every node is x0.
    Sweeps f(3);
    f.forward(2.0, make_matrix(3), {1.0, -2.0, 3.5}, {0, 0, 0}, {1, 2, 3});
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k <= 3000; ++k) ASSERT_EQ(f.X[i][k], f.X[i][0]);
  }
  {  // N = 0 writes nothing and does not crash.
    Sweeps f(0);
    f.forward(1.0, make_matrix(0), {}, {}, {});
  }
}

TEST(AdjointSweep, JumpsLandAtTheirNodes) {
  // One series, four samples at nodes 0, 1000, 2000, 3000.
  Table H(1, 4);
  const double jump[] = {100.0, 1.0, 10.0, 1000.0};
  std::copy(jump, jump + 4, H[0]);
  std::vector<Jump> jumps = {
      {3000, 0, 0, 3}, {2000, 0, 0, 2}, {1000, 0, 0, 1}, {0, 0, 0, 0}};
  Sweeps a(1);
  a.adjoint(1.0, matrix_of({{0.0}}), {0.0}, H, jumps);
  for (int k = 2001; k <= 3000; ++k) ASSERT_EQ(a.Psi[0][k], 1000.0) << k;
  for (int k = 1001; k <= 2000; ++k) ASSERT_EQ(a.Psi[0][k], 1010.0) << k;
  for (int k = 1; k <= 1000; ++k) ASSERT_EQ(a.Psi[0][k], 1011.0) << k;
  EXPECT_EQ(a.Psi[0][0], 1111.0);
}

TEST(AdjointSweep, IntegratesBackwardInTime) {
  {  // The adjoint of dx/dt = 2x grows backward: psi(0) = exp(2).
    Sweeps a(1);
    a.adjoint(1.0, matrix_of({{2.0}}), {1.0}, Table(1, 1), {});
    EXPECT_NEAR(a.Psi[0][0], std::exp(2.0), 1e-12);
    EXPECT_EQ(a.Psi[0][3000], 1.0);
  }
  {  // Transpose: A[0][1] feeds psi_1 from psi_0, growing toward t = 0.
    Sweeps a(2);
    a.adjoint(1.0, matrix_of({{0.0, 1.0}, {0.0, 0.0}}), {1.0, 0.0}, Table(1, 1),
              {});
    for (int k = 0; k <= 3000; k += 300) {
      EXPECT_EQ(a.Psi[0][k], 1.0);
      EXPECT_NEAR(a.Psi[1][k], (3000 - k) / 3000.0, 1e-12);
    }
  }
  {  // A = 0, no jumps, zero terminal: zero everywhere.
    Sweeps a(2);
    a.Psi.fill(5.0);
    a.adjoint(3.0, make_matrix(2), {0.0, 0.0}, Table(2, 3), {});
    EXPECT_EQ(a.Psi, Trajectory(2, kNodeCount, 0.0));
  }
}

TEST(JumpSchedule, NodesByTruncationAndOrder) {
  EXPECT_EQ(sample_node(0.7, 3.0), 699);
  EXPECT_EQ(sample_node(0.6, 3.0), 600);
  EXPECT_EQ(sample_node(0.8, 3.0), 800);
  EXPECT_EQ(sample_node(0.009, 1.0), 26);
  EXPECT_EQ(sample_node(1.0, 1.0), 3000);
  EXPECT_EQ(sample_node(0.0, 1.0), 0);

  // Two series on one component with a shared node, and a second
  // component, sample after sample: node descending, then sample order.
  const std::vector<int> components = {1, 1, 1, 0, 0, 0, 1, 1, 1};
  const std::vector<double> times = {0, 0.5, 1.0, 0, 0.25, 1.0, 0, 1.0, 0.5};
  const std::vector<Jump> want = {
      {3000, 1, 0, 2}, {3000, 0, 0, 5}, {3000, 1, 0, 7},
      {1500, 1, 0, 1}, {1500, 1, 0, 8}, {750, 0, 0, 4},
      {0, 1, 0, 0},    {0, 0, 0, 3},    {0, 1, 0, 6}};
  EXPECT_EQ(make_jump_schedule(components, times, 1.0), want);
}

TEST(Quadrature, TrapezoidArrangement) {
  std::vector<double> ones(3001, 1.0), ramp(3001);
  for (int i = 0; i <= 3000; ++i) ramp[i] = i / 3000.0;
  EXPECT_EQ(gradient_entry(3.0, 3001, ones.data(), ones.data()), 3.0);
  EXPECT_NEAR(gradient_entry(1.0, 3001, ones.data(), ramp.data()), 0.5, 1e-15);
  const double a2[] = {1, 3}, b2[] = {2, 5};
  EXPECT_EQ(gradient_entry(2.0, 2, a2, b2), 17.0);
  const double a3[] = {0.7, 0.2, 1.0}, b3[] = {1, 1, 1};
  EXPECT_EQ(gradient_entry(2.0, 3, a3, b3), 1.0499999999999998);
}

}  // namespace
}  // namespace identify
