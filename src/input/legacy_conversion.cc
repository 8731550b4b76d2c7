// The legacy conversion. The entries of A are the legacy rules' parameters
// (legacy_entry_parameters): fixed at a value, bounded, or free; the
// observables are the observed components (legacy_observed_components).
// The problem file is written section by section in the order a person
// would read it, and the data table row by row.
#include "input/legacy_conversion.h"

#include <cstdio>
#include <limits>

#include "core/exact_number.h"
#include "input/legacy_problem.h"

namespace identify {

namespace {

std::string num(double v) { return exact_number(v); }

// An entry not estimated, or held by a one-point interval, is a number in
// the matrix; the others are parameters.
bool fixed(const Parameter& p) { return !p.estimated || p.lower == p.upper; }

bool bounded(const Parameter& p) {
  return p.lower != -std::numeric_limits<double>::infinity() ||
         p.upper != std::numeric_limits<double>::infinity();
}

std::string parameters_section(const std::vector<Parameter>& entries) {
  std::string out = "parameters:\n";
  bool any = false;
  for (const Parameter& p : entries) {
    if (fixed(p)) continue;
    any = true;
    out += "  " + p.name + ": {";
    if (bounded(p)) {
      out += "lower: " + num(p.lower) + ", upper: " + num(p.upper) + ", ";
    }
    out += "value: " + num(p.value) + "}\n";
  }
  return any ? out : "parameters: {}\n";
}

std::string matrix_section(const std::vector<Parameter>& entries, int n) {
  std::string out = "matrix:\n";
  for (int i = 0; i < n; ++i) {
    out += "  " + legacy_state_name(i) + ": {";
    for (int j = 0; j < n; ++j) {
      const Parameter& p = entries[static_cast<std::size_t>(i) * n + j];
      out += (j > 0 ? ", " : "") + legacy_state_name(j) + ": " +
             (fixed(p) ? num(p.value) : p.name);
    }
    out += "}\n";
  }
  return out;
}

std::string inputs_section(const ProblemRecord& p) {
  std::string out;
  for (int i = 0; i < p.dim; ++i) {
    if (p.exp_coef[i] == 0.0 && p.exp_par[i] == 0.0) continue;
    out += "  " + legacy_state_name(i) + ": {amp: " + num(p.exp_coef[i]) +
           ", rate: " + num(p.exp_par[i]) + "}\n";
  }
  return out.empty() ? "" : "inputs:\n" + out;
}

std::string observables_section(const ObservationRecord& o) {
  std::string out;
  for (const int c : legacy_observed_components(o)) {
    out += "  " + legacy_state_name(c) + ": {states: {" + legacy_state_name(c) +
           ": 1}}\n";
  }
  return out.empty() ? "observables: {}\n" : "observables:\n" + out;
}

std::string experiment_section(const ProblemRecord& p) {
  std::string out = "experiments:\n  - id: legacy\n    x0: {";
  for (int i = 0; i < p.dim; ++i) {
    out +=
        (i > 0 ? ", " : "") + legacy_state_name(i) + ": " + num(p.init_val[i]);
  }
  return out + "}\n";
}

}  // namespace

ConvertedProblem convert_legacy(const ProblemRecord& problem,
                                const ObservationRecord& observations,
                                const std::string& data_name) {
  const int n = problem.dim;
  const std::vector<Parameter> entries = legacy_entry_parameters(problem);
  ConvertedProblem out;
  out.problem =
      "# Converted from the legacy input files. The descent settings epsilon " +
      num(problem.epsilon) + ", T " + num(problem.T) + " and opt_par " +
      num(problem.opt_par) + " have no counterpart here.\n";
  out.problem += "states: [";
  for (int i = 0; i < n; ++i)
    out.problem += (i > 0 ? ", " : "") + legacy_state_name(i);
  out.problem += "]\n";
  out.problem += parameters_section(entries);
  out.problem += matrix_section(entries, n);
  out.problem += inputs_section(problem);
  out.problem += observables_section(observations);
  out.problem += experiment_section(problem);
  out.problem += "data: " + data_name + "\n";

  out.data = "observable,time,measurement\n";
  for (int k = 0; k < observations.data_num; ++k) {
    const std::string name = legacy_state_name(observations.is_data_exist[k]);
    for (int q = 1; q < observations.points(); ++q) {
      out.data += name + "," + num(observations.data_time[k][q]) + "," +
                  num(observations.add_data[k][q]) + "\n";
    }
  }
  return out;
}

}  // namespace identify
