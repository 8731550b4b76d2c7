// The fast kernels against the plain reference sweeps and quadratures, bit
// for bit: every node of both trajectories, every gradient entry, on every
// instruction set this machine has and with one and two gradient threads;
// then whole descents run on both kernels of the grid model.
#include "model/fast_kernels.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "identify/identify_matrix.h"
#include "identify/misfit.h"
#include "model/adjoint_sweep.h"
#include "model/forward_sweep.h"
#include "model/grid_model.h"

namespace identify {
namespace {

// Byte equality, so that 0.0 and −0.0 (or two NaNs) count as different.
::testing::AssertionResult same_bits(const Table& a, const Table& b) {
  if (a.rows() != b.rows() || a.cols() != b.cols()) {
    return ::testing::AssertionFailure() << "shapes differ";
  }
  for (std::size_t q = 0; q < a.size(); ++q) {
    if (std::memcmp(a.data() + q, b.data() + q, sizeof(double)) != 0) {
      return ::testing::AssertionFailure()
             << "first difference at row " << q / a.cols() << ", column "
             << q % a.cols() << ": " << a.data()[q] << " vs " << b.data()[q];
    }
  }
  return ::testing::AssertionSuccess();
}

// How the samples are laid out over the components and the time axis.
enum class Layout {
  kOnePerComponent,  // K = N, equally spaced
  kFewSeries,        // K < N (or K > N for N = 1), unequally spaced
  kSharedComponent,  // several series on one component, repeated nodes
};

// A random problem with stable dynamics: A = −I + small couplings, with
// exact zeros of both signs among the entries and the sources.
struct RandomCase {
  RandomCase(int n, Layout layout, unsigned seed) : rng(seed) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    problem.dim = n;
    problem.T = 2.5;
    problem.opt_par = 2e-3;
    problem.epsilon = 0.0;
    problem.init_val.resize(n);
    problem.exp_coef.resize(n);
    problem.exp_par.resize(n);
    for (int i = 0; i < n; ++i) {
      problem.init_val[i] = i % 4 == 3 ? -0.0 : unit(rng);
      problem.exp_coef[i] = i % 3 == 2 ? 0.0 : unit(rng);
      problem.exp_par[i] = 0.8 * unit(rng);
    }
    truth = random_matrix(n, 0.6);
    start = random_matrix(n, 0.3);
    if (n >= 2) {
      problem.fix_par_dim = 1;
      problem.fix_par_num = {{0, 1}};
      problem.fix_par_val = {start[0][1]};
      problem.par_borders_dim = 2;
      problem.par_borders_num = {{1, 0}, {n - 1, n - 1}};
      problem.par_borders_val = {{-0.05, 0.05}, {-1.5, -0.5}};
      start[1][0] = 0.0;
      start[n - 1][n - 1] = -1.0;
    }
    make_observations(layout);
  }

