// Assembling a PEtab problem. The model comes first (its states name the
// problem's states), then the parameters: the parameter table's, then the
// model's other parameters and compartment sizes as fixed ones, so that
// every name a formula may use is declared before the formulas are read.
// The measurement table is then read row by row: each new pair of
// conditions makes an experiment, each new observable parameter list an
// observable, and each row a measurement of them. Pre-equilibration
// conditions are bound as experiments of their own after the real ones,
// and after building they move into the experiments they start.
#include "input/petab/petab_problem.h"

#include <cmath>
#include <map>
#include <memory>
#include <set>

#include "input/petab/linear_form.h"
#include "input/petab/petab_files.h"
#include "input/petab/petab_formula.h"
#include "input/petab/petab_parameters.h"
#include "input/petab/petab_table.h"
#include "input/petab/sbml_model.h"
#include "problem/problem_builder.h"

namespace identify {
namespace {

struct CellRef {
  const PetabTable* table = nullptr;
  std::size_t row = 0;
};

class PetabReader {
 public:
  explicit PetabReader(PetabFiles files) : files_(std::move(files)) {}

  LoadedProblem run() {
    const PetabTable& parameters = table(files_.parameters);
    for (const std::string& f : files_.conditions)
      index_rows(f, "conditionId", conditions_);
    std::set<std::string> declared;
    for (std::size_t r = 0; r < parameters.rows(); ++r) {
      declared.insert(
          parameters.cell(r, parameters.require("parameterId")).text);
    }
    for (const auto& [id, ref] : conditions_) {
      static_cast<void>(id);
      for (const std::string& column : ref.table->columns())
        declared.insert(column);
    }
    model_name_ = petab_path(files_, files_.model);
    model_ = read_sbml_model(model_name_, model_name_, declared);
    try {
      builder_.emplace(model_.states);
    } catch (const ProblemError& e) {
      throw InputError(model_name_ + ": " + e.what());
    }
    declare_parameters(parameters, declared);
    declare_dynamics();
    for (const std::string& f : files_.observables)
      index_rows(f, "observableId", observables_);
    LoadedProblem out;
    out.directory = files_.directory;
    out.data_pos = files_.measurements_pos;
    for (const std::string& f : files_.measurements) read_measurements(f, out);
    add_pre_equilibrations();
    finish(out);
    return out;
  }

 private:
  const PetabTable& table(const std::string& name) {
    const std::string path = petab_path(files_, name);
    tables_.push_back(std::make_unique<PetabTable>(path, path));
    return *tables_.back();
  }

  // The parameter table's parameters, then the model's parameters and
  // compartments that a condition overrides, fixed at their model values
  // (the model's other constants stand in its formulas as numbers).
  void declare_parameters(const PetabTable& parameters,
                          const std::set<std::string>& declared) {
    const std::vector<std::string> named =
        declare_petab_parameters(parameters, *builder_);
    const std::set<std::string> in_table(named.begin(), named.end());
    for (const auto& [name, value] : model_.constants) {
      if (in_table.count(name) > 0 || declared.count(name) == 0 ||
          std::isnan(value)) {
        continue;
      }
      Parameter p;
      p.name = name;
      p.value = value;
      p.estimated = false;
      model_failure([&] { builder_->add_parameter(p); });
    }
  }

  template <typename F>
  void model_failure(const F& f) {
    try {
      f();
    } catch (const ProblemError& e) {
      throw InputError(model_name_ + ": " + e.what());
    } catch (const ExpressionError& e) {
      throw InputError(model_name_ + ": " + e.what());
    }
  }

  void declare_dynamics() {
    const std::size_t n = model_.states.size();
    model_failure([&] {
      for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
          const std::string& a = model_.matrix[i * n + j];
          if (!a.empty())
            builder_->set_entry(static_cast<int>(i), static_cast<int>(j), a);
        }
        if (!model_.inputs[i].empty())
          builder_->set_source(model_.states[i], model_.inputs[i], "0");
      }
    });
  }

