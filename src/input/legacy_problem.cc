// Conversion of the legacy records into parameters, one experiment and
// direct observations; see the header for the mapping. The parameter vector
// is A row-major, so θ_k and A[k / N][k % N] are the same double and a step
// on θ is a step on the entries of A.
#include "input/legacy_problem.h"

#include <unistd.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>

#include "core/time_grid.h"
#include "input/input_error.h"

namespace identify {

std::string legacy_entry_name(int row, int col, int n) {
  std::string name = "a";
  name += std::to_string(row + 1);
  if (n > 9) name += '_';
  name += std::to_string(col + 1);
  return name;
}

std::string legacy_state_name(int i) { return 'x' + std::to_string(i + 1); }

std::vector<Parameter> legacy_entry_parameters(const ProblemRecord& record) {
  const int n = record.dim;
  std::vector<Parameter> params(static_cast<std::size_t>(n) * n);
  for (int q = 0; q < n * n; ++q)
    params[q].name = legacy_entry_name(q / n, q % n, n);
  for (std::size_t b = 0; b < record.par_borders_num.size(); ++b) {
    const EntryIndex& at = record.par_borders_num[b];
    Parameter& p = params[static_cast<std::size_t>(at.row) * n + at.col];
    p.lower = record.par_borders_val[b].lower;
    p.upper = record.par_borders_val[b].upper;
  }
  for (Parameter& p : params) {
    p.value = std::clamp(0.0, p.lower, p.upper);
    p.drawn_by_decades = false;
  }
  for (std::size_t f = 0; f < record.fix_par_num.size(); ++f) {
    const EntryIndex& at = record.fix_par_num[f];
    Parameter& p = params[static_cast<std::size_t>(at.row) * n + at.col];
    p.estimated = false;
    p.value = record.fix_par_val[f];
  }
  return params;
}

namespace {

DescentRules entry_rules(const ProblemRecord& record) {
  const int n = record.dim;
  DescentRules rules;
  rules.start.assign(static_cast<std::size_t>(n) * n, 0.0);
  for (std::size_t f = 0; f < record.fix_par_num.size(); ++f) {
    const EntryIndex& at = record.fix_par_num[f];
    rules.fixed.push_back({at.row * n + at.col, record.fix_par_val[f]});
  }
  for (std::size_t b = 0; b < record.par_borders_num.size(); ++b) {
    const EntryIndex& at = record.par_borders_num[b];
    rules.bounded.push_back({at.row * n + at.col,
                             record.par_borders_val[b].lower,
                             record.par_borders_val[b].upper});
  }
  return rules;
}

Experiment experiment(const ProblemRecord& record, const ObservationRecord& obs,
                      const std::vector<int>& observable_of) {
  const int n = record.dim;
  Experiment e;
  e.id = "experiment";
  e.matrix.reserve(static_cast<std::size_t>(n) * n);
  for (int q = 0; q < n * n; ++q) {
    e.matrix.push_back(MatrixTerm{q / n, q % n, BoundExpression::parameter(q)});
  }
  for (int i = 0; i < n; ++i) {
    e.x0.emplace_back(record.init_val[i]);
    if (record.exp_coef[i] != 0.0) {
      e.sources.push_back(Source{i, BoundExpression(record.exp_coef[i]),
                                 BoundExpression(record.exp_par[i])});
    }
  }
  for (int c = 0; c < n; ++c) {
    if (observable_of[c] < 0) continue;
    ObservableTerms terms;
    terms.coefficients.emplace_back(c, BoundExpression(1.0));
    e.observables.push_back(std::move(terms));
  }
  for (int k = 0; k < obs.data_num; ++k) {
    const int c = obs.is_data_exist[k];
    for (int q = 0; q < obs.points(); ++q) {
      Measurement m;
      m.observable = observable_of[c];
      m.time = obs.data_time[k][q];
      m.value = obs.add_data[k][q];
      m.counted = q > 0;
      e.measurements.push_back(m);
    }
  }
  return e;
}

}  // namespace

std::vector<int> legacy_observed_components(const ObservationRecord& obs) {
  const std::set<int> observed(obs.is_data_exist.begin(),
                               obs.is_data_exist.end());
  return std::vector<int>(observed.begin(), observed.end());
}

LegacyProblem legacy_problem(const ProblemRecord& record,
                             const ObservationRecord& obs) {
  const int n = record.dim;
  LegacyProblem legacy;
  FitProblem& p = legacy.problem;
  for (int i = 0; i < n; ++i) p.states.push_back(legacy_state_name(i));
  p.parameters = legacy_entry_parameters(record);
  std::vector<int> observable_of(static_cast<std::size_t>(n), -1);
  for (const int c : legacy_observed_components(obs)) {
    observable_of[c] = static_cast<int>(p.observables.size());
    p.observables.push_back(p.states[c]);
  }
  p.experiments.push_back(experiment(record, obs, observable_of));
  p.horizon = record.T;
  legacy.descent = entry_rules(record);
  legacy.epsilon = record.epsilon;
  legacy.step = record.opt_par;
  legacy.T = record.T;
  return legacy;
}

namespace {

// Working memory of a legacy run for N components, in bytes: the two
// trajectories with the fast kernels' node-major copies and source table,
// a handful of N×N matrices, and the problem itself (a parameter and a
// matrix term per entry, about 300 bytes).
double working_bytes(double n) {
  return 8.0 * (5.0 * n * kNodeCount + 8.0 * n * n) + 300.0 * n * n;
}

double physical_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page <= 0) return 0.0;
  return static_cast<double>(pages) * static_cast<double>(page);
}

void check_memory(const std::string& file, int dim) {
  const double need = working_bytes(dim);
  const double have = physical_bytes();
  if (have <= 0.0 || need <= have) return;
  std::ostringstream s;
  s << file << ": dim " << dim << " needs about " << need / (1u << 30)
    << " GiB of working memory, more than this machine has ("
    << have / (1u << 30) << " GiB)";
  throw InputError(s.str());
}

}  // namespace

LegacyProblem pose_legacy_files(const std::string& input_name,
                                const ProblemRecord& problem,
                                ObservationRecord obs) {
  check_memory(input_name, problem.dim);
  for (int k = 0; k < obs.data_num; ++k) {
    obs.add_data[k][0] = problem.init_val[obs.is_data_exist[k]];
  }
  return legacy_problem(problem, obs);
}

}  // namespace identify
