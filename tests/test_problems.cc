// Builders for in-memory problems and the reader-based example loader.
#include "test_problems.h"

#include <gtest/gtest.h>

#include "input/measurement_file.h"
#include "input/problem_file.h"

namespace identify::testing {

ProblemRecord make_problem(const Vector& x0, const Vector& amp,
                           const Vector& rate) {
  ProblemRecord problem;
  problem.epsilon = 0.0;
  problem.T = 10.0;
  problem.opt_par = 1.0;
  problem.dim = static_cast<std::int32_t>(x0.size());
  problem.init_val = x0;
  problem.exp_coef = amp;
  problem.exp_par = rate;
  return problem;
}

ObservationRecord make_observations(
    int dim, const std::vector<std::int32_t>& components,
    const std::vector<std::vector<double>>& times) {
  ObservationRecord obs;
  obs.data_num = static_cast<std::int32_t>(components.size());
  obs.is_data_exist = components;
  const std::size_t points = times.empty() ? 0 : times[0].size();
  obs.data_dim.assign(dim, static_cast<std::int32_t>(points));
  obs.data_time = Table(components.size(), points);
  obs.add_data = Table(components.size(), points);
  for (std::size_t k = 0; k < components.size(); ++k) {
    for (std::size_t n = 0; n < points; ++n) obs.data_time[k][n] = times[k][n];
  }
  return obs;
}

Matrix matrix_of(const std::vector<std::vector<double>>& rows) {
  Matrix A(rows.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (std::size_t j = 0; j < rows.size(); ++j) A[i][j] = rows[i][j];
  }
  return A;
}

Example read_example(const std::string& name) {
  const std::string dir = std::string(IDENTIFY_EXAMPLES_DIR) + "/" + name;
  std::vector<std::string> warnings;
  Example e;
  e.problem = read_problem_file(dir + "/input.txt", &warnings);
  e.obs = read_measurement_file(dir + "/input_data.txt", e.problem.dim,
                                e.problem.T, &warnings);
  for (int k = 0; k < e.obs.data_num; ++k) {
    e.obs.add_data[k][0] = e.problem.init_val[e.obs.is_data_exist[k]];
  }
  EXPECT_TRUE(warnings.empty());
  return e;
}

}  // namespace identify::testing
