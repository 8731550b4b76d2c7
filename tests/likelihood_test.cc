// The likelihood objective at the library level: its derivatives against
// central differences with σ depending on parameters and on the model
// value under every transformation and both densities, and the PEtab v1
// test-suite cases that need only these features (their llh and chi2).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "fit/objective.h"
#include "input/yaml_problem_file.h"
#include "model/model_kind.h"
#include "run_binary.h"

namespace identify::testing {
namespace {

// A ⇄ B with rates k1 and k2, A(0) = a0, B(0) = b0: the model of every
// PEtab v1 test-suite case used here.
const char* const kConversion = R"(states: [A, B]
parameters:
  a0: {lower: 0, upper: 10, value: 1}
  b0: {lower: 0, upper: 10, value: 0}
  k1: {lower: 0, upper: 10, value: 0.8}
  k2: {lower: 0, upper: 10, value: 0.6}
)";

const char* const kConversionMatrix = R"(matrix:
  A: {A: -k1, B: k2}
  B: {A: k1, B: -k2}
experiments:
  - {id: c0, x0: {A: a0, B: b0}}
data: data.csv
)";

struct Loaded {
  LoadedProblem loaded;
  std::unique_ptr<Model> model;
};

Loaded load(const std::string& yaml, const std::string& data) {
  ScratchDir dir;
  dir.write("problem.yaml", yaml);
  dir.write("data.csv", data);
  Loaded l;
  l.loaded = read_yaml_problem(dir.file("problem.yaml"));
  l.model = make_model(ModelKind::kExact, l.loaded.problem);
  return l;
}

// PEtab v1 test suite (PEtab-dev/petab_test_suite, cases/v1.0.0/sbml,
// BSD-3-Clause): cases 0007 (log10), 0014 (numeric noise parameters),
// 0015 (an estimated noise parameter at its nominal value) and 0016 (log),
// with the llh and chi2 of their _NNNN_solution.yaml, at the nominal
// parameters.
TEST(Likelihood, PetabSuiteCasesGiveTheirLlhAndChi2) {
  const struct {
    const char* id;
    std::string extra_parameters;
    std::string observables;
    std::string data;
    double llh, chi2;
  } cases[] = {
      {"0007", "",
       "observables:\n"
       "  obs_a: {states: {A: 1}, sigma: 0.5}\n"
       "  obs_b: {states: {B: 1}, sigma: 0.6, transformation: log10}\n",
       "experiment,observable,time,measurement\nc0,obs_a,10,0.2\n"
       "c0,obs_b,10,0.8\n",
       -1.378941036858, 0.2682957616817},
      {"0014",
       "  n1: {value: 0.5, estimate: false}\n"
       "  n2: {value: 2, estimate: false}\n",
       "observables:\n  obs_a: {states: {A: 1}, sigma: n1 + n2}\n",
       "experiment,observable,time,measurement\nc0,obs_a,0,0.7\n"
       "c0,obs_a,10,0.1\n",
       -3.68629528983135, 0.03167351934739},
      {"0015", "  noise: {lower: 0, upper: 10, value: 5}\n",
       "observables:\n  obs_a: {states: {A: 1}, sigma: noise}\n",
       "experiment,observable,time,measurement\nc0,obs_a,0,0.7\n"
       "c0,obs_a,10,0.1\n",
       -5.06071208119597, 0.00791837983685},
      {"0016", "",
       "observables:\n"
       "  obs_a: {states: {A: 1}, sigma: 0.5}\n"
       "  obs_b: {states: {B: 1}, sigma: 0.7, transformation: log}\n",
       "experiment,observable,time,measurement\nc0,obs_a,10,0.2\n"
       "c0,obs_b,10,0.8\n",
       -0.78492623889606, 0.4400296965992},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    Loaded l = load(std::string(kConversion) + c.extra_parameters +
                        c.observables + kConversionMatrix,
                    c.data);
    const FitProblem& p = l.loaded.problem;
    Objective f(p, *l.model, p.estimated_parameters(), p.values());
    const double s = f.evaluate_theta(p.values());
    double chi2 = 0.0;
    for (double r : f.residuals()) chi2 += r * r;
    EXPECT_NEAR(chi2, c.chi2, 1e-9 * c.chi2);
    const double m2ll = s + f.constant();
    EXPECT_NEAR(-0.5 * m2ll, c.llh, 1e-9 * std::fabs(c.llh));
    // A fixed σ keeps the plain sum of squares; an estimated one makes S
    // −2 ln L itself.
    EXPECT_EQ(f.is_sum_of_squares(), std::string(c.id) != "0015");
    if (f.is_sum_of_squares()) {
      EXPECT_EQ(s, chi2);
    }
  }
}

