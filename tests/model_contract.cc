// The model contract check. Central differences with step
// h_k = 1e-5·max(1, |θ_k|) have truncation error O(h²) and rounding error
// O(u/h), both near 1e-10 relative for the smooth problems used here.
#include "model_contract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "core/table.h"

namespace identify::testing {
namespace {

double step_for(double value) { return 1e-5 * std::max(1.0, std::abs(value)); }

Table jacobian_by_differences(Model& model, const std::vector<double>& theta,
                              std::size_t rows) {
  Table J(rows, theta.size());
  Evaluation up, down;
  for (std::size_t k = 0; k < theta.size(); ++k) {
    const double h = step_for(theta[k]);
    std::vector<double> moved = theta;
    moved[k] = theta[k] + h;
    model.evaluate(moved, up);
    moved[k] = theta[k] - h;
    model.evaluate(moved, down);
    for (std::size_t m = 0; m < rows; ++m) {
      J[m][k] = (up.y[m] - down.y[m]) / (2.0 * h);
    }
  }
  return J;
}

// Largest |a − b| in each column relative to the largest |b| there (or to
// 1 for a column of zeros), over all columns.
double column_gap(const Table& a, const Table& b) {
  double worst = 0.0;
  for (std::size_t k = 0; k < a.cols(); ++k) {
    double gap = 0.0, scale = 0.0;
    for (std::size_t m = 0; m < a.rows(); ++m) {
      gap = std::max(gap, std::abs(a[m][k] - b[m][k]));
      scale = std::max(scale, std::abs(b[m][k]));
    }
    worst = std::max(worst, gap / (scale > 0.0 ? scale : 1.0));
  }
  return worst;
}

double vector_gap(const std::vector<double>& a, const std::vector<double>& b) {
  double gap = 0.0, scale = 0.0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    gap = std::max(gap, std::abs(a[k] - b[k]));
    scale = std::max(scale, std::abs(b[k]));
  }
  return gap / (scale > 0.0 ? scale : 1.0);
}

void check_derivatives(Model& model, const FitProblem& problem,
                       const std::vector<double>& theta,
                       const std::vector<double>& w,
                       const ContractTolerances& tol) {
  Evaluation at;
  model.evaluate(theta, at);
  ASSERT_EQ(at.theta, theta);
  ASSERT_EQ(at.y.size(), problem.measurement_count());
  Table J;
  model.jacobian(at, J);
  ASSERT_EQ(J.rows(), problem.measurement_count());
  ASSERT_EQ(J.cols(), theta.size());
  EXPECT_LE(column_gap(J, jacobian_by_differences(model, theta, J.rows())),
            tol.differences);

  std::vector<double> g(theta.size()), jtw(theta.size(), 0.0);
  model.gradient(at, w, g);
  for (std::size_t m = 0; m < J.rows(); ++m) {
    for (std::size_t k = 0; k < J.cols(); ++k) jtw[k] += w[m] * J[m][k];
  }
  EXPECT_LE(vector_gap(g, jtw), 1e-12);

  std::vector<double> differences(theta.size());
  Evaluation up, down;
  for (std::size_t k = 0; k < theta.size(); ++k) {
    const double h = step_for(theta[k]);
    std::vector<double> moved = theta;
    moved[k] = theta[k] + h;
    model.evaluate(moved, up);
    moved[k] = theta[k] - h;
    model.evaluate(moved, down);
    double sum = 0.0;
    for (std::size_t m = 0; m < w.size(); ++m) {
      sum += w[m] * (up.y[m] - down.y[m]);
    }
    differences[k] = sum / (2.0 * h);
  }
  EXPECT_LE(vector_gap(g, differences), tol.differences);
}

// Calls for an Evaluation at θ1 made after evaluations at θ2 give the same
// bits as right after evaluating θ1.
void check_no_hidden_state(Model& model, const std::vector<double>& theta1,
                           const std::vector<double>& theta2,
                           const std::vector<double>& w) {
  Evaluation at1, at2, again;
  Table J1, J2, J;
  std::vector<double> g1(theta1.size()), g(theta1.size());
  model.evaluate(theta1, at1);
  model.jacobian(at1, J1);
  model.gradient(at1, w, g1);
  model.evaluate(theta2, at2);
  model.jacobian(at2, J2);
  EXPECT_NE(J1, J2);  // θ2 is another point
  model.jacobian(at1, J);
  EXPECT_EQ(J, J1);
  model.gradient(at1, w, g);
  EXPECT_EQ(g, g1);
  model.gradient(at2, w, g);
  model.evaluate(theta1, again);
  EXPECT_EQ(again.y, at1.y);
  model.gradient(at1, w, g);
  EXPECT_EQ(g, g1);
}

// y_m = sum of c_i·x_i(t_m) + d with x from states() at each experiment's
// sorted distinct times.
void check_states(Model& model, const FitProblem& problem,
                  const std::vector<double>& theta, double tolerance) {
  Evaluation at;
  model.evaluate(theta, at);
  double scale = 0.0;
  for (double y : at.y) scale = std::max(scale, std::abs(y));
  std::vector<double> scratch;
  std::size_t first = 0;
  for (int e = 0; e < static_cast<int>(problem.experiments.size()); ++e) {
    const Experiment& ex = problem.experiments[e];
    std::vector<double> times;
    for (const Measurement& m : ex.measurements) times.push_back(m.time);
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    Table X;
    model.states(theta, e, times, X);
    ASSERT_EQ(X.rows(), static_cast<std::size_t>(problem.state_count()));
    ASSERT_EQ(X.cols(), times.size());
    for (std::size_t m = 0; m < ex.measurements.size(); ++m) {
      const Measurement& ms = ex.measurements[m];
      const std::size_t q =
          std::lower_bound(times.begin(), times.end(), ms.time) - times.begin();
      const ObservableTerms& terms = ex.observables[ms.observable];
      double y = terms.offset.value(theta, scratch);
      for (const auto& [state, c] : terms.coefficients) {
        y += c.value(theta, scratch) * X[state][q];
      }
      EXPECT_NEAR(y, at.y[first + m], tolerance * scale)
          << "experiment " << e << ", measurement " << m;
    }
    first += ex.measurements.size();
  }
}

}  // namespace

void check_model_contract(const FitProblem& problem, const ModelFactory& make,
                          const ContractTolerances& tolerances, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const std::vector<double> theta1 = problem.values();
  const std::vector<double> theta2 = [&] {
    std::vector<double> moved = theta1;
    for (double& v : moved) v *= 1.0 + 0.1 * unit(rng);
    return moved;
  }();
  std::vector<double> w(problem.measurement_count());
  for (double& v : w) v = unit(rng);

  const std::unique_ptr<Model> model = make(problem);
  for (const std::vector<double>* theta : {&theta1, &theta2}) {
    SCOPED_TRACE(theta == &theta1 ? "at the values" : "at a moved θ");
    check_derivatives(*model, problem, *theta, w, tolerances);
    check_states(*model, problem, *theta, tolerances.states);
  }
  check_no_hidden_state(*model, theta1, theta2, w);
}

}  // namespace identify::testing