  Matrix random_matrix(int n, double coupling) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    Matrix A = make_matrix(n);
    const double scale = coupling / std::max(1, n);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        const int kind = static_cast<int>(rng() % 7);
        A[i][j] = kind == 0 ? 0.0 : kind == 1 ? -0.0 : scale * unit(rng);
      }
      A[i][i] = -1.0 + 0.2 * unit(rng);
    }
    return A;
  }

  void make_observations(Layout layout) {
    const int n = problem.dim;
    const double T = problem.T;
    std::vector<int> components;
    std::vector<double> times;
    switch (layout) {
      case Layout::kOnePerComponent:
        for (int i = 0; i < n; ++i) components.push_back(i);
        for (int p = 0; p <= 5; ++p) times.push_back(T * p / 5.0);
        break;
      case Layout::kFewSeries:
        components = {n - 1, 0};
        times = {0.0, 0.011, 0.3, 0.7, 1.9, T};
        break;
      case Layout::kSharedComponent:
        components = {n / 2, n / 2, 0, n / 2};
        // Close times, and T twice: several jumps land on one node.
        times = {0.0, 0.7, 0.7002, 1.25, T, T};
        break;
    }
    const int K = static_cast<int>(components.size());
    const int P = static_cast<int>(times.size());
    obs.data_num = K;
    obs.is_data_exist.assign(components.begin(), components.end());
    obs.data_dim.assign(n, P);
    obs.data_time = Table(K, P);
    obs.add_data = Table(K, P);
    // Measurements: the plain model's samples for the true matrix, with
    // noise, so that the descent has something to fit.
    for (int k = 0; k < K; ++k) {
      for (int p = 0; p < P; ++p) {
        // Series after the first get their own interior times.
        const double shift = (k > 0 && p > 0 && p < P - 1) ? 0.013 * k : 0.0;
        obs.data_time[k][p] = times[p] + shift;
      }
    }
    GridModel model(problem, obs, Kernels::kPlain);
    model.evaluate(truth, obs.add_data);
    std::normal_distribution<double> noise(0.0, 0.01);
    for (int k = 0; k < K; ++k) {
      obs.add_data[k][0] = problem.init_val[components[k]];
      for (int p = 1; p < P; ++p) obs.add_data[k][p] += noise(rng);
    }
  }

  std::mt19937_64 rng;
  ProblemRecord problem;
  ObservationRecord obs;
  Matrix truth, start;
};

std::vector<VectorIsa> isas_here() {
  std::vector<VectorIsa> isas = {VectorIsa::kBaseline};
  if (best_vector_isa() >= VectorIsa::kAvx2) isas.push_back(VectorIsa::kAvx2);
  if (best_vector_isa() >= VectorIsa::kAvx512) {
    isas.push_back(VectorIsa::kAvx512);
  }
  return isas;
}

// Plain forward and adjoint trajectories and gradient of one case, with
// jumps H = 2·(M − data) as in the descent.
struct PlainRun {
  PlainRun(const RandomCase& c, const Matrix& A)
      : n(c.problem.dim),
        dt(c.problem.T / 3000.0),
        X(make_trajectory(n)),
        Psi(make_trajectory(n)),
        G(make_matrix(n)),
        H(c.obs.add_data.rows(), c.obs.add_data.cols()),
        jumps(make_jump_schedule(c.obs, c.problem.T)) {
    SweepScratch scratch(n);
    const ProblemRecord& p = c.problem;
    solve_forward(n, p.T, dt, p.init_val.data(), A, p.exp_coef.data(),
                  p.exp_par.data(), X, scratch);
    GridModel model(p, c.obs, Kernels::kPlain);
    Table M(H.rows(), H.cols());
    model.evaluate(A, M);
    for (std::size_t q = 0; q < M.size(); ++q) {
      H.data()[q] = (M.data()[q] - c.obs.add_data.data()[q]) * 2.0;
    }
    const Vector terminal(n, 0.0);
    solve_adjoint(n, p.T, dt, terminal.data(), A, H, jumps, Psi, scratch);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        G[i][j] = gradient_entry(p.T, kNodeCount, Psi[i], X[j]);
      }
    }
  }
  int n;
  double dt;
  Trajectory X, Psi;
  Matrix G;
  Table H;
  std::vector<Jump> jumps;
};

