// The legacy conversion. The fixed and bounded lists are first resolved
// into one decision per entry of A (fixed at a value, bounded, or free),
// then the problem file is written section by section in the order a
// person would read it, and the data table row by row.
#include "input/legacy_conversion.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>

namespace identify {

namespace {

std::string num(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

struct EntryPlan {
  std::optional<double> fixed;
  std::optional<EntryBounds> bounds;
};

std::vector<EntryPlan> plan_entries(const ProblemRecord& p) {
  const int n = p.dim;
  std::vector<EntryPlan> plan(static_cast<std::size_t>(n) * n);
  for (std::size_t k = 0; k < p.par_borders_num.size(); ++k) {
    const EntryIndex& e = p.par_borders_num[k];
    plan[static_cast<std::size_t>(e.row) * n + e.col].bounds =
        p.par_borders_val[k];
  }
  for (std::size_t k = 0; k < p.fix_par_num.size(); ++k) {
    const EntryIndex& e = p.fix_par_num[k];
    plan[static_cast<std::size_t>(e.row) * n + e.col].fixed = p.fix_par_val[k];
  }
  for (EntryPlan& e : plan) {
    if (!e.fixed && e.bounds && e.bounds->lower == e.bounds->upper) {
      e.fixed = e.bounds->lower;
    }
  }
  return plan;
}

std::string state_name(int i) {
  std::string name = "x";
  name += std::to_string(i + 1);
  return name;
}

std::string entry_name(int n, int row, int col) {
  std::string name = "a";
  name += std::to_string(row + 1);
  if (n >= 10) name += '_';
  name += std::to_string(col + 1);
  return name;
}

std::string parameters_section(const std::vector<EntryPlan>& plan, int n) {
  std::string out = "parameters:\n";
  bool any = false;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const EntryPlan& e = plan[static_cast<std::size_t>(i) * n + j];
      if (e.fixed) continue;
      any = true;
      out += "  " + entry_name(n, i, j) + ": {";
      double start = 0.0;
      if (e.bounds) {
        out += "lower: " + num(e.bounds->lower) +
               ", upper: " + num(e.bounds->upper) + ", ";
        start = std::clamp(0.0, e.bounds->lower, e.bounds->upper);
      }
      out += "value: " + num(start) + "}\n";
    }
  }
  return any ? out : "parameters: {}\n";
}

std::string matrix_section(const std::vector<EntryPlan>& plan, int n) {
  std::string out = "matrix:\n";
  for (int i = 0; i < n; ++i) {
    out += "  " + state_name(i) + ": {";
    for (int j = 0; j < n; ++j) {
      const EntryPlan& e = plan[static_cast<std::size_t>(i) * n + j];
      out += (j > 0 ? ", " : "") + state_name(j) + ": " +
             (e.fixed ? num(*e.fixed) : entry_name(n, i, j));
    }
    out += "}\n";
  }
  return out;
}

std::string inputs_section(const ProblemRecord& p) {
  std::string out;
  for (int i = 0; i < p.dim; ++i) {
    if (p.exp_coef[i] == 0.0 && p.exp_par[i] == 0.0) continue;
    out += "  " + state_name(i) + ": {amp: " + num(p.exp_coef[i]) +
           ", rate: " + num(p.exp_par[i]) + "}\n";
  }
  return out.empty() ? "" : "inputs:\n" + out;
}

std::set<int> observed_components(const ObservationRecord& o) {
  return std::set<int>(o.is_data_exist.begin(), o.is_data_exist.end());
}

std::string observables_section(const ObservationRecord& o) {
  std::string out;
  for (const int c : observed_components(o)) {
    out += "  " + state_name(c) + ": {states: {" + state_name(c) + ": 1}}\n";
  }
  return out.empty() ? "observables: {}\n" : "observables:\n" + out;
}

std::string experiment_section(const ProblemRecord& p) {
  std::string out = "experiments:\n  - id: legacy\n    x0: {";
  for (int i = 0; i < p.dim; ++i) {
    out += (i > 0 ? ", " : "") + state_name(i) + ": " + num(p.init_val[i]);
  }
  return out + "}\n";
}

}  // namespace

ConvertedProblem convert_legacy(const ProblemRecord& problem,
                                const ObservationRecord& observations,
                                const std::string& data_name) {
  const int n = problem.dim;
  const std::vector<EntryPlan> plan = plan_entries(problem);
  ConvertedProblem out;
  out.problem =
      "# Converted from the legacy input files. The descent settings epsilon " +
      num(problem.epsilon) + ", T " + num(problem.T) + " and opt_par " +
      num(problem.opt_par) + " have no counterpart here.\n";
  out.problem += "states: [";
  for (int i = 0; i < n; ++i)
    out.problem += (i > 0 ? ", " : "") + state_name(i);
  out.problem += "]\n";
  out.problem += parameters_section(plan, n);
  out.problem += matrix_section(plan, n);
  out.problem += inputs_section(problem);
  out.problem += observables_section(observations);
  out.problem += experiment_section(problem);
  out.problem += "data: " + data_name + "\n";

  out.data = "observable,time,measurement\n";
  for (int k = 0; k < observations.data_num; ++k) {
    const std::string name = state_name(observations.is_data_exist[k]);
    for (int q = 1; q < observations.points(); ++q) {
      out.data += name + "," + num(observations.data_time[k][q]) + "," +
                  num(observations.add_data[k][q]) + "\n";
    }
  }
  return out;
}

}  // namespace identify
