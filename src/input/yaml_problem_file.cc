// Reading a problem file. The sections are taken in a fixed order whatever
// their order in the file (states, parameters, matrix, inputs, observables,
// experiments, dose tables, data tables), because each one names what the
// ones before it declared. Every expression is checked at its own node
// before it reaches the ProblemBuilder, so that a fault inside it is placed
// at the offending character; the builder's other refusals are placed at
// the node they concern.
#include "input/yaml_problem_file.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#include "core/name_index.h"
#include "input/data_table.h"
#include "input/dose_table.h"
#include "input/number_syntax.h"
#include "input/table_fields.h"
#include "input/petab/petab_files.h"
#include "input/petab/petab_problem.h"
#include "input/yaml_document.h"
#include "input/yaml_random_effects.h"
#include "input/steady_state_check.h"
#include "input/yaml_event_sections.h"
#include "input/yaml_fields.h"
#include "problem/problem_builder.h"

namespace identify {

namespace {

std::string name_list(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& n : names) list += (list.empty() ? "" : ", ") + n;
  return list;
}

enum class TableKind { kData, kDoses, kEvents };

YamlEntry item_entry(const char* name, const YAML::Node& item) {
  return YamlEntry{name, item, item};
}

class ProblemReader {
 public:
  ProblemReader(const YamlDocument& doc, std::string directory,
                const std::vector<TextFile>* data, EventTrace* trace = nullptr)
      : doc_(doc),
        directory_(std::move(directory)),
        data_(data),
        trace_(trace) {}

  LoadedProblem run() {
    const YamlEntry root{"problem", doc_.root(), doc_.root()};
    const std::vector<YamlEntry> top = doc_.entries(
        root,
        {"states", "parameters", "matrix", "inputs", "observables",
         "experiments", "doses", "data"},
        {"random", "individual", "covariates", "events", "ignore",
         "compartments", "dose_state", "covariate_interpolation"},
        "states, parameters, matrix, inputs, observables, experiments, "
        "doses and data");
    const auto section = [&](const char* name) -> const YamlEntry& {
      const YamlEntry* e = find_entry(top, name);
      if (e == nullptr) {
        doc_.fail(doc_.pos(root.value), std::string("a key \"") + name + "\"",
                  "none");
      }
      return *e;
    };
    read_states(section("states"));
    if (const YamlEntry* e = find_entry(top, "parameters")) read_parameters(*e);
    if (const YamlEntry* e = find_entry(top, "random")) {
      read_random_effects(doc_, *e, *builder_);
    }
    if (const YamlEntry* e = find_entry(top, "individual")) {
      read_individual_values(doc_, *e, *builder_);
    }
    if (const YamlEntry* e = find_entry(top, "covariates")) read_covariates(*e);
    if (const YamlEntry* e = find_entry(top, "matrix")) read_matrix(*e);
    if (const YamlEntry* e = find_entry(top, "inputs")) read_inputs(*e);
    read_observables(section("observables"));
    const YamlEntry* events = find_entry(top, "events");
    LoadedProblem loaded;
    if (events) {
      read_event_settings(top);
      loaded.event_files = read_tables(*events, TableKind::kEvents);
    }
    if (!events || find_entry(top, "experiments")) {
      read_experiments(section("experiments"));
    }
    if (events) add_event_records(loaded.event_files);
    if (const YamlEntry* e = find_entry(top, "doses")) {
      loaded.dose_files = read_tables(*e, TableKind::kDoses);
    }
    if (data_ != nullptr) {
      loaded.data_files = given_tables();
      const YamlEntry* e = find_entry(top, "data");
      if (e == nullptr) e = events;
      loaded.data_pos = e ? doc_.pos(*e) : SourcePos{doc_.file().name()};
    } else {
      const YamlEntry& data =
          events && !find_entry(top, "data") ? *events : section("data");
      if (&data != events) {
        loaded.data_files = read_tables(data, TableKind::kData);
      }
      loaded.data_pos = doc_.pos(data);
    }
    loaded.problem = builder_->build();
    for (const auto& source : event_tables_) {
      check_steady_records(source->file, source->table, loaded.problem);
    }
    require_positive_sigmas(loaded.problem);
    loaded.directory = directory_;
    return loaded;
  }

 private:
  // Runs `step`, placing a ProblemError from it at `at`.
  template <class Step>
  void placed(const SourcePos& at, Step step) const {
    try {
      step();
    } catch (const ProblemError& e) {
      throw input_error(at, e.what());
    }
  }

