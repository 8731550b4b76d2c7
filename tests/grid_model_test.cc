// The grid model on θ: the same doubles as the sweeps on A for the legacy
// layout (values, gradients, Jacobians; fast and plain kernels), the model
// contract within the grid's own accuracy, and the problems it refuses.
#include "model/grid/grid_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "input/legacy_problem.h"
#include "model/grid/forward_sweep.h"
#include "model/grid/quadrature.h"
#include "model_contract.h"
#include "problem/problem_builder.h"
#include "test_problems.h"

namespace identify {
namespace {

using testing::parameter;

using testing::kLayouts;
using testing::Layout;
using testing::RandomCase;

bool same_bits(const double* a, const double* b, std::size_t n) {
  return std::memcmp(a, b, n * sizeof(double)) == 0;
}

// The plain sweeps on A for a case, series after series: the samples at
// their nodes, and the gradient Σ w·∂y/∂A[i][j] of weights w as jumps.
struct SweepsOnA {
  explicit SweepsOnA(const RandomCase& c)
      : n(c.problem.dim),
        T(c.problem.T),
        dt(T / kStepCount),
        X(make_trajectory(n)),
        scratch(n) {
    for (int k = 0; k < c.obs.data_num; ++k) {
      for (int q = 0; q < c.obs.points(); ++q) {
        components.push_back(c.obs.is_data_exist[k]);
        times.push_back(c.obs.data_time[k][q]);
      }
    }
    jumps = make_jump_schedule(components, times, T);
    solve_forward(n, T, dt, c.problem.init_val.data(), c.truth,
                  c.problem.exp_coef.data(), c.problem.exp_par.data(), X,
                  scratch);
  }
  std::vector<double> samples() const {
    std::vector<double> y;
    for (std::size_t m = 0; m < times.size(); ++m) {
      y.push_back(X[components[m]][sample_node(times[m], T)]);
    }
    return y;
  }
  Matrix gradient(const Matrix& A, const std::vector<double>& w) {
    Table H(1, w.size());
    std::copy(w.begin(), w.end(), H.data());
    Trajectory Psi = make_trajectory(n);
    const std::vector<double> zero(n, 0.0);
    solve_adjoint(n, T, dt, zero.data(), A, H, jumps, Psi, scratch);
    Matrix G = make_matrix(n);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        G[i][j] = gradient_entry(T, kNodeCount, Psi[i], X[j]);
      }
    }
    return G;
  }
  int n;
  double T, dt;
  std::vector<int> components;
  std::vector<double> times;
  std::vector<Jump> jumps;
  Trajectory X;
  SweepScratch scratch;
};

TEST(GridModel, GivesTheSweepsOnABitForBit) {
  unsigned seed = 40;
  for (Kernels kernels : {Kernels::kFast, Kernels::kPlain}) {
    for (int n : {1, 2, 3, 9}) {
      for (Layout layout : kLayouts) {
        RandomCase c(n, layout, ++seed);
        SCOPED_TRACE(::testing::Message()
                     << "N = " << n << ", layout " << static_cast<int>(layout));
        SweepsOnA sweeps(c);
        GridModel model(c.fit, kernels);
        const std::vector<double> theta = testing::theta_of(c.truth);
        Evaluation e;
        model.evaluate(theta, e);
        const std::vector<double> y = sweeps.samples();
        ASSERT_EQ(e.y.size(), y.size());
        EXPECT_TRUE(same_bits(e.y.data(), y.data(), y.size()));

        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> uniform(-1.0, 1.0);
        std::vector<double> w(y.size());
        for (double& v : w) v = uniform(rng);
        const Matrix G = sweeps.gradient(c.truth, w);
        std::vector<double> g(theta.size());
        model.gradient(e, w, g);
        EXPECT_TRUE(same_bits(g.data(), G.data(), G.size()));

        Table J;
        model.jacobian(e, J);
        for (std::size_t m = 0; m < y.size(); ++m) {
          std::vector<double> unit(y.size(), 0.0);
          unit[m] = 1.0;
          const Matrix row = sweeps.gradient(c.truth, unit);
          EXPECT_TRUE(same_bits(J[m], row.data(), row.size())) << m;
        }
      }
    }
  }
}

