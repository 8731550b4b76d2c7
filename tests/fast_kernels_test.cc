// The fast kernels against the plain reference sweeps and quadratures, bit
// for bit: every node of both trajectories, every gradient entry, on every
// instruction set this machine has and with one and two gradient threads;
// then whole descents run on both kernels of the grid model.
#include "model/grid/fast_kernels.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fit/method.h"
#include "input/legacy_problem.h"
#include "model/grid/adjoint_sweep.h"
#include "model/grid/forward_sweep.h"
#include "model/grid/grid_model.h"
#include "model/grid/quadrature.h"
#include "test_problems.h"

namespace identify {
namespace {

using testing::kLayouts;
using testing::Layout;
using testing::RandomCase;

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

// The components and times of a case's samples, series after series.
struct Samples {
  explicit Samples(const ObservationRecord& obs) {
    for (int k = 0; k < obs.data_num; ++k) {
      for (int q = 0; q < obs.points(); ++q) {
        components.push_back(obs.is_data_exist[k]);
        times.push_back(obs.data_time[k][q]);
      }
    }
  }
  std::vector<int> components;
  std::vector<double> times;
};

// Plain forward and adjoint trajectories and gradient of one case on a grid
// of `steps` steps of T/steps, the trajectories first filled with 3 and 4,
// with jumps H = 2·(y − data) as in the descent.
struct PlainRun {
  PlainRun(const RandomCase& c, int steps, const Vector& terminal)
      : n(c.problem.dim),
        dt(c.problem.T / steps),
        X(n, kNodeCount, 3.0),
        Psi(n, kNodeCount, 4.0),
        G(make_matrix(n)),
        H(1, c.obs.add_data.size()) {
    const Samples samples(c.obs);
    jumps = make_jump_schedule(samples.components, samples.times, c.problem.T);
    SweepScratch scratch(n);
    const ProblemRecord& p = c.problem;
    solve_forward(n, p.T, dt, p.init_val.data(), c.truth, p.exp_coef.data(),
                  p.exp_par.data(), X, scratch);
    GridModel model(c.fit, Kernels::kPlain);
    Evaluation at;
    model.evaluate(testing::theta_of(c.truth), at);
    for (std::size_t m = 0; m < at.y.size(); ++m) {
      H[0][m] = (at.y[m] - c.obs.add_data.data()[m]) * 2.0;
    }
    solve_adjoint(n, p.T, dt, terminal.data(), c.truth, H, jumps, Psi, scratch);
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

// Independent random rows with mixed magnitudes and signed zeros, so that
// any change in the order of a quadrature shows in the last bits, and their
// plain gradient over [0, T].
struct ArbitraryRows {
  ArbitraryRows(int n, double T) : X(make_trajectory(n)), Psi(X), G(n, n) {
    std::mt19937_64 rng(n);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (std::size_t q = 0; q < X.size(); ++q) {
      X.data()[q] = q % 97 == 0 ? -0.0 : unit(rng) * (1 + q % 5 * 1e3);
      Psi.data()[q] = q % 89 == 0 ? 0.0 : unit(rng) * (1 + q % 3 * 1e-3);
    }
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        G[i][j] = gradient_entry(T, kNodeCount, Psi[i], X[j]);
      }
    }
  }
  Trajectory X, Psi;
  Matrix G;
};

// Whole descents on both kernels: the same θ, norm and iteration count,
// every progress line and history line alike (17 digits of every norm), and
// the same trajectory at the end.
void expect_same_descent(const RandomCase& c, int iterations) {
  LegacyProblem legacy = legacy_problem(c.problem, c.obs);
  legacy.descent.start = testing::theta_of(c.start);
  const DescentSetup descent{legacy.descent, c.problem.opt_par};
  GridModel plain(c.fit, Kernels::kPlain);
  GridModel fast(c.fit);
  std::ostringstream out_plain, out_fast, history_plain, history_fast;
  MonitorSettings settings;
  settings.max_iter = iterations;
  settings.history = &history_plain;
  Monitor monitor_plain(settings, out_plain, c.fit.parameters.size());
  const Summary r_plain =
      solve(Method::kDescent, c.fit, plain, descent, monitor_plain, out_plain);
  settings.history = &history_fast;
  Monitor monitor_fast(settings, out_fast, c.fit.parameters.size());
  const Summary r_fast =
      solve(Method::kDescent, c.fit, fast, descent, monitor_fast, out_fast);
  EXPECT_EQ(r_plain.termination, Termination::kIterationLimit);
  EXPECT_EQ(r_plain.iterations, iterations);
  EXPECT_EQ(r_fast.iterations, r_plain.iterations);
  EXPECT_EQ(r_fast.best_iteration, r_plain.best_iteration);
  EXPECT_EQ(std::memcmp(&r_fast.norm, &r_plain.norm, sizeof(double)), 0)
      << r_fast.norm << " vs " << r_plain.norm;
  EXPECT_EQ(std::memcmp(r_fast.theta.data(), r_plain.theta.data(),
                        r_plain.theta.size() * sizeof(double)),
            0);
  EXPECT_EQ(out_fast.str(), out_plain.str());
  EXPECT_EQ(history_fast.str(), history_plain.str());
  const std::vector<double> times = {0.0, c.problem.T / 3, c.problem.T};
  Table X_plain, X_fast;
  plain.states(r_plain.theta, 0, times, X_plain);
  fast.states(r_fast.theta, 0, times, X_fast);
  EXPECT_TRUE(same_bits(X_fast, X_plain));
}

// Every node of both sweeps and every gradient entry, on the full grid and
// on one of 2000 steps: there nodes past 2000 are left as they were, and
// jumps scheduled past node 2000 are never applied. The gradient is checked
// on the full grid for the case's own trajectories, and for arbitrary ones
// given through load_trajectory. Then a whole descent of each case, of a
// few steps only for N = 80 to keep CI fast.
TEST(FastKernels, SweepsGradientAndDescentMatchPlainBitForBit) {
  unsigned seed = 1;
  for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 9, 17, 80}) {
    for (Layout layout : kLayouts) {
      if (n > 17 && layout != Layout::kFewSeries) continue;  // CI time
      const RandomCase c(n, layout, seed++);
      const ProblemRecord& p = c.problem;
      const ArbitraryRows arbitrary(n, p.T);
      for (int steps : {3000, 2000}) {
        // Zero at T on the full grid, as in the descent; on the short one a
        // value per component.
        Vector terminal(n, 0.0);
        for (int i = 0; i < n && steps != 3000; ++i) {
          terminal[i] = 0.5 - 0.25 * i;
        }
        const PlainRun plain(c, steps, terminal);
        ASSERT_EQ(step_count(p.T, plain.dt), steps);
        for (VectorIsa isa : supported_vector_isas()) {
          // The sweeps run on one thread; only the gradient uses two.
          for (int threads = 1; threads <= (steps == 3000 ? 2 : 1); ++threads) {
            SCOPED_TRACE(::testing::Message()
                         << "N = " << n << ", layout "
                         << static_cast<int>(layout) << ", steps " << steps
                         << ", isa " << static_cast<int>(isa) << ", threads "
                         << threads);
            FastKernels fast(n, p.T, plain.dt, p.exp_coef, p.exp_par,
                             {isa, threads});
            Trajectory X(n, kNodeCount, 3.0), Psi(n, kNodeCount, 4.0);
            fast.forward(p.init_val.data(), c.truth, X);
            EXPECT_TRUE(same_bits(X, plain.X));
            fast.adjoint(terminal.data(), c.truth, plain.H, plain.jumps, Psi);
            EXPECT_TRUE(same_bits(Psi, plain.Psi));
            if (steps != 3000) continue;
            Matrix G = make_matrix(n);
            fast.gradient(Psi, G);
            EXPECT_TRUE(same_bits(G, plain.G));
            // Twice in a row: no state may leak from one call into the next.
            fast.gradient(Psi, G);
            EXPECT_TRUE(same_bits(G, plain.G));
            fast.load_trajectory(arbitrary.X);
            fast.gradient(arbitrary.Psi, G);
            EXPECT_TRUE(same_bits(G, arbitrary.G));
          }
        }
      }
      SCOPED_TRACE(::testing::Message() << "descent, N = " << n << ", layout "
                                        << static_cast<int>(layout));
      expect_same_descent(c, n == 80 ? 3 : 20);
    }
  }
}

