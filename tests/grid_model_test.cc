// The grid model on θ: the same doubles as the sweeps on A for the legacy
// layout (values, gradients, Jacobians; fast and plain kernels), the model
// contract within the grid's own accuracy, and the problems it refuses.
#include "model/grid/grid_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "input/legacy_problem.h"
#include "model/grid/grid_matrix_model.h"
#include "model_contract.h"
#include "problem/problem_builder.h"
#include "test_problems.h"

namespace identify {
namespace {

using testing::kLayouts;
using testing::Layout;
using testing::RandomCase;

bool same_bits(const double* a, const double* b, std::size_t n) {
  return std::memcmp(a, b, n * sizeof(double)) == 0;
}

TEST(GridModel, GivesTheSweepsOnABitForBit) {
  unsigned seed = 40;
  for (Kernels kernels : {Kernels::kFast, Kernels::kPlain}) {
    for (int n : {1, 2, 3, 9}) {
      for (Layout layout : kLayouts) {
        RandomCase c(n, layout, ++seed);
        SCOPED_TRACE(::testing::Message()
                     << "N = " << n << ", layout " << static_cast<int>(layout));
        const FitProblem problem = legacy_problem(c.problem, c.obs).problem;
        GridMatrixModel old_model(c.problem, c.obs, kernels);
        GridModel model(problem, kernels);
        const std::vector<double> theta(c.truth.data(),
                                        c.truth.data() + c.truth.size());
        Table M(c.obs.add_data.rows(), c.obs.add_data.cols());
        old_model.evaluate(c.truth, M);
        Evaluation e;
        model.evaluate(theta, e);
        ASSERT_EQ(e.y.size(), M.size());
        EXPECT_TRUE(same_bits(e.y.data(), M.data(), M.size()));

        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> uniform(-1.0, 1.0);
        Table H = M;
        for (std::size_t s = 0; s < H.size(); ++s) H.data()[s] = uniform(rng);
        Matrix G = make_matrix(n);
        old_model.gradient(c.truth, H, G);
        std::vector<double> g(theta.size());
        model.gradient(e, {H.data(), H.size()}, g);
        EXPECT_TRUE(same_bits(g.data(), G.data(), G.size()));

        Table J_old, J;
        old_model.jacobian(c.truth, J_old);
        model.jacobian(e, J);
        EXPECT_TRUE(J == J_old);
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