  void read_states(const YamlEntry& entry) {
    const std::vector<YAML::Node> items = doc_.items(entry, "state names");
    if (items.empty()) doc_.fail(doc_.pos(entry), "at least one state", "none");
    std::vector<std::string> names;
    for (const YAML::Node& item : items) {
      names.push_back(doc_.scalar(item_entry("state", item), "a state name"));
    }
    try {
      builder_.emplace(names);
    } catch (const ProblemError& e) {
      // The builder refuses the first bad or repeated name; place it there.
      NameIndex seen;
      std::size_t k = 0;
      while (k + 1 < names.size() && is_valid_name(names[k]) &&
             seen.add(names[k])) {
        ++k;
      }
      throw input_error(doc_.pos(items[k]), e.what());
    }
  }

  void read_parameters(const YamlEntry& entry) {
    for (const YamlEntry& p : doc_.entries(entry, {}, "parameters")) {
      const Parameter parameter = read_yaml_parameter(doc_, p);
      placed(doc_.pos(p.key), [&] { builder_->add_parameter(parameter); });
    }
  }

  // The text of an expression, checked where it stands.
  // `own`: a further name the expression may use (an observable's own id in
  // its sigma).
  std::string expression(const YamlEntry& entry,
                         std::string_view own = {}) const {
    const std::string text =
        doc_.scalar(entry, "an expression for " + entry.name);
    try {
      builder_->check_expression(text, own);
    } catch (const ExpressionError& e) {
      doc_.fail(doc_.scalar_pos(entry.value, e.offset()), e.expected(),
                e.found());
    }
    return text;
  }

  // A key that must name a state.
  void require_state(const YamlEntry& entry) const {
    if (builder_->state_index(entry.name) < 0) {
      doc_.fail(doc_.pos(entry.key),
                "a state (" + name_list(builder_->states()) + ")",
                quote_text(entry.name));
    }
  }

  void read_matrix(const YamlEntry& entry) {
    for (const YamlEntry& row : doc_.entries(entry, {}, "rows by state")) {
      require_state(row);
      for (const YamlEntry& term : doc_.entries(row, {}, "terms by state")) {
        require_state(term);
        builder_->set_entry(row.name, term.name, expression(term));
      }
    }
  }

  void read_inputs(const YamlEntry& entry) {
    for (const YamlEntry& input : doc_.entries(entry, {}, "inputs by state")) {
      require_state(input);
      const auto fields = doc_.entries(input, {"amp", "rate"}, "amp and rate");
      const YamlEntry* amp = find_entry(fields, "amp");
      if (amp == nullptr) doc_.fail(doc_.pos(input), "a key \"amp\"", "none");
      const YamlEntry* rate = find_entry(fields, "rate");
      builder_->set_source(input.name, expression(*amp),
                           rate ? expression(*rate) : "0");
    }
  }

  void read_observables(const YamlEntry& entry) {
    for (const YamlEntry& o : doc_.entries(entry, {}, "observables")) {
      const auto fields = doc_.entries(
          o, {"states", "offset", "sigma", "transformation", "distribution"},
          "states, offset, sigma, transformation and distribution");
      const YamlEntry* states = find_entry(fields, "states");
      if (states == nullptr) {
        doc_.fail(doc_.pos(o), "a key \"states\"", "none");
      }
      std::vector<std::pair<std::string, std::string>> coefficients;
      for (const YamlEntry& c :
           doc_.entries(*states, {}, "coefficients by state")) {
        require_state(c);
        coefficients.emplace_back(c.name, expression(c));
      }
      const YamlEntry* offset = find_entry(fields, "offset");
      const YamlEntry* sigma = find_entry(fields, "sigma");
      const std::string offset_text = offset ? expression(*offset) : "0";
      const std::string sigma_text = sigma ? expression(*sigma, o.name) : "1";
      const NoiseModel noise = read_noise_model(doc_, fields);
      // Left to refuse: a bad name (at the key) or a sigma not above 0.
      const SourcePos at = is_valid_name(o.name) && sigma != nullptr
                               ? doc_.pos(*sigma)
                               : doc_.pos(o.key);
      placed(at, [&] {
        builder_->add_observable(o.name, coefficients, offset_text, sigma_text,
                                 noise);
      });
      sigma_places_.push_back(sigma ? doc_.pos(*sigma) : doc_.pos(o.key));
    }
  }

  void read_experiments(const YamlEntry& entry) {
    const std::vector<YAML::Node> items = doc_.items(entry, "experiments");
    if (items.empty()) {
      doc_.fail(doc_.pos(entry), "at least one experiment", "none");
    }
    for (const YAML::Node& item : items) read_experiment(item);
  }