// With the stop flag set, a sweep of more than 8 components writes the
// nodes of its first kStopCheckInterval − 1 steps (the same bits as ever)
// and no more, and a quadrature computes nothing; systems of at most 8
// components run whole. Once the flag is cleared, the next call is whole
// again: an abandoned call leaves nothing behind.
TEST(StopFlag, SweepsAndQuadraturesEndEarly) {
  const std::atomic<int> set{SIGTERM};
  const int done = kStopCheckInterval - 1;  // steps taken
  for (const int n : {8, 9, 17}) {
    const RandomCase c(n, Layout::kOnePerComponent, 7);
    const ProblemRecord& p = c.problem;
    const Vector terminal(n, 0.0);
    const PlainRun plain(c, kStepCount, terminal);
    const bool whole = n <= 8;
    // Forward nodes 0 .. done written, node done + 1 untouched (3.0);
    // adjoint nodes 3000 down to 3000 − done, then 4.0.
    const auto expect_cut = [&](const Trajectory& X, const Trajectory& Psi,
                                bool cut, const std::string& what) {
      for (int i = 0; i < n; ++i) {
        EXPECT_EQ(X[i][done], plain.X[i][done]) << what << i;
        EXPECT_EQ(X[i][done + 1], cut ? 3.0 : plain.X[i][done + 1])
            << what << i;
        EXPECT_EQ(Psi[i][kStepCount - done], plain.Psi[i][kStepCount - done])
            << what << i;
        EXPECT_EQ(Psi[i][kStepCount - done - 1],
                  cut ? 4.0 : plain.Psi[i][kStepCount - done - 1])
            << what << i;
      }
    };
    {
      Trajectory X(n, kNodeCount, 3.0), Psi(n, kNodeCount, 4.0);
      SweepScratch scratch(n);
      solve_forward(n, p.T, plain.dt, p.init_val.data(), c.truth,
                    p.exp_coef.data(), p.exp_par.data(), X, scratch, &set);
      solve_adjoint(n, p.T, plain.dt, terminal.data(), c.truth, plain.H,
                    plain.jumps, Psi, scratch, &set);
      expect_cut(X, Psi, true, "plain, N = " + std::to_string(n) + ", row ");
    }
    for (VectorIsa isa : supported_vector_isas()) {
      for (int threads = 1; threads <= 2; ++threads) {
        const std::string what = "fast, N = " + std::to_string(n) + ", isa " +
                                 std::to_string(static_cast<int>(isa)) +
                                 ", threads " + std::to_string(threads) +
                                 ", row ";
        FastKernels fast(n, p.T, plain.dt, p.exp_coef, p.exp_par,
                         {isa, threads});
        Trajectory X(n, kNodeCount, 3.0), Psi(n, kNodeCount, 4.0);
        fast.forward(p.init_val.data(), c.truth, X, &set);
        fast.adjoint(terminal.data(), c.truth, plain.H, plain.jumps, Psi, &set);
        expect_cut(X, Psi, !whole, what);
        Matrix G = make_matrix(n);
        fast.gradient(plain.Psi, G, &set);
        EXPECT_EQ(G == make_matrix(n), !whole) << what;
        // The same kernels, no flag: whole again, to the last bit.
        fast.forward(p.init_val.data(), c.truth, X);
        fast.adjoint(terminal.data(), c.truth, plain.H, plain.jumps, Psi);
        fast.gradient(Psi, G);
        EXPECT_TRUE(same_bits(X, plain.X)) << what;
        EXPECT_TRUE(same_bits(Psi, plain.Psi)) << what;
        EXPECT_TRUE(same_bits(G, plain.G)) << what;
      }
    }
    // The model passes its flag to the kernels and says the call was cut.
    std::atomic<int> flag{SIGTERM};
    GridModel model(c.fit);
    model.set_stop_flag(&flag);
    Evaluation at;
    at.y.assign(c.obs.add_data.size(), 5.0);
    model.evaluate(testing::theta_of(c.truth), at);
    EXPECT_TRUE(model.stop_requested());
    EXPECT_EQ(at.y, std::vector<double>(at.y.size(), 5.0))
        << "samples of a cut sweep";
    flag.store(0);
    model.evaluate(testing::theta_of(c.truth), at);
    const Samples samples(c.obs);
    for (std::size_t m = 0; m < at.y.size(); ++m) {
      const int node = sample_node(samples.times[m], p.T);
      EXPECT_EQ(at.y[m], plain.X[samples.components[m]][node]) << n;
    }
  }
}

TEST(FastKernels, ThreadsByDefaultOnlyForLargeSystemsAndNoneForAnEmptyOne) {
  const Vector zero(kGradientThreadThreshold, 0.0);
  FastKernels small(kGradientThreadThreshold - 1, 1.0, 1.0 / 3000.0, zero,
                    zero);
  EXPECT_EQ(small.gradient_threads(), 1);
  FastKernels large(kGradientThreadThreshold, 1.0, 1.0 / 3000.0, zero, zero);
  EXPECT_EQ(large.gradient_threads(),
            std::thread::hardware_concurrency() >= 2 ? 2 : 1);
  EXPECT_EQ(large.isa(), best_vector_isa());
  // N = 0: nothing to compute, nothing written, no crash.
  FastKernels empty(0, 1.0, 1.0 / 3000.0, {}, {}, {VectorIsa::kAvx512, 2});
  Trajectory X = make_trajectory(0), Psi = make_trajectory(0);
  Matrix G = make_matrix(0);
  empty.forward(nullptr, G, X);
  empty.adjoint(nullptr, G, Table(0, 0), {}, Psi);
  empty.gradient(Psi, G);
  EXPECT_EQ(empty.gradient_threads(), 1);
}

}  // namespace
}  // namespace identify