TEST(FastKernels, SweepsAndGradientMatchPlainBitForBit) {
  const Layout layouts[] = {Layout::kOnePerComponent, Layout::kFewSeries,
                            Layout::kSharedComponent};
  unsigned seed = 1;
  for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 9, 17, 80}) {
    for (Layout layout : layouts) {
      if (n == 80 && layout != Layout::kFewSeries) continue;  // CI time
      const RandomCase c(n, layout, seed++);
      const PlainRun plain(c, c.truth);
      const ProblemRecord& p = c.problem;
      for (VectorIsa isa : isas_here()) {
        for (int threads : {1, 2}) {
          SCOPED_TRACE(::testing::Message()
                       << "N = " << n << ", layout " << static_cast<int>(layout)
                       << ", isa " << static_cast<int>(isa) << ", threads "
                       << threads);
          FastKernels fast(n, p.T, plain.dt, p.exp_coef, p.exp_par,
                           {isa, threads});
          Trajectory X = make_trajectory(n);
          Trajectory Psi = make_trajectory(n);
          Matrix G = make_matrix(n);
          fast.forward(p.init_val.data(), c.truth, X);
          EXPECT_TRUE(same_bits(X, plain.X));
          const Vector terminal(n, 0.0);
          fast.adjoint(terminal.data(), c.truth, plain.H, plain.jumps, Psi);
          EXPECT_TRUE(same_bits(Psi, plain.Psi));
          fast.gradient(Psi, G);
          EXPECT_TRUE(same_bits(G, plain.G));
          // Twice in a row: no state may leak from one call into the next.
          fast.gradient(Psi, G);
          EXPECT_TRUE(same_bits(G, plain.G));
        }
      }
    }
  }
}

TEST(FastKernels, GradientOfArbitraryTrajectories) {
  // Independent random rows with mixed magnitudes and signed zeros, so that
  // any change in the order of a quadrature shows in the last bits.
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int n : {1, 4, 9, 24, 33}) {
    Trajectory X = make_trajectory(n), Psi = make_trajectory(n);
    for (std::size_t q = 0; q < X.size(); ++q) {
      X.data()[q] = q % 97 == 0 ? -0.0 : unit(rng) * (1 + q % 5 * 1e3);
      Psi.data()[q] = q % 89 == 0 ? 0.0 : unit(rng) * (1 + q % 3 * 1e-3);
    }
    Matrix want = make_matrix(n);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        want[i][j] = gradient_entry(3.7, kNodeCount, Psi[i], X[j]);
      }
    }
    for (VectorIsa isa : isas_here()) {
      for (int threads : {1, 2}) {
        SCOPED_TRACE(::testing::Message()
                     << "N = " << n << ", isa " << static_cast<int>(isa)
                     << ", threads " << threads);
        const Vector zero(n, 0.0);
        FastKernels fast(n, 3.7, 3.7 / 3000.0, zero, zero, {isa, threads});
        fast.load_trajectory(X);
        Matrix G = make_matrix(n);
        fast.gradient(Psi, G);
        EXPECT_TRUE(same_bits(G, want));
      }
    }
  }
}

TEST(FastKernels, ShortGridAndEmptySystem) {
  // dt = T/2000: 2000 steps; nodes past 2000 are left as they were, and
  // jumps scheduled past node 2000 are never applied. N = 5 runs the
  // register-resident sweeps, N = 12 the panelled ones.
  for (int n : {5, 12}) {
    SCOPED_TRACE(::testing::Message() << "N = " << n);
    const RandomCase c(n, Layout::kSharedComponent, 99);
    const ProblemRecord& p = c.problem;
    const double dt = p.T / 2000.0;
    ASSERT_EQ(step_count(p.T, dt), 2000);
    SweepScratch scratch(n);
    Trajectory want_x(n, kNodeCount, 3.0), want_psi(n, kNodeCount, 4.0);
    solve_forward(n, p.T, dt, p.init_val.data(), c.truth, p.exp_coef.data(),
                  p.exp_par.data(), want_x, scratch);
    const PlainRun full(c, c.truth);
    Vector terminal(n);
    for (int i = 0; i < n; ++i) terminal[i] = 0.5 - 0.25 * i;
    solve_adjoint(n, p.T, dt, terminal.data(), c.truth, full.H, full.jumps,
                  want_psi, scratch);
    for (VectorIsa isa : isas_here()) {
      FastKernels fast(n, p.T, dt, p.exp_coef, p.exp_par, {isa, 1});
      Trajectory X(n, kNodeCount, 3.0), Psi(n, kNodeCount, 4.0);
      fast.forward(p.init_val.data(), c.truth, X);
      fast.adjoint(terminal.data(), c.truth, full.H, full.jumps, Psi);
      EXPECT_TRUE(same_bits(X, want_x));
      EXPECT_TRUE(same_bits(Psi, want_psi));
    }
  }
  {  // N = 0: nothing to compute, nothing written, no crash.
    FastKernels fast(0, 1.0, 1.0 / 3000.0, {}, {}, {VectorIsa::kAvx512, 2});
    Trajectory X = make_trajectory(0), Psi = make_trajectory(0);
    Matrix G = make_matrix(0);
    fast.forward(nullptr, G, X);
    fast.adjoint(nullptr, G, Table(0, 0), {}, Psi);
    fast.gradient(Psi, G);
    EXPECT_EQ(fast.gradient_threads(), 1);
  }
}

