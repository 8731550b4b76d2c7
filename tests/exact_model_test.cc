// The closed-form model on θ: the model contract on random problems and on
// a stiff one, the stiff one's values against a 30-digit reference, and
// agreement with the closed-form model on the matrix A on the legacy
// examples.
#include "model/exact/exact_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "input/legacy_problem.h"
#include "model/exact/exact_matrix_model.h"
#include "model_contract.h"
#include "problem/problem_builder.h"
#include "test_problems.h"

namespace identify {
namespace {

std::unique_ptr<Model> make_exact(const FitProblem& problem) {
  return std::make_unique<ExactModel>(problem);
}

TEST(ExactModelTest, KeepsTheModelContractOnRandomProblems) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE(seed);
    testing::check_model_contract(testing::random_fit_problem(seed), make_exact,
                                  {}, seed);
  }
}

// Absorption at ka = 1e4 per hour into a compartment cleared at ke = 0.1
// (eigenvalues −1e4 and −0.1), a source 2·exp(−t/2) into the gut, and
// y = central/V + d. Reference values from tools/stiff_reference.py
// (mpmath, closed form at 60 digits, checked against mpmath's expm), as
// {t, gut x1(t), y(t)}.
constexpr double kStiffReference[][3] = {
    {0, 5.0, 4.166666666666666666666667e-1},
    {1e-5, 4.524206122647816574837897, 5.752710451437626126523402e-1},
    {1e-4, 1.839523626290248967214647, 1.470217658188199614714533},
    {3e-4, 2.491253639290005136522726e-1, 2.0004523660899150262366},
    {1e-3, 4.269005888693084590323059e-4, 2.083690846079630590725478},
    {0.01, 1.990124464608595056457951e-4, 2.088097995925981199602381},
    {0.1, 1.902553976700263031334417e-4, 2.129745772863013878447279},
    {0.5, 1.557679450115315502265454e-4, 2.281268485287632449362441},
    {1, 1.213121975524043049360067e-4, 2.406026145071372652427463},
    {2, 7.357956721264909677394345e-5, 2.502421866965542945112997},
    {4, 2.706841006782592967528366e-5, 2.370572421451164909722554},
    {8, 3.663310943294000758781543e-6, 1.792138760998073956885825},
};

FitProblem stiff_problem() {
  ProblemBuilder b({"gut", "central"});
  for (const auto& [name, value] :
       std::vector<std::pair<std::string, double>>{{"ka", 1e4},
                                                   {"ke", 0.1},
                                                   {"V", 3.0},
                                                   {"d", 0.25},
                                                   {"amp", 2.0},
                                                   {"rate", -0.5},
                                                   {"x10", 5.0},
                                                   {"x20", 0.5}}) {
    Parameter p;
    p.name = name;
    p.value = value;
    b.add_parameter(p);
  }
  b.set_entry("gut", "gut", "-ka");
  b.set_entry("central", "gut", "ka");
  b.set_entry("central", "central", "-ke");
  b.set_source("gut", "amp", "rate");
  const int conc = b.add_observable("conc", {{"central", "1/V"}}, "d");
  const int gut = b.add_observable("gut", {{"gut", "1"}});
  const int e = b.add_experiment("oral");
  b.set_x0(e, "gut", "x10");
  b.set_x0(e, "central", "x20");
  for (const auto& r : kStiffReference) {
    b.add_measurement(e, conc, r[0], 0.0);
    b.add_measurement(e, gut, r[0], 0.0);
  }
  return b.build();
}

TEST(ExactModelTest, StiffSystemAgreesWithThirtyDigitReference) {
  const FitProblem problem = stiff_problem();
  ExactModel model(problem);
  Evaluation at;
  model.evaluate(problem.values(), at);
  for (std::size_t q = 0; q < std::size(kStiffReference); ++q) {
    const auto& r = kStiffReference[q];
    SCOPED_TRACE(::testing::Message() << "t = " << r[0]);
    EXPECT_NEAR(at.y[2 * q], r[2], 1e-12 * r[2]);
    EXPECT_NEAR(at.y[2 * q + 1], r[1], 1e-12 * r[1]);
  }
  EXPECT_EQ(at.y[1], 5.0);  // x(0) = x0 exactly
  testing::check_model_contract(problem, make_exact, {1e-6, 1e-13}, 9);
}

// The model on θ at `theta` against the matrix model's samples M and
// Jacobian J_old, column entries[k] of J_old being column k.
void expect_agreement(const FitProblem& problem,
                      const std::vector<double>& theta,
                      const std::vector<EntryIndex>& entries, std::size_t n,
                      const Table& M, const Table& J_old) {
  ExactModel model(problem);
  Evaluation at;
  model.evaluate(theta, at);
  Table J;
  model.jacobian(at, J);
  ASSERT_EQ(at.y.size(), M.size());
  double y_scale = 0.0;
  for (std::size_t s = 0; s < M.size(); ++s) {
    y_scale = std::max(y_scale, std::abs(M.data()[s]));
  }
  for (std::size_t s = 0; s < M.size(); ++s) {
    EXPECT_NEAR(at.y[s], M.data()[s], 1e-13 * y_scale) << "sample " << s;
  }
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const std::size_t column = entries[k].row * n + entries[k].col;
    double scale = 0.0;
    for (std::size_t s = 0; s < J.rows(); ++s) {
      scale = std::max(scale, std::abs(J_old[s][column]));
    }
    for (std::size_t s = 0; s < J.rows(); ++s) {
      EXPECT_NEAR(J[s][k], J_old[s][column], 1e-11 * scale)
          << "sample " << s << ", entry " << entries[k].row << ","
          << entries[k].col;
    }
  }
}

// The legacy examples at their published optima, posed through
// ProblemBuilder with one parameter per free entry and through
// legacy_problem() with one per entry: the same samples and the same
// derivatives as the matrix model.
TEST(ExactModelTest, AgreesWithTheMatrixModelOnTheExamples) {
  const struct {
    const char* name;
    std::vector<std::vector<double>> A;
  } cases[] = {
      {"alpha_pinene",
       {{-8.889e-5, 0, 0, 0, 0},
        {5.926e-5, 0, 0, 0, 0},
        {2.963e-5, 0, -29.497e-5, 0, 3.998e-5},
        {0, 0, 2.047e-5, 0, 0},
        {0, 0, 27.45e-5, 0, -3.998e-5}}},
      {"theophylline", {{-1.777414, 0.0}, {4.813392, -0.053955}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const testing::Example e = testing::read_example(c.name);
    const Matrix A = testing::matrix_of(c.A);
    ExactMatrixModel old_model(e.problem, e.obs);
    Table M, J_old;
    old_model.evaluate(A, M);
    old_model.jacobian(A, J_old);
    const std::size_t n = e.problem.dim;

    const testing::PosedRecords posed =
        testing::pose_records(e.problem, e.obs, A);
    expect_agreement(posed.problem, posed.problem.values(), posed.entries, n, M,
                     J_old);

    const LegacyProblem legacy = legacy_problem(e.problem, e.obs);
    std::vector<EntryIndex> every;
    for (std::size_t q = 0; q < n * n; ++q) {
      every.push_back({static_cast<int>(q / n), static_cast<int>(q % n)});
    }
    expect_agreement(legacy.problem,
                     std::vector<double>(A.data(), A.data() + A.size()), every,
                     n, M, J_old);
  }
}

}  // namespace
}  // namespace identify
