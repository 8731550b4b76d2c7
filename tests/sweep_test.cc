// The forward and adjoint sweeps against analytic solutions and the exact
// values the fixed order of operations produces.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "model/adjoint_sweep.h"
#include "model/forward_sweep.h"

namespace identify {
namespace {

struct Forward {
  explicit Forward(int n) : n(n), X(make_trajectory(n)), scratch(n) {}
  void run(double T, const Matrix& A, Vector x0, Vector amp, Vector rate) {
    solve_forward(n, T, T / 3000.0, x0.data(), A, amp.data(), rate.data(), X,
                  scratch);
  }
  int n;
  Trajectory X;
  SweepScratch scratch;
};

Matrix matrix(int n, std::vector<double> entries) {
  Matrix A = make_matrix(n);
  for (std::size_t q = 0; q < entries.size(); ++q) A.data()[q] = entries[q];
  return A;
}

TEST(ForwardSweep, GoldenValues) {
  {  // Decay: exp(-1) to within 2e-16, and the exact bits of this order.
    Forward f(1);
    f.run(1.0, matrix(1, {-1.0}), {1.0}, {0.0}, {0.0});
    EXPECT_EQ(f.X[0][3000], 0.36787944117144222);
    EXPECT_NEAR(f.X[0][3000], std::exp(-1.0), 2e-16);
  }
  {  // Source evaluated at the end of every step, not at mid-step times.
    Forward f(1);
    f.run(1.0, matrix(1, {0.0}), {0.0}, {1.0}, {1.0});
    const double dt = 1.0 / 3000.0;
    EXPECT_DOUBLE_EQ(f.X[0][1], dt * std::exp(dt));
    EXPECT_NEAR(f.X[0][1], 0.00033344446296502, 1e-17);
    EXPECT_NEAR(f.X[0][3000], 1.7185682246738, 1e-12);
    EXPECT_GT(f.X[0][3000] - (std::exp(1.0) - 1.0), 2.8e-4);
  }
  {  // Constant source: linear growth.
    Forward f(1);
    f.run(3.0, matrix(1, {0.0}), {0.5}, {2.0}, {0.0});
    EXPECT_NEAR(f.X[0][3000], 6.5, 1e-12);
    EXPECT_NEAR(f.X[0][1234], 0.5 + 2.0 * 1234 * (3.0 / 3000.0), 1e-12);
  }
}

TEST(ForwardSweep, RowOfAFeedsItsComponent) {
  Forward f(2);
  f.run(1.0, matrix(2, {0.0, 1.0, 0.0, 0.0}), {0.0, 1.0}, {0.0, 0.0},
        {0.0, 0.0});
  for (int k = 0; k <= 3000; k += 250) {
    EXPECT_EQ(f.X[1][k], 1.0);
    EXPECT_NEAR(f.X[0][k], k / 3000.0, 1e-12);
  }
  EXPECT_NEAR(f.X[0][1500], 0.5, 1e-12);
}

TEST(ForwardSweep, EdgeCases) {
  {  // A = 0, amp = 0: every node is x0.
    Forward f(3);
    f.run(2.0, make_matrix(3), {1.0, -2.0, 3.5}, {0, 0, 0}, {1, 2, 3});
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k <= 3000; ++k) ASSERT_EQ(f.X[i][k], f.X[i][0]);
  }
  {  // T = 7: T/dt is just below 3000, yet all 3000 steps are taken.
    EXPECT_EQ(step_count(7.0, 7.0 / 3000.0), 3000);
    Forward f(1);
    f.X.fill(-99.0);
    f.run(7.0, matrix(1, {0.0}), {0.0}, {1.0}, {0.0});
    EXPECT_NEAR(f.X[0][3000], 7.0, 1e-12);
  }
  {  // N = 0 writes nothing and does not crash.
    Forward f(0);
    f.run(1.0, make_matrix(0), {}, {}, {});
  }
}

struct Adjoint {
  explicit Adjoint(int n) : n(n), Psi(make_trajectory(n)), scratch(n) {}
  void run(double T, const Matrix& A, Vector terminal, const Table& H,
           const std::vector<Jump>& jumps) {
    solve_adjoint(n, T, T / 3000.0, terminal.data(), A, H, jumps, Psi,
                  scratch);
  }
  int n;
  Trajectory Psi;
  SweepScratch scratch;
};

TEST(AdjointSweep, JumpsLandAtTheirNodes) {
  // One series, four samples at nodes 0, 1000, 2000, 3000.
  Table H(1, 4);
  H[0][0] = 100.0;
  H[0][1] = 1.0;
  H[0][2] = 10.0;
  H[0][3] = 1000.0;
  std::vector<Jump> jumps = {
      {3000, 0, 0, 3}, {2000, 0, 0, 2}, {1000, 0, 0, 1}, {0, 0, 0, 0}};
  Adjoint a(1);
  a.run(1.0, matrix(1, {0.0}), {0.0}, H, jumps);
  for (int k = 2001; k <= 3000; ++k) ASSERT_EQ(a.Psi[0][k], 1000.0) << k;
  for (int k = 1001; k <= 2000; ++k) ASSERT_EQ(a.Psi[0][k], 1010.0) << k;
  for (int k = 1; k <= 1000; ++k) ASSERT_EQ(a.Psi[0][k], 1011.0) << k;
  EXPECT_EQ(a.Psi[0][0], 1111.0);
}

TEST(AdjointSweep, IntegratesBackwardInTime) {
  {  // The adjoint of dx/dt = 2x grows backward: psi(0) = exp(2).
    Adjoint a(1);
    a.run(1.0, matrix(1, {2.0}), {1.0}, Table(1, 1), {});
    EXPECT_NEAR(a.Psi[0][0], std::exp(2.0), 1e-12);
    EXPECT_EQ(a.Psi[0][3000], 1.0);
  }
  {  // Transpose: A[0][1] feeds psi_1 from psi_0, growing toward t = 0.
    Adjoint a(2);
    a.run(1.0, matrix(2, {0.0, 1.0, 0.0, 0.0}), {1.0, 0.0}, Table(1, 1), {});
    for (int k = 0; k <= 3000; k += 300) {
      EXPECT_EQ(a.Psi[0][k], 1.0);
      EXPECT_NEAR(a.Psi[1][k], (3000 - k) / 3000.0, 1e-12);
    }
    EXPECT_NEAR(a.Psi[1][0], 1.0, 1e-12);
  }
  {  // A = 0, no jumps, zero terminal: zero everywhere.
    Adjoint a(2);
    a.Psi.fill(5.0);
    a.run(3.0, make_matrix(2), {0.0, 0.0}, Table(2, 3), {});
    for (double v : std::vector<double>(a.Psi.data(),
                                        a.Psi.data() + a.Psi.size()))
      ASSERT_EQ(v, 0.0);
  }
}

TEST(JumpSchedule, NodesByTruncationAndOrder) {
  EXPECT_EQ(sample_node(0.7, 3.0), 699);
  EXPECT_EQ(sample_node(0.6, 3.0), 600);
  EXPECT_EQ(sample_node(0.8, 3.0), 800);
  EXPECT_EQ(sample_node(0.009, 1.0), 26);
  EXPECT_EQ(sample_node(1.0, 1.0), 3000);
  EXPECT_EQ(sample_node(0.0, 1.0), 0);

  // Two series on one component with a shared node, and a second component.
  ObservationRecord obs;
  obs.data_num = 3;
  obs.is_data_exist = {1, 0, 1};
  obs.data_dim = {3, 3};
  obs.data_time = Table(3, 3);
  obs.add_data = Table(3, 3);
  const double times[3][3] = {{0, 0.5, 1.0}, {0, 0.25, 1.0}, {0, 1.0, 0.5}};
  for (int k = 0; k < 3; ++k)
    for (int n = 0; n < 3; ++n) obs.data_time[k][n] = times[k][n];
  const std::vector<Jump> got = make_jump_schedule(obs, 1.0);
  const std::vector<Jump> want = {
      {3000, 1, 0, 2}, {3000, 0, 1, 2}, {3000, 1, 2, 1}, {1500, 1, 0, 1},
      {1500, 1, 2, 2}, {750, 0, 1, 1},  {0, 1, 0, 0},    {0, 0, 1, 0},
      {0, 1, 2, 0}};
  EXPECT_EQ(got, want);
}

}  // namespace
}  // namespace identify