  void read_experiment(const YAML::Node& item) {
    const auto fields = doc_.entries(item_entry("experiment", item),
                                     {"id", "x0", "parameters", "doses", "lag"},
                                     "id, x0, parameters, doses and lag");
    const YamlEntry* id = find_entry(fields, "id");
    if (id == nullptr) doc_.fail(doc_.pos(item), "a key \"id\"", "none");
    const std::string name = doc_.scalar(*id, "an experiment id");
    int e = -1;
    if (event_tables_.empty()) {
      placed(doc_.pos(*id), [&] { e = builder_->add_experiment(name); });
    } else {
      e = builder_->experiment_index(event_experiment_id(name));
      if (e < 0) {
        doc_.fail(doc_.pos(*id),
                  "an ID of the event tables (" +
                      short_name_list(builder_->experiment_ids()) + ")",
                  quote_text(name));
      }
    }
    if (const YamlEntry* x0 = find_entry(fields, "x0")) {
      for (const YamlEntry& s : doc_.entries(*x0, {}, "initial states")) {
        require_state(s);
        builder_->set_x0(e, s.name, expression(s));
      }
    }
    if (const YamlEntry* o = find_entry(fields, "parameters")) {
      for (const YamlEntry& p : doc_.entries(*o, {}, "parameter overrides")) {
        if (event_tables_.empty() && builder_->covariate_index(p.name) >= 0) {
          // A covariate's value in this experiment: a number.
          const double value = doc_.number(p, false);
          placed(doc_.pos(p),
                 [&] { builder_->set_covariate(e, p.name, value); });
          continue;
        }
        const std::string target =
            doc_.scalar(p, "a parameter name or a number");
        const bool declared = builder_->parameter_index(p.name) >= 0;
        placed(declared ? doc_.pos(p) : doc_.pos(p.key),
               [&] { builder_->add_override(e, p.name, target); });
      }
    }
    if (const YamlEntry* doses = find_entry(fields, "doses")) {
      for (const YAML::Node& d : doc_.items(*doses, "doses")) read_dose(e, d);
    }
    if (const YamlEntry* lag = find_entry(fields, "lag")) {
      builder_->set_lag(e, expression(*lag));
      lagged_.resize(builder_->experiment_ids().size());
      lagged_[e] = true;
    }
  }

  void read_dose(int experiment, const YAML::Node& item) {
    const auto fields = doc_.entries(item_entry("dose", item),
                                     {"time", "state", "amount", "duration"},
                                     "time, state, amount and duration");
    const auto required = [&](const char* key) -> const YamlEntry& {
      const YamlEntry* f = find_entry(fields, key);
      if (f == nullptr) {
        doc_.fail(doc_.pos(item), std::string("a key \"") + key + "\"", "none");
      }
      return *f;
    };
    const YamlEntry& state = required("state");
    const std::string state_name = doc_.scalar(state, "a state");
    if (builder_->state_index(state_name) < 0) {
      doc_.fail(doc_.pos(state),
                "a state (" + name_list(builder_->states()) + ")",
                quote_text(state_name));
    }
    const std::string time = expression(required("time"));
    const std::string amount = expression(required("amount"));
    std::optional<std::string> duration;
    if (const YamlEntry* d = find_entry(fields, "duration")) {
      duration = expression(*d);
    }
    placed(doc_.pos(item), [&] {
      builder_->add_dose(
          experiment, state_name, time, amount,
          duration ? std::optional<std::string_view>(*duration) : std::nullopt);
    });
  }

  // A sigma that is an expression of parameters alone must be above 0
  // where the fit starts, at the parameters' values: there the first
  // residuals are divided by it.
  void require_positive_sigmas(const FitProblem& problem) const {
    const std::vector<double> theta = problem.values();
    std::vector<double> scratch;
    for (const Experiment& e : problem.experiments) {
      for (const Measurement& m : e.measurements) {
        if (m.sigma.is_constant()) continue;
        // One that uses the model value y (the slot past the parameters)
        // has no value before the model runs.
        const std::vector<int>& uses = m.sigma.parameters();
        if (uses.back() == problem.model_value_slot()) continue;
        const double sigma = m.sigma.value(theta, scratch);
        if (sigma > 0.0 && std::isfinite(sigma)) continue;
        doc_.fail(sigma_places_[m.observable],
                  "a sigma above 0 at the parameters' values",
                  shortest_text(sigma) + " in experiment " + e.id);
      }
    }
  }

  // The data tables given in place of the `data` entry's.
  std::vector<TableRead> given_tables() {
    std::vector<TableRead> read;
    for (const TextFile& file : *data_) {
      const DataTableSummary s = add_data_table(file, *builder_);
      read.push_back({file.name(), s.measurements, s.missing});
    }
    return read;
  }