  void index_rows(const std::string& name, const char* id_column,
                  std::map<std::string, CellRef>& index) {
    const PetabTable& t = table(name);
    const std::size_t id = t.require(id_column);
    for (std::size_t r = 0; r < t.rows(); ++r) {
      if (!index.emplace(t.cell(r, id).text, CellRef{&t, r}).second) {
        t.fail(t.cell(r, id),
               std::string("an ") + id_column + " not given before");
      }
    }
  }

  // A number's text, or a declared parameter's name.
  std::string value_text(const PetabTable& t, const PetabCell& cell) const {
    if (builder_->parameter_index(cell.text) >= 0) return cell.text;
    const double v = t.number(cell);
    if (!std::isfinite(v)) t.fail(cell, "a finite number or a parameter");
    return formula_number(v);
  }

  // Applies condition `id` to builder experiment e; returns which states it
  // sets.
  std::vector<bool> apply_condition(int e, const std::string& id,
                                    const PetabTable& m, const PetabCell& at) {
    const auto found = conditions_.find(id);
    if (found == conditions_.end())
      m.fail(at, "a condition of the condition table");
    const PetabTable& t = *found->second.table;
    const std::size_t r = found->second.row;
    std::vector<bool> set(model_.states.size(), false);
    for (std::size_t c = 0; c < t.columns().size(); ++c) {
      const std::string& column = t.columns()[c];
      if (column == "conditionId" || column == "conditionName") continue;
      const PetabCell& cell = t.cell(r, c);
      const int state = builder_->state_index(column);
      if (state < 0 && builder_->parameter_index(column) < 0) {
        throw input_error(
            t.pos(PetabCell{}),
            "a column of a species, compartment or model parameter",
            "\"" + column + "\"");
      }
      if (is_petab_missing(cell.text)) continue;
      const std::string value = value_text(t, cell);
      try {
        if (state >= 0) {
          builder_->set_x0(e, column, value);
          set[state] = true;
        } else {
          builder_->add_override(e, column, value);
        }
      } catch (const ProblemError& error) {
        throw input_error(t.pos(cell), error.what());
      }
    }
    for (std::size_t i = 0; i < set.size(); ++i) {
      if (!set[i]) {
        model_failure(
            [&] { builder_->set_x0(e, model_.states[i], model_.x0[i]); });
      }
    }
    return set;
  }

  struct Placeholders {
    std::map<std::string, std::string> text;  // placeholder -> its value
  };

  void add_placeholders(const PetabTable& m, const PetabCell& cell,
                        const char* kind, const std::string& observable,
                        Placeholders& p) const {
    const std::vector<std::string> items = override_items(cell.text);
    for (std::size_t k = 0; k < items.size(); ++k) {
      const PetabCell item{items[k], cell.offset};
      p.text[kind + std::to_string(k + 1) + "_" + observable] =
          value_text(m, item);
    }
  }

  LinearForm form_of(const PetabTable& t, const PetabCell& cell,
                     const Placeholders& p) {
    const std::unique_ptr<ASTNode> ast = parse_petab_formula(t, cell);
    try {
      return linear_form(
          *ast, static_cast<int>(model_.states.size()),
          [&](const std::string& name) {
            const auto h = p.text.find(name);
            if (h != p.text.end()) return SymbolMeaning{-1, h->second};
            const int s = builder_->state_index(name);
            if (s >= 0) return SymbolMeaning{s, ""};
            if (builder_->parameter_index(name) >= 0)
              return SymbolMeaning{-1, name};
            for (const auto& [id, value] : model_.constants) {
              if (id == name && !std::isnan(value)) {
                return SymbolMeaning{-1, formula_number(value)};
              }
            }
            throw LinearFormError("\"" + name +
                                  "\" is neither a species nor a parameter");
          });
    } catch (const LinearFormError& e) {
      throw input_error(
          t.pos(cell),
          "a formula linear in the species (" + std::string(e.what()) + ")",
          "\"" + cell.text + "\"");
    }
  }

