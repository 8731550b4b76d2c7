// Builders for in-memory problems, the reader-based example loader, and the
// finite-difference and comparison helpers of the model tests.
#include "test_problems.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <random>

#include "input/legacy_problem.h"
#include "input/measurement_file.h"
#include "input/problem_file.h"
#include "model/grid/grid_model.h"
#include "problem/problem_builder.h"

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

void fix_entry(ProblemRecord& problem, int row, int col, double value) {
  problem.fix_par_num.push_back({row, col});
  problem.fix_par_val.push_back(value);
  ++problem.fix_par_dim;
}

void bound_entry(ProblemRecord& problem, int row, int col, double lower,
                 double upper) {
  problem.par_borders_num.push_back({row, col});
  problem.par_borders_val.push_back({lower, upper});
  ++problem.par_borders_dim;
}

ObservationRecord make_observations(
    int dim, const std::vector<std::int32_t>& components,
    const std::vector<std::vector<double>>& times,
    const std::vector<std::vector<double>>& values) {
  ObservationRecord obs;
  obs.data_num = static_cast<std::int32_t>(components.size());
  obs.is_data_exist = components;
  const std::size_t points = times.empty() ? 0 : times[0].size();
  obs.data_dim.assign(dim, static_cast<std::int32_t>(points));
  obs.data_time = Table(components.size(), points);
  obs.add_data = Table(components.size(), points);
  for (std::size_t k = 0; k < components.size(); ++k) {
    for (std::size_t n = 0; n < points; ++n) {
      obs.data_time[k][n] = times[k][n];
      if (!values.empty()) obs.add_data[k][n] = values[k][n];
    }
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

FitProblem legacy_fit(const ProblemRecord& problem,
                      const ObservationRecord& obs) {
  return legacy_problem(problem, obs).problem;
}

std::vector<double> theta_of(const Matrix& A) {
  return std::vector<double>(A.data(), A.data() + A.size());
}

double relative_gap(const Table& a, const Table& b) {
  double gap = 0.0, scale = 0.0;
  for (std::size_t s = 0; s < a.size(); ++s) {
    gap = std::max(gap, std::abs(a.data()[s] - b.data()[s]));
    scale = std::max(scale, std::abs(b.data()[s]));
  }
  return gap / scale;
}

double relative_gap(const std::vector<double>& a,
                    const std::vector<double>& b) {
  double gap = 0.0, scale = 0.0;
  for (std::size_t s = 0; s < a.size(); ++s) {
    gap = std::max(gap, std::abs(a[s] - b[s]));
    scale = std::max(scale, std::abs(b[s]));
  }
  return gap / scale;
}

bool InterruptedModel::cut_short() {
  if (++calls_ == at_) flag_.store(SIGTERM);
  return flag_.load() != 0;
}

void InterruptedModel::evaluate(std::span<const double> theta,
                                Evaluation& out) {
  inner_.evaluate(theta, out);
  if (cut_short()) std::fill(out.y.begin(), out.y.end(), std::nan(""));
}

void InterruptedModel::jacobian(const Evaluation& at, Table& J) {
  inner_.jacobian(at, J);
  if (cut_short()) J.fill(std::nan(""));
}

void InterruptedModel::gradient(const Evaluation& at, std::span<const double> w,
                                std::span<double> g) {
  inner_.gradient(at, w, g);
  if (cut_short()) std::fill(g.begin(), g.end(), std::nan(""));
}

RandomCase::RandomCase(int n, Layout layout, unsigned seed) : rng(seed) {
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  Vector x0(n), amp(n), rate(n);
  for (int i = 0; i < n; ++i) {
    x0[i] = i % 4 == 3 ? -0.0 : unit(rng);
    amp[i] = i % 3 == 2 ? 0.0 : unit(rng);
    rate[i] = 0.8 * unit(rng);
  }
  problem = make_problem(x0, amp, rate);
  problem.T = 2.5;
  problem.opt_par = 2e-3;
  truth = random_matrix(n, 0.6);
  start = random_matrix(n, 0.3);
  if (n >= 2) {
    fix_entry(problem, 0, 1, start[0][1]);
    bound_entry(problem, 1, 0, -0.05, 0.05);
    bound_entry(problem, n - 1, n - 1, -1.5, -0.5);
    start[1][0] = 0.0;
    start[n - 1][n - 1] = -1.0;
  }
  make_observations(layout);
}

Matrix RandomCase::random_matrix(int n, double coupling) {
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

// Series after the first get their own interior times.
void RandomCase::make_observations(Layout layout) {
  const int n = problem.dim;
  const double T = problem.T;
  std::vector<std::int32_t> components;
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
      // A measured sample at t = 0 besides point 0, close times, and T
      // twice: several jumps land on one node.
      times = {0.0, 0.0, 0.7, 0.7002, 1.25, T, T};
      break;
  }
  std::vector<std::vector<double>> series_times(components.size(), times);
  for (std::size_t k = 1; k < components.size(); ++k) {
    for (std::size_t p = 1; p + 1 < times.size(); ++p) {
      series_times[k][p] += 0.013 * k;
    }
  }
  obs = testing::make_observations(n, components, series_times);
  GridModel model(legacy_fit(problem, obs), Kernels::kPlain);
  Evaluation at;
  model.evaluate(theta_of(truth), at);
  std::copy(at.y.begin(), at.y.end(), obs.add_data.data());
  std::normal_distribution<double> noise(0.0, 0.01);
  for (std::size_t k = 0; k < components.size(); ++k) {
    for (std::size_t p = 1; p < times.size(); ++p) {
      obs.add_data[k][p] += noise(rng);
    }
  }
  fit = legacy_fit(problem, obs);
}

}  // namespace identify::testing

namespace identify::testing {

FitProblem random_fit_problem(unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const auto near = [&](double v) { return v * (1.0 + 0.2 * unit(rng)); };
  ProblemBuilder b({"a", "b", "c"});
  for (const auto& [name, value] :
       std::vector<std::pair<std::string, double>>{{"k1", 0.7},
                                                   {"k2", 0.4},
                                                   {"k3", 0.3},
                                                   {"lk", -0.5},
                                                   {"V", 2.5},
                                                   {"V_b", 4.0},
                                                   {"base", 0.1},
                                                   {"D", 3.0},
                                                   {"amp", 0.8},
                                                   {"r", 0.6}}) {
    b.add_parameter(parameter(name, near(value)));
  }
  Parameter k4 = parameter("k4", near(0.05));
  k4.estimated = false;
  b.add_parameter(k4);
  b.set_entry("a", "a", "-(k1 + k2)");
  b.set_entry("b", "a", "k1");
  b.set_entry("c", "a", "k2");
  b.set_entry("a", "b", "k4 * k3");
  b.set_entry("b", "b", "-k3");
  b.set_entry("c", "b", "k3 / 2");
  b.set_entry("b", "c", "0.05");
  b.set_entry("c", "c", "-exp(lk)");
  b.set_source("a", "0", "1");
  b.set_source("b", "2", "-0.2");
  b.set_source("c", "amp", "-r");
  const int conc = b.add_observable("conc", {{"b", "1/V"}}, "base");
  const int total =
      b.add_observable("total", {{"a", "1"}, {"b", "1"}, {"c", "1"}});
  const int mix = b.add_observable("mix", {{"c", "sqrt(amp)"}, {"a", "k1"}});
  const int e1 = b.add_experiment("e1");
  b.set_x0(e1, "a", "D");
  b.set_x0(e1, "b", "0.5");
  const int e2 = b.add_experiment("e2");
  b.add_override(e2, "V", "V_b");
  b.add_override(e2, "D", "5");
  b.set_x0(e2, "a", "D");
  b.set_x0(e2, "c", "0.1 * D");
  const int e3 = b.add_experiment("e3");
  b.add_override(e3, "k3", "0.9");
  std::uniform_real_distribution<double> time(0.0, 6.0);
  for (const int e : {e1, e2, e3}) {
    std::vector<double> times = {0.0,       time(rng), time(rng),
                                 time(rng), time(rng), 6.0};
    times.push_back(times[2]);
    for (const double t : times) {
      const int o = static_cast<int>(rng() % 3);
      b.add_measurement(e, o, t, unit(rng));
      if (t == times[2]) b.add_measurement(e, (o + 1) % 3, t, unit(rng));
    }
  }
  b.add_measurement(e1, conc, 0.0, 1.0, std::nullopt, false);
  b.add_measurement(e3, total, 2.5, 1.0);
  b.add_measurement(e3, mix, 2.5, 1.0);
  return b.build();
}

FitProblem random_dosed_problem(unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const auto near = [&](double v) { return v * (1.0 + 0.2 * unit(rng)); };
  ProblemBuilder b({"gut", "central", "periph"});
  for (const auto& [name, value] :
       std::vector<std::pair<std::string, double>>{{"ka", 1.2},
                                                   {"ke", 0.25},
                                                   {"k12", 0.4},
                                                   {"k21", 0.3},
                                                   {"V", 2.5},
                                                   {"F", 0.8},
                                                   {"D", 3.0},
                                                   {"amp", 0.5},
                                                   {"r", 0.7}}) {
    b.add_parameter(parameter(name, near(value)));
  }
  b.add_parameter(parameter("tlag", 0.3));
  b.add_parameter(parameter("tD", 1.6));
  b.add_parameter(parameter("dur", 0.8));
  b.set_entry("gut", "gut", "-ka");
  b.set_entry("central", "gut", "ka");
  b.set_entry("central", "central", "-(ke + k12)");
  b.set_entry("central", "periph", "k21");
  b.set_entry("periph", "central", "k12");
  b.set_entry("periph", "periph", "-k21");
  b.set_source("central", "amp", "-r");
  b.add_observable("conc", {{"central", "1/V"}});
  b.add_observable("total", {{"gut", "1"}, {"central", "1"}, {"periph", "1"}});
  b.add_observable("periph", {{"periph", "1"}});
  const int lagged = b.add_experiment("lagged");
  b.set_lag(lagged, "tlag");
  b.add_dose(lagged, "central", "5", "1.5");
  b.add_dose(lagged, "gut", "tD", "F * 4");
  b.add_dose(lagged, "central", "2.5", "3", "dur");
  b.add_dose(lagged, "gut", "0", "F * 4");
  const int repeated = b.add_experiment("repeated");
  b.set_x0(repeated, "gut", "1");
  for (const char* t : {"0", "2", "4", "6"})
    b.add_dose(repeated, "gut", t, "2");
  b.add_dose(repeated, "gut", "4", "1");
  b.add_dose(repeated, "central", "0", "D", "1");
  b.add_dose(repeated, "periph", "30", "5");
  const int plain = b.add_experiment("plain");
  b.set_x0(plain, "central", "D");
  std::uniform_real_distribution<double> jitter(-0.05, 0.05);
  const std::vector<std::pair<int, std::vector<double>>> times = {
      {lagged, {0.0, 0.15, 1.0, 2.45, 3.1, 4.5, 7.0}},
      {repeated, {0.0, 0.5, 1.0, 1.5, 3.0, 4.0, 5.0, 7.0, 9.0}},
      {plain, {0.5, 2.0, 6.0}}};
  for (const auto& [e, ts] : times) {
    for (double t : ts) {
      if (e == lagged && t > 0.0) t += jitter(rng);
      const int o = static_cast<int>(rng() % 3);
      b.add_measurement(e, o, t, unit(rng));
      if (rng() % 2 == 0) b.add_measurement(e, (o + 1) % 3, t, unit(rng));
    }
  }
  return b.build();
}

PosedRecords pose_records(const ProblemRecord& problem,
                          const ObservationRecord& obs, const Matrix& A) {
  const int n = problem.dim;
  std::vector<std::string> states;
  for (int i = 1; i <= n; ++i)
    states.push_back(std::string(1, 'x').append(std::to_string(i)));
  ProblemBuilder b(states);
  PosedRecords posed;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const EntryIndex entry{i, j};
      auto fixed = std::find(problem.fix_par_num.begin(),
                             problem.fix_par_num.end(), entry);
      if (fixed != problem.fix_par_num.end()) {
        const double v =
            problem.fix_par_val[fixed - problem.fix_par_num.begin()];
        b.set_entry(i, j, Expression::number(v).text());
        continue;
      }
      std::string name = "a_";
      name += std::to_string(i + 1);
      name += '_';
      name += std::to_string(j + 1);
      Parameter p = parameter(name, A[i][j]);
      auto bounded = std::find(problem.par_borders_num.begin(),
                               problem.par_borders_num.end(), entry);
      if (bounded != problem.par_borders_num.end()) {
        const EntryBounds& bounds =
            problem.par_borders_val[bounded - problem.par_borders_num.begin()];
        p.lower = bounds.lower;
        p.upper = bounds.upper;
      }
      b.add_parameter(p);
      b.set_entry(i, j, p.name);
      posed.entries.push_back(entry);
    }
  }
  const int e = b.add_experiment("records");
  for (int i = 0; i < n; ++i) {
    b.set_x0(e, states[i], Expression::number(problem.init_val[i]).text());
    if (problem.exp_coef[i] != 0.0) {
      b.set_source(states[i], Expression::number(problem.exp_coef[i]).text(),
                   Expression::number(problem.exp_par[i]).text());
    }
  }
  for (int k = 0; k < obs.data_num; ++k) {
    const std::string& state = states[obs.is_data_exist[k]];
    b.add_observable("series" + std::to_string(k + 1), {{state, "1"}});
    for (std::size_t p = 0; p < obs.data_time.cols(); ++p) {
      const double t = obs.data_time[k][p];
      b.add_measurement(e, k, t, obs.add_data[k][p], std::nullopt, t != 0.0);
    }
  }
  posed.problem = b.build();
  return posed;
}

}  // namespace identify::testing

namespace identify::testing {

Parameter parameter(const std::string& name, double value, double lower,
                    double upper, Scale scale) {
  Parameter p;
  p.name = name;
  p.value = value;
  p.lower = lower;
  p.upper = upper;
  p.scale = scale;
  return p;
}

}  // namespace identify::testing