  // The tables named by a file name or a list of them.
  std::vector<TableRead> read_tables(const YamlEntry& entry, TableKind kind) {
    std::vector<YamlEntry> names;
    if (entry.value.IsSequence()) {
      for (const YAML::Node& item : doc_.items(entry, "file names")) {
        names.push_back(item_entry(entry.name.c_str(), item));
      }
    } else {
      names.push_back(entry);
    }
    std::vector<TableRead> read;
    for (const YamlEntry& n : names) {
      const std::string name = doc_.scalar(n, "a file name or a list of them");
      if (name.find('\0') != std::string::npos) {
        doc_.fail(doc_.pos(n), "a file name", quote_text(name));
      }
      const std::string path = (std::filesystem::path(directory_) / name)
                                   .lexically_normal()
                                   .string();
      // A table named twice would be read twice: refuse the second naming.
      const auto [first, added] = table_places_.try_emplace(path, doc_.pos(n));
      if (!added) {
        doc_.fail(doc_.pos(n), "a table not named before",
                  quote_text(name) + ", named before at " +
                      std::to_string(first->second.line) + ":" +
                      std::to_string(first->second.column));
      }
      const TextFile file = read_text_file(path, kMaxTableBytes);
      TableRead r;
      r.path = path;
      if (kind == TableKind::kData) {
        const DataTableSummary s = add_data_table(file, *builder_);
        r.rows_used = s.measurements;
        r.missing = s.missing;
      } else if (kind == TableKind::kDoses) {
        r.rows_used = add_dose_table(file, *builder_);
      } else {
        event_tables_.push_back(
            std::make_unique<EventSource>(file, event_columns_));
        add_event_experiments(file, event_tables_.back()->table, *builder_);
      }
      read.push_back(r);
    }
    return read;
  }

  void read_covariates(const YamlEntry& entry) {
    for (const YAML::Node& item : doc_.items(entry, "covariate names")) {
      const std::string name =
          doc_.scalar(item_entry("covariate", item), "a covariate name");
      placed(doc_.pos(item), [&] { builder_->add_covariate(name); });
      event_columns_.covariates.push_back(name);
    }
  }

  void read_event_settings(const std::vector<YamlEntry>& top) {
    read_event_sections(doc_, top, *builder_, event_columns_, event_settings_);
  }

  void add_event_records(std::vector<TableRead>& read) {
    lagged_.resize(builder_->experiment_ids().size());
    for (std::size_t k = 0; k < event_tables_.size(); ++k) {
      const EventSource& source = *event_tables_[k];
      const EventSummary s =
          add_events(source.file, source.table, event_settings_, lagged_,
                     *builder_, trace_);
      read[k].rows_used = s.measurements;
    }
  }

  const YamlDocument& doc_;
  std::string directory_;
  const std::vector<TextFile>* data_;  // null: the `data` entry's tables
  EventTrace* trace_;                  // may be null
  std::vector<std::unique_ptr<EventSource>> event_tables_;
  EventColumnNames event_columns_;
  EventSettings event_settings_;
  std::vector<bool> lagged_;  // by experiment
  std::optional<ProblemBuilder> builder_;
  std::map<std::string, SourcePos> table_places_;  // every table, by path
  std::vector<SourcePos> sigma_places_;            // of each observable's sigma
};

}  // namespace

LoadedProblem read_yaml_problem(const std::string& path) {
  const TextFile file = read_text_file(path, kMaxProblemFileBytes);
  return read_yaml_problem_text(
      file, std::filesystem::path(path).parent_path().string(), nullptr);
}

LoadedProblem read_yaml_problem_traced(const std::string& path,
                                       EventTrace& trace) {
  const TextFile file = read_text_file(path, kMaxProblemFileBytes);
  const YamlDocument doc(file);
  return ProblemReader(doc, std::filesystem::path(path).parent_path().string(),
                       nullptr, &trace)
      .run();
}

LoadedProblem read_yaml_problem_text(const TextFile& file,
                                     const std::string& directory,
                                     const std::vector<TextFile>* data) {
  const YamlDocument doc(file);
  if (is_petab_document(doc)) return read_petab_problem(doc, directory);
  return ProblemReader(doc, directory, data).run();
}

void require_measurements(const LoadedProblem& loaded) {
  std::vector<TableRead> tables = loaded.data_files;
  tables.insert(tables.end(), loaded.event_files.begin(),
                loaded.event_files.end());
  if (tables.empty()) {
    throw input_error(loaded.data_pos, "at least one data table", "none");
  }
  std::string names;
  std::size_t missing = 0;
  for (std::size_t k = 0; k < tables.size(); ++k) {
    if (tables[k].rows_used > 0) return;
    missing += tables[k].missing;
    if (k > 0) names += k + 1 == tables.size() ? " and " : ", ";
    names += tables[k].path;
  }
  throw input_error(
      loaded.data_pos, "at least one measurement in " + names,
      missing == 0 ? std::string("none")
                   : "none (" + std::to_string(missing) + " missing values)");
}

}  // namespace identify
