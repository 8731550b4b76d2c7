// The ways to a Problem. A problem file and its text go through the one
// reader of problem files; tables given in memory are written as TSV text
// and read by the one reader of data tables, so every message is the
// console program's; a problem stated in code is written as problem file
// text with such a table. The legacy files go through their readers and
// the legacy rules (legacy_problem.h).
#include "identify/problem.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

#include "api/loaded_input.h"
#include "input/measurement_file.h"
#include "input/problem_file.h"
#include "input/legacy_problem.h"
#include "input/text_file.h"

#include "core/exact_number.h"

namespace identify {

namespace {

std::shared_ptr<LoadedInput> read_text(std::string name, std::string yaml,
                                       std::string directory,
                                       const std::vector<TextFile>* data) {
  auto input = std::make_shared<LoadedInput>();
  input->name = std::move(name);
  input->yaml = std::move(yaml);
  input->directory = std::move(directory);
  const TextFile file(input->name, input->yaml);
  input->loaded = read_yaml_problem_text(file, input->directory, data);
  return input;
}

// A YAML double-quoted scalar.
std::string quoted(const std::string& text) {
  std::string q = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + '"';
}

std::string number(double v) {
  if (std::isinf(v)) return v > 0 ? ".inf" : "-.inf";
  if (std::isnan(v)) return ".nan";
  return exact_number(v);
}

std::string pairs(const std::vector<std::pair<std::string, std::string>>& p) {
  std::string text = "{";
  for (std::size_t k = 0; k < p.size(); ++k) {
    text += (k > 0 ? ", " : "") + quoted(p[k].first) + ": " +
            quoted(p[k].second);
  }
  return text + "}";
}

std::string parameter_line(const ProblemSpec::Parameter& p) {
  std::string line = "  " + quoted(p.name) + ": {lower: " + number(p.lower) +
                     ", upper: " + number(p.upper) +
                     ", scale: " + quoted(p.scale);
  if (p.value) line += ", value: " + number(*p.value);
  if (!p.estimate) line += ", estimate: false";
  return line + "}\n";
}

std::string spec_yaml(const ProblemSpec& spec) {
  std::string y = "states: [";
  for (std::size_t k = 0; k < spec.states.size(); ++k) {
    y += (k > 0 ? ", " : "") + quoted(spec.states[k]);
  }
  y += "]\n";
  if (!spec.parameters.empty()) y += "parameters:\n";
  for (const ProblemSpec::Parameter& p : spec.parameters) {
    y += parameter_line(p);
  }
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> rows;
  std::vector<std::string> order;
  for (const ProblemSpec::Entry& e : spec.matrix) {
    if (!rows.contains(e.row)) order.push_back(e.row);
    rows[e.row].push_back({e.column, e.expression});
  }
  if (!order.empty()) y += "matrix:\n";
  for (const std::string& row : order) {
    y += "  " + quoted(row) + ": " + pairs(rows[row]) + "\n";
  }
  y += "observables:\n";
  for (const ProblemSpec::Observable& o : spec.observables) {
    y += "  " + quoted(o.name) + ": {states: " + pairs(o.states) +
         ", offset: " + quoted(o.offset) + ", sigma: " + quoted(o.sigma) +
         "}\n";
  }
  y += "experiments:\n";
  for (const ProblemSpec::Experiment& e : spec.experiments) {
    y += "  - {id: " + quoted(e.id) + ", x0: " + pairs(e.x0) + "}\n";
  }
  return y;
}

ColumnTable spec_data(const ProblemSpec& spec) {
  std::vector<std::string> experiment, observable;
  std::vector<double> time, measurement;
  for (const ProblemSpec::Experiment& e : spec.experiments) {
    for (std::size_t k = 0; k < e.observable.size(); ++k) {
      experiment.push_back(e.id);
      observable.push_back(e.observable[k]);
      time.push_back(k < e.time.size() ? e.time[k] : std::nan(""));
      measurement.push_back(k < e.measurement.size() ? e.measurement[k]
                                                     : std::nan(""));
    }
  }
  ColumnTable t;
  t.add("experiment", std::move(experiment))
      .add("observable", std::move(observable))
      .add("time", std::move(time))
      .add("measurement", std::move(measurement));
  return t;
}

}  // namespace

std::shared_ptr<LoadedInput> read_problem_input(const std::string& path) {
  const TextFile file = read_text_file(path, kMaxProblemFileBytes);
  return read_text(path, file.text(),
                   std::filesystem::path(path).parent_path().string(), nullptr);
}

Problem Problem::from_file(const std::string& path) {
  return Problem(read_problem_input(path));
}

Problem Problem::from_yaml(const std::string& text,
                           const std::string& directory,
                           const std::string& name) {
  return Problem(read_text(name, text, directory, nullptr));
}

Problem Problem::from_legacy(const std::string& input_path,
                             const std::string& data_path) {
  auto input = std::make_shared<LoadedInput>();
  input->legacy = true;
  input->name = input_path;
  const ProblemRecord problem =
      read_problem_file(input_path, &input->warnings);
  ObservationRecord obs = read_measurement_file(data_path, problem.dim,
                                                problem.T, &input->warnings);
  LegacyProblem legacy =
      pose_legacy_files(input_path, problem, std::move(obs));
  input->loaded.problem = std::move(legacy.problem);
  input->descent = {std::move(legacy.descent), legacy.step};
  input->epsilon = legacy.epsilon;
  return Problem(std::move(input));
}

Problem Problem::from_spec(const ProblemSpec& spec) {
  const std::vector<TextFile> data = {
      TextFile("<spec data>", spec_data(spec).tsv())};
  return Problem(read_text("<spec>", spec_yaml(spec), ".", &data));
}

Problem Problem::with_data(const std::vector<ColumnTable>& tables) const {
  if (input_->legacy) {
    throw InputError(input_->name +
                     ": expected a problem file, found the legacy files "
                     "(their data cannot be replaced)");
  }
  std::vector<TextFile> files;
  for (std::size_t k = 0; k < tables.size(); ++k) {
    std::string text;
    try {
      text = tables[k].tsv();
    } catch (const std::invalid_argument& e) {
      throw InputError("<data " + std::to_string(k + 1) + ">: " + e.what());
    }
    files.emplace_back("<data " + std::to_string(k + 1) + ">", text);
  }
  return Problem(read_text(input_->name, input_->yaml, input_->directory,
                           &files));
}

const std::string& Problem::yaml() const { return input_->yaml; }
bool Problem::is_legacy() const { return input_->legacy; }
const std::string& Problem::name() const { return input_->name; }

std::vector<std::string> Problem::parameter_names() const {
  std::vector<std::string> names;
  for (const Parameter& p : input_->loaded.problem.parameters) {
    names.push_back(p.name);
  }
  return names;
}

std::size_t Problem::measurement_count() const {
  return input_->loaded.problem.counted_measurement_count();
}

}  // namespace identify