TEST(GridModel, KeepsTheModelContractWithinTheGridsAccuracy) {
  for (Kernels kernels : {Kernels::kFast, Kernels::kPlain}) {
    unsigned seed = 7;
    for (int n : {2, 3}) {
      for (Layout layout : kLayouts) {
        RandomCase c(n, layout, ++seed);
        const FitProblem problem = legacy_problem(c.problem, c.obs).problem;
        // The grid's derivatives are those of the continuous problem,
        // within O(dt) of its own samples' differences.
        testing::check_model_contract(
            problem,
            [kernels](const FitProblem& p) {
              return std::make_unique<GridModel>(p, kernels);
            },
            {2e-3, 1e-13}, seed);
      }
    }
    // One parameter in several entries (an exchange at one rate k both
    // ways, and a decay at the same k): its derivative is the sum over
    // them.
    ProblemBuilder b({"x", "y"});
    for (const auto& [name, value] : {std::pair("k", 0.4), {"d", -0.7}}) {
      b.add_parameter(parameter(name, value));
    }
    b.set_entry("x", "y", "k");
    b.set_entry("y", "x", "k");
    b.set_entry("x", "x", "d");
    b.set_entry("y", "y", "k");
    b.add_observable("x", {{"x", "1"}});
    b.add_observable("y", {{"y", "1"}});
    const int e = b.add_experiment("e");
    b.set_x0(e, "x", "1");
    for (const double t : {0.0, 0.5, 1.5, 3.0}) {
      b.add_measurement(e, 0, t, 0.0);
      b.add_measurement(e, 1, t, 0.0);
    }
    testing::check_model_contract(
        b.build(),
        [kernels](const FitProblem& p) {
          return std::make_unique<GridModel>(p, kernels);
        },
        {2e-3, 1e-13}, 3);
  }
}

TEST(GridModel, SaysWhichProblemsItCannotServe) {
  const auto base = [] {
    ProblemBuilder b({"x", "y"});
    Parameter k;
    k.name = "k";
    b.add_parameter(k);
    b.set_entry("x", "x", "k");
    b.add_observable("y", {{"y", "1"}});
    b.add_experiment("e");
    b.add_measurement(0, 0, 2.0, 1.0);
    return b;
  };
  using Edit = void (*)(ProblemBuilder&);
  const struct {
    Edit edit;
    const char* reason;
  } cases[] = {
      {[](ProblemBuilder&) {}, ""},
      {[](ProblemBuilder& b) { b.add_experiment("f"); },
       "the grid model takes one experiment, found 2"},
      {[](ProblemBuilder& b) { b.set_entry("y", "x", "-k"); },
       "the grid model takes matrix entries that are numbers or single "
       "parameters, found \"-k\""},
      {[](ProblemBuilder& b) { b.set_x0(0, "x", "k"); },
       "the grid model takes numbers for x0, found \"k\""},
      {[](ProblemBuilder& b) { b.set_source("x", "1", "k"); },
       "the grid model takes numbers for the inputs' amp and rate"},
      {[](ProblemBuilder& b) { b.add_dose(0, "x", "1", "1"); },
       "the grid model takes no doses"},
      {[](ProblemBuilder& b) {
         b.add_observable("z", {{"x", "2"}});
       },
       "the grid model takes observables that read one state as it is, "
       "found z"},
  };
  for (const auto& c : cases) {
    ProblemBuilder b = base();
    c.edit(b);
    const FitProblem p = b.build();
    EXPECT_EQ(grid_supports(p), c.reason);
    if (*c.reason != '\0') {
      EXPECT_THROW(GridModel{p}, ProblemError);
    }
  }
  ProblemBuilder b({"x"});
  b.add_observable("x", {{"x", "1"}});
  b.add_experiment("e");
  b.add_measurement(0, 0, 0.0, 1.0);
  EXPECT_EQ(grid_supports(b.build()),
            "the grid model needs a time interval longer than 0");
}

}  // namespace
}  // namespace identify
