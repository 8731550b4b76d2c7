// Converting an event-table problem. The problem is read as for a fit, with
// a trace of what each record became; the tables are that trace written
// row by row, and the problem file is the original YAML tree with its event
// sections replaced by `experiments`, `data` and `doses`.
#include "input/event_conversion.h"

#include <yaml-cpp/yaml.h>

#include <string_view>

#include "input/event_translation.h"
#include "input/number_syntax.h"
#include "input/text_file.h"
#include "input/yaml_problem_file.h"

namespace identify {

namespace {

void append_row(std::string& text, std::initializer_list<std::string> fields) {
  bool first = true;
  for (const std::string& f : fields) {
    if (!first) text += '\t';
    text += f;
    first = false;
  }
  text += '\n';
}

std::string data_table(const EventTrace& trace) {
  std::string text;
  append_row(text, {"experiment", "observable", "time", "measurement"});
  for (const EventTrace::MeasurementRow& m : trace.measurements) {
    append_row(text, {m.experiment, m.observable, shortest_text(m.time),
                      shortest_text(m.value)});
  }
  return text;
}

std::string dose_table(const EventTrace& trace) {
  if (trace.doses.empty()) return "";
  bool infusions = false;
  for (const EventTrace::DoseRow& d : trace.doses) infusions |= !!d.duration;
  std::string text = "experiment\ttime\tstate\tamount";
  text += infusions ? "\tduration\n" : "\n";
  for (const EventTrace::DoseRow& d : trace.doses) {
    text += d.experiment + '\t' + d.time + '\t' + d.state + '\t' + d.amount;
    if (infusions) text += '\t' + d.duration.value_or("NA");
    text += '\n';
  }
  return text;
}

bool is_event_section(std::string_view key) {
  return key == "events" || key == "ignore" || key == "compartments" ||
         key == "dose_state" || key == "covariate_interpolation";
}

// The converted table first, then the ones the original names under `key`.
YAML::Node table_list(const YAML::Node& root, const char* key,
                      const std::string& converted) {
  YAML::Node list(YAML::NodeType::Sequence);
  list.SetStyle(YAML::EmitterStyle::Flow);
  if (!converted.empty()) list.push_back(converted);
  const YAML::Node given = root[key];
  if (given && given.IsSequence()) {
    for (const YAML::Node& name : given) list.push_back(YAML::Clone(name));
  } else if (given && given.IsScalar()) {
    list.push_back(YAML::Clone(given));
  }
  return list;
}

// One experiment per ID: the original's entry for it, if any, with the
// ID's covariate values added to its parameters.
YAML::Node experiments(const YAML::Node& root, const FitProblem& problem,
                       const std::vector<std::string>& covariate_names,
                       const EventTrace& trace) {
  YAML::Node list(YAML::NodeType::Sequence);
  for (const Experiment& e : problem.experiments) {
    YAML::Node entry(YAML::NodeType::Map);
    if (const YAML::Node given = root["experiments"]) {
      for (const YAML::Node& item : given) {
        if (event_experiment_id(item["id"].Scalar()) == e.id) {
          entry = YAML::Clone(item);
        }
      }
    }
    entry["id"] = e.id;
    for (const EventTrace::CovariateValues& c : trace.covariates) {
      if (c.experiment != e.id) continue;
      for (std::size_t k = 0; k < c.values.size(); ++k) {
        entry["parameters"][covariate_names[k]] = shortest_text(c.values[k]);
      }
    }
    entry.SetStyle(YAML::EmitterStyle::Flow);
    list.push_back(entry);
  }
  return list;
}

std::vector<std::string> declared_covariates(const YAML::Node& root) {
  std::vector<std::string> names;
  if (const YAML::Node list = root["covariates"]) {
    for (const YAML::Node& n : list) names.push_back(n.Scalar());
  }
  return names;
}

std::string problem_text(const std::string& path, const YAML::Node& root,
                         const FitProblem& problem, const EventTrace& trace,
                         const std::string& data_name,
                         const std::string& dose_name) {
  YAML::Emitter out;
  out << YAML::Comment("The problem of " + path +
                       " with its event tables as data and dose tables");
  out << YAML::Newline << YAML::BeginMap;
  for (const auto& entry : root) {
    const std::string key = entry.first.Scalar();
    if (is_event_section(key) || key == "experiments" || key == "data" ||
        key == "doses") {
      continue;
    }
    out << YAML::Key << key << YAML::Value << entry.second;
  }
  out << YAML::Key << "experiments" << YAML::Value
      << experiments(root, problem, declared_covariates(root), trace);
  out << YAML::Key << "data" << YAML::Value
      << table_list(root, "data", data_name);
  const YAML::Node doses =
      table_list(root, "doses", trace.doses.empty() ? "" : dose_name);
  if (doses.size() > 0) out << YAML::Key << "doses" << YAML::Value << doses;
  out << YAML::EndMap;
  return std::string(out.c_str()) + "\n";
}

}  // namespace

ConvertedEvents convert_event_problem(const std::string& path,
                                      const std::string& data_name,
                                      const std::string& dose_name) {
  EventTrace trace;
  const LoadedProblem loaded = read_yaml_problem_traced(path, trace);
  if (loaded.event_files.empty()) {
    throw input_error(SourcePos{path, 1, 1},
                      "a problem file with event tables (events:) to convert",
                      "none");
  }
  if (trace.refused_at) {
    throw input_error(*trace.refused_at, "cannot convert: " + trace.refusal);
  }
  const TextFile file = read_text_file(path, kMaxProblemFileBytes);
  const YAML::Node root = YAML::Load(std::string(file.text()));
  ConvertedEvents converted;
  converted.data_table = data_table(trace);
  converted.dose_table = dose_table(trace);
  converted.problem =
      problem_text(path, root, loaded.problem, trace, data_name, dose_name);
  converted.experiments = loaded.problem.experiments.size();
  converted.measurements = trace.measurements.size();
  converted.doses = trace.doses.size();
  for (const auto* files :
       {&loaded.event_files, &loaded.data_files, &loaded.dose_files}) {
    for (const TableRead& t : *files) converted.tables.push_back(t.path);
  }
  return converted;
}

}  // namespace identify