// y = B/V observed with σ of parameters and of y itself; every
// transformation and both densities. ∂S/∂x and ∂r/∂x, ∂ln σ/∂x against
// central differences, in the parameters' scaled coordinates.
TEST(Likelihood, DerivativesMatchCentralDifferences) {
  const char* const sigmas[] = {"a", "b*y", "sqrt(a*a + b*b*y*y)"};
  const char* const transformations[] = {"lin", "log", "log10"};
  const char* const densities[] = {"normal", "laplace"};
  const std::string data =
      "experiment,observable,time,measurement\n"
      "c0,y,0.5,0.31\nc0,y,1,0.52\nc0,y,2,0.61\nc0,y,4,0.49\n"
      "c0,y,8,0.33\nc0,y,12,0.22\n";
  for (const char* sigma : sigmas) {
    for (const char* h : transformations) {
      for (const char* density : densities) {
        SCOPED_TRACE(std::string(sigma) + ", " + h + ", " + density);
        const std::string yaml =
            std::string(kConversion) +
            "  V: {lower: 0.1, upper: 10, scale: log, value: 1.3}\n"
            "  a: {lower: 0.001, upper: 1, scale: log10, value: 0.08}\n"
            "  b: {lower: 0.001, upper: 1, value: 0.15}\n"
            "observables:\n  y: {states: {B: 1/V}, sigma: " +
            sigma + ", transformation: " + h + ", distribution: " + density +
            "}\n" + kConversionMatrix;
        Loaded l = load(yaml, data);
        const FitProblem& p = l.loaded.problem;
        Objective f(p, *l.model, p.estimated_parameters(), p.values());
        ASSERT_FALSE(f.is_sum_of_squares());
        const std::vector<double> x = f.coordinates(p.values());
        f.evaluate(x);
        const Table J = f.jacobian();
        const std::vector<double> g = f.gradient();
        const std::size_t n = f.residual_count();
        ASSERT_EQ(J.rows(), 2 * n);
        for (int j = 0; j < f.size(); ++j) {
          const double step = 1e-6;
          std::vector<double> up = x, down = x;
          up[j] += step;
          down[j] -= step;
          const double s_up = f.evaluate(up);
          const std::vector<double> r_up = f.residuals();
          const std::vector<double> sg_up = f.sigmas();
          const double s_down = f.evaluate(down);
          const std::vector<double> r_down = f.residuals();
          const std::vector<double> sg_down = f.sigmas();
          EXPECT_NEAR(g[j], (s_up - s_down) / (2 * step),
                      1e-6 * (1 + std::fabs(g[j])))
              << p.parameters[f.free()[j]].name;
          for (std::size_t m = 0; m < n; ++m) {
            EXPECT_NEAR(J[m][j], (r_up[m] - r_down[m]) / (2 * step),
                        1e-6 * (1 + std::fabs(J[m][j])));
            const double dlog =
                (std::log(sg_up[m]) - std::log(sg_down[m])) / (2 * step);
            EXPECT_NEAR(J[n + m][j], dlog, 1e-6 * (1 + std::fabs(dlog)));
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace identify::testing