  int observable_of(const std::string& id, const std::string& parameters,
                    const Placeholders& p, const PetabTable& m,
                    const PetabCell& at) {
    const auto known = observable_index_.find(id + "\n" + parameters);
    if (known != observable_index_.end()) return known->second;
    const auto found = observables_.find(id);
    if (found == observables_.end())
      m.fail(at, "an observable of the observable table");
    const PetabTable& t = *found->second.table;
    const std::size_t r = found->second.row;
    const LinearForm f =
        form_of(t, t.cell(r, t.require("observableFormula")), p);
    std::vector<std::pair<std::string, std::string>> coefficients;
    for (std::size_t i = 0; i < f.coefficients.size(); ++i) {
      if (!f.coefficients[i].empty())
        coefficients.emplace_back(model_.states[i], f.coefficients[i]);
    }
    NoiseModel noise;
    const std::string h = t.text(r, t.find("observableTransformation"));
    if (!h.empty()) {
      const std::optional<Scale> s = parse_scale(h);
      if (!s)
        t.fail(t.cell(r, *t.find("observableTransformation")),
               "lin, log or log10");
      noise.transformation = *s;
    }
    const std::string d = t.text(r, t.find("noiseDistribution"));
    if (!d.empty()) {
      const std::optional<Distribution> dist = parse_distribution(d);
      if (!dist)
        t.fail(t.cell(r, *t.find("noiseDistribution")), "normal or laplace");
      noise.distribution = *dist;
    }
    const int count = ++variants_[id];
    const std::string name =
        count == 1 ? id : id + "__" + std::to_string(count);
    int index = 0;
    try {
      index = builder_->add_observable(name, coefficients,
                                       f.constant.empty() ? "0" : f.constant,
                                       "1", noise);
    } catch (const ProblemError& e) {
      throw input_error(t.pos(t.cell(r, 0)), e.what());
    } catch (const ExpressionError& e) {
      throw input_error(t.pos(t.cell(r, 0)), e.what());
    }
    observable_index_[id + "\n" + parameters] = index;
    noise_cells_[index] = found->second;
    return index;
  }

  std::string sigma_of(int observable, const Placeholders& p) {
    const CellRef ref = noise_cells_.at(observable);
    const PetabTable& t = *ref.table;
    const LinearForm f =
        form_of(t, t.cell(ref.row, t.require("noiseFormula")), p);
    if (f.has_state()) {
      t.fail(t.cell(ref.row, t.require("noiseFormula")),
             "a noise formula free of the species");
    }
    return f.constant.empty() ? "0" : f.constant;
  }

  int experiment_of(const PetabTable& m, std::size_t row,
                    std::optional<std::size_t> pre_column,
                    std::size_t sim_column) {
    const std::string pre = m.text(row, pre_column);
    const std::string& sim = m.cell(row, sim_column).text;
    const auto known = experiment_index_.find(pre + "\n" + sim);
    if (known != experiment_index_.end()) return known->second;
    int e = 0;
    try {
      e = builder_->add_experiment(pre.empty() ? sim : pre + "__" + sim);
    } catch (const ProblemError& error) {
      throw input_error(m.pos(m.cell(row, sim_column)), error.what());
    }
    const std::vector<bool> set =
        apply_condition(e, sim, m, m.cell(row, sim_column));
    if (!pre.empty())
      pending_pre_.push_back({e, pre, set, &m, m.cell(row, *pre_column)});
    experiment_index_[pre + "\n" + sim] = e;
    return e;
  }

