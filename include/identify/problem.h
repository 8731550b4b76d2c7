// A fit problem: states, parameters, the matrix of dx/dt = A x + inputs,
// initial values, observables, experiments and their measurements. Made
// from a problem file, from its YAML text, from the two legacy files, or in
// code; the data tables of a problem file may be replaced by tables held in
// memory. A Problem is immutable and cheap to copy (it shares its state);
// any number of threads may fit the same Problem at once.
#pragma once

#include <cstddef>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "identify/table.h"

namespace identify {

// A problem stated in code, with the words of the problem file.
struct ProblemSpec {
  struct Parameter {
    std::string name;
    double lower = -std::numeric_limits<double>::infinity();
    double upper = std::numeric_limits<double>::infinity();
    std::string scale = "lin";  // lin, log or log10
    std::optional<double> value;  // unset: the default start of its bounds
    bool estimate = true;
  };
  struct Entry {  // A[row][column] = expression
    std::string row, column, expression;
  };
  struct Observable {
    std::string name;
    std::vector<std::pair<std::string, std::string>> states;  // state, coef
    std::string offset = "0";
    std::string sigma = "1";
  };
  struct Experiment {
    std::string id;
    std::vector<std::pair<std::string, std::string>> x0;  // state, expr
    // Measurements of this experiment, one per index.
    std::vector<std::string> observable;
    std::vector<double> time;
    std::vector<double> measurement;
  };
  std::vector<std::string> states;
  std::vector<Parameter> parameters;
  std::vector<Entry> matrix;
  std::vector<Observable> observables;
  std::vector<Experiment> experiments;
};

struct LoadedInput;  // the library's own state of a problem

class Problem {
 public:
  // Reads the problem file at `path` and the tables it names. Throws
  // InputError.
  static Problem from_file(const std::string& path);
  // The YAML text of a problem file; its relative table names are read
  // from `directory`, and messages name the text `name`. Throws InputError.
  static Problem from_yaml(const std::string& text,
                           const std::string& directory = ".",
                           const std::string& name = "<problem>");
  // The two legacy files (input.txt and input_data.txt), posed as the
  // console program poses them: the entries of A are the parameters, fitted
  // by default with the descent on the grid model. Throws InputError.
  static Problem from_legacy(const std::string& input_path,
                             const std::string& data_path);
  // A problem stated in code. Throws InputError, placed in the problem
  // file text that `spec` reads as (named "<spec>") or in its data table
  // ("<spec data>": experiment, observable, time, measurement).
  static Problem from_spec(const ProblemSpec& spec);

  // This problem with its data tables replaced by `tables` (the columns of
  // data table files; table k is named "<data k>" in messages). Only for a
  // problem made from a problem file or its text. Throws InputError.
  Problem with_data(const std::vector<ColumnTable>& tables) const;

  // The YAML text of a problem file with its tables (empty for the legacy
  // files).
  const std::string& yaml() const;
  bool is_legacy() const;
  // The names: "problem.yaml" or the legacy input file; the result tables
  // are named after it.
  const std::string& name() const;
  std::vector<std::string> parameter_names() const;
  std::size_t measurement_count() const;

  const LoadedInput& input() const { return *input_; }

 private:
  explicit Problem(std::shared_ptr<const LoadedInput> input)
      : input_(std::move(input)) {}
  std::shared_ptr<const LoadedInput> input_;
};

}  // namespace identify