TEST(FastKernels, ThreadsByDefaultOnlyForLargeSystems) {
  const Vector zero(kGradientThreadThreshold, 0.0);
  FastKernels small(kGradientThreadThreshold - 1, 1.0, 1.0 / 3000.0, zero,
                    zero);
  EXPECT_EQ(small.gradient_threads(), 1);
  FastKernels large(kGradientThreadThreshold, 1.0, 1.0 / 3000.0, zero, zero);
  EXPECT_EQ(large.gradient_threads(),
            std::thread::hardware_concurrency() >= 2 ? 2 : 1);
  EXPECT_EQ(large.isa(), best_vector_isa());
}

// Whole descents on both kernels: the same matrix, norm and iteration count,
// and the same trajectories at the end.
void expect_same_descent(const RandomCase& c, int iterations) {
  StopSettings stop;
  stop.quiet = true;
  stop.max_iter = iterations;
  Matrix A_plain = c.start, A_fast = c.start;
  GridModel plain(c.problem, c.obs, Kernels::kPlain);
  GridModel fast(c.problem, c.obs);
  std::ostringstream out_plain, out_fast;
  const IdentifyResult r_plain =
      identify_matrix(c.problem, c.obs, plain, A_plain, stop, out_plain);
  const IdentifyResult r_fast =
      identify_matrix(c.problem, c.obs, fast, A_fast, stop, out_fast);
  EXPECT_EQ(r_plain.reason, StopReason::kIterationLimit);
  EXPECT_EQ(r_plain.iterations, iterations);
  EXPECT_EQ(r_fast.iterations, r_plain.iterations);
  EXPECT_EQ(r_fast.best_iteration, r_plain.best_iteration);
  EXPECT_EQ(std::memcmp(&r_fast.norm, &r_plain.norm, sizeof(double)), 0)
      << r_fast.norm << " vs " << r_plain.norm;
  EXPECT_TRUE(same_bits(A_fast, A_plain));
  EXPECT_EQ(out_fast.str(), out_plain.str());
  EXPECT_TRUE(same_bits(fast.forward_trajectory(), plain.forward_trajectory()));
  EXPECT_TRUE(same_bits(fast.adjoint_trajectory(), plain.adjoint_trajectory()));
}

TEST(FastKernels, DescentMatchesPlainBitForBit) {
  unsigned seed = 100;
  for (int n : {1, 3, 5, 17}) {
    for (Layout layout : {Layout::kOnePerComponent, Layout::kFewSeries,
                          Layout::kSharedComponent}) {
      SCOPED_TRACE(::testing::Message()
                   << "N = " << n << ", layout " << static_cast<int>(layout));
      expect_same_descent(RandomCase(n, layout, seed++), 20);
    }
  }
  {  // N = 80 runs the two-thread quadratures; a few steps keep CI fast.
    SCOPED_TRACE("N = 80");
    expect_same_descent(RandomCase(80, Layout::kOnePerComponent, seed++), 3);
  }
}

}  // namespace
}  // namespace identify