  void read_measurements(const std::string& name, LoadedProblem& out) {
    const PetabTable& m = table(name);
    const std::size_t obs = m.require("observableId");
    const std::size_t sim = m.require("simulationConditionId");
    const std::size_t time = m.require("time");
    const std::size_t value = m.require("measurement");
    const std::optional<std::size_t> pre =
        m.find("preequilibrationConditionId");
    const std::optional<std::size_t> obs_par = m.find("observableParameters");
    const std::optional<std::size_t> noise_par = m.find("noiseParameters");
    if (out.rows.columns.empty()) {
      out.rows.columns = m.columns();
      out.rows.value_column = value;
    } else if (out.rows.columns != m.columns()) {
      m.fail(m.cell(0, 0), "the columns of the first measurement table");
    }
    for (std::size_t r = 0; r < m.rows(); ++r) {
      const int e = experiment_of(m, r, pre, sim);
      const std::string& id = m.cell(r, obs).text;
      Placeholders p;
      if (obs_par)
        add_placeholders(m, m.cell(r, *obs_par), "observableParameter", id, p);
      const int o = observable_of(id, m.text(r, obs_par), p, m, m.cell(r, obs));
      if (noise_par)
        add_placeholders(m, m.cell(r, *noise_par), "noiseParameter", id, p);
      const double t = m.number(m.cell(r, time));
      if (!std::isfinite(t) || t < 0.0)
        m.fail(m.cell(r, time), "a finite time of 0 or more");
      const double v = m.number(m.cell(r, value));
      try {
        builder_->add_measurement(e, o, t, v, sigma_of(o, p));
      } catch (const ProblemError& error) {
        throw input_error(m.pos(m.cell(r, value)), error.what());
      } catch (const ExpressionError& error) {
        throw input_error(m.pos(m.cell(r, value)), error.what());
      }
      std::vector<std::string>& cells = out.rows.cells.emplace_back();
      for (std::size_t c = 0; c < m.columns().size(); ++c)
        cells.push_back(m.cell(r, c).text);
      row_place_.push_back({e, count_[e]++});
    }
    out.data_files.push_back(TableRead{m.name(), m.rows(), 0});
  }

  struct PendingPre {
    int experiment;
    std::string condition;
    std::vector<bool> set;
    const PetabTable* table;
    PetabCell at;
  };

  void add_pre_equilibrations() {
    for (PendingPre& p : pending_pre_) {
      p.experiment = -1 - p.experiment;  // keeps the experiment it starts
      const int hidden =
          builder_->add_experiment("_pre" + std::to_string(hidden_.size()));
      apply_condition(hidden, p.condition, *p.table, p.at);
      hidden_.push_back(hidden);
    }
  }

  void finish(LoadedProblem& out) {
    FitProblem problem;
    try {
      problem = builder_->build();
    } catch (const ProblemError& e) {
      throw InputError(model_name_ + ": " + e.what());
    }
    for (std::size_t k = 0; k < pending_pre_.size(); ++k) {
      const Experiment& pre = problem.experiments[hidden_[k]];
      Experiment& ex = problem.experiments[-1 - pending_pre_[k].experiment];
      ex.pre_equilibration = PreEquilibration{pre.matrix, pre.x0, pre.sources,
                                              pending_pre_[k].set};
    }
    if (!hidden_.empty())
      problem.experiments.resize(static_cast<std::size_t>(hidden_.front()));
    for (const auto& [e, k] : row_place_) {
      out.rows.measurement.push_back(problem.measurement_offset(e) + k);
    }
    out.problem = std::move(problem);
  }

  PetabFiles files_;
  std::string model_name_;  // as opened, and as named in messages
  SbmlModel model_;
  std::optional<ProblemBuilder> builder_;
  std::vector<std::unique_ptr<PetabTable>> tables_;
  std::map<std::string, CellRef> observables_, conditions_;
  std::map<std::string, int> observable_index_, experiment_index_, variants_;
  std::map<int, CellRef> noise_cells_;
  std::vector<PendingPre> pending_pre_;
  std::vector<int> hidden_;
  std::map<int, std::size_t> count_;
  std::vector<std::pair<int, std::size_t>> row_place_;
};

}  // namespace

LoadedProblem read_petab_problem(const YamlDocument& doc,
                                 const std::string& directory) {
  return PetabReader(read_petab_files(doc, directory)).run();
}

}  // namespace identify
