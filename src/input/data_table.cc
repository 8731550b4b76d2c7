// Reading a data table into a ProblemBuilder. The header decides the form
// and gives every column a role; each later record is then checked field by
// field (experiment, observable, time, value, sigma) and handed to the
// builder, whose own refusals are placed at the field they concern.
#include "input/data_table.h"

#include <optional>
#include <string>
#include <vector>

#include "input/csv_reader.h"
#include "input/table_fields.h"

namespace identify {

namespace {

enum class Role {
  kExperiment,
  kObservable,
  kTime,
  kMeasurement,
  kSigma,
  kWide
};

struct Column {
  Role role = Role::kWide;
  int observable = -1;  // kWide: the observable it holds
};

// Role of a column named `name` in the long form, if it has one.
std::optional<Role> named_role(std::string_view name) {
  if (name == "experiment" || name == "simulationConditionId") {
    return Role::kExperiment;
  }
  if (name == "observable" || name == "observableId") return Role::kObservable;
  if (name == "time") return Role::kTime;
  if (name == "measurement") return Role::kMeasurement;
  if (name == "sigma" || name == "noiseParameters") return Role::kSigma;
  return std::nullopt;
}

const char* role_name(Role role) {
  switch (role) {
    case Role::kExperiment:
      return "experiment";
    case Role::kObservable:
      return "observable";
    case Role::kTime:
      return "time";
    case Role::kMeasurement:
      return "measurement";
    case Role::kSigma:
      return "sigma";
    case Role::kWide:
      break;
  }
  return "observable";
}

class TableReader {
 public:
  TableReader(const TextFile& file, ProblemBuilder& builder)
      : file_(file), builder_(builder) {}

  DataTableSummary run() {
    read_csv(file_, table_delimiter(file_),
             [this](const CsvRecord& record) { take(record); });
    if (!have_header_) {
      throw input_error(file_.end(), "a header row", "end of file");
    }
    return summary_;
  }

 private:
  void take(const CsvRecord& record) {
    bool blank = true;
    for (const CsvField& f : record.fields)
      blank &= f.text.empty() && !f.quoted;
    if (blank) return;
    if (!have_header_) {
      read_header(record);
      have_header_ = true;
      return;
    }
    read_row(record);
  }

  [[noreturn]] void fail(std::size_t offset, const std::string& expected,
                         const std::string& found) const {
    throw input_error(file_.pos(offset), expected, found);
  }

  void read_header(const CsvRecord& header) {
    bool long_form = false;
    for (const CsvField& f : header.fields) {
      const auto role = named_role(f.text);
      long_form |= role == Role::kObservable || role == Role::kMeasurement ||
                   role == Role::kSigma;
    }
    for (const CsvField& f : header.fields) add_column(f, long_form);
    std::vector<Role> required = {Role::kTime};
    if (long_form)
      required = {Role::kObservable, Role::kTime, Role::kMeasurement};
    for (const Role role : required) {
      if (!has(role)) {
        fail(header.fields.front().offset,
             std::string("a column \"") + role_name(role) + "\"", "none");
      }
    }
    const std::vector<std::string> ids = builder_.experiment_ids();
    if (!has(Role::kExperiment) && ids.size() != 1) {
      fail(header.fields.front().offset,
           "a column \"experiment\" (the problem has " +
               std::to_string(ids.size()) + " experiments)",
           "none");
    }
    if (ids.size() == 1) single_experiment_ = 0;
  }

  void add_column(const CsvField& f, bool long_form) {
    const auto role = named_role(f.text);
    Column column;
    if (role &&
        (long_form || *role == Role::kExperiment || *role == Role::kTime)) {
      column.role = *role;
      if (has(*role)) {
        fail(f.offset, std::string("one column for ") + role_name(*role),
             "a second one " + quote_text(f.text));
      }
    } else if (long_form) {
      fail(f.offset,
           "a column experiment, observable, time, measurement or sigma",
           found_field(f));
    } else {
      column.observable = builder_.observable_index(f.text);
      if (column.observable < 0) {
        fail(f.offset,
             "a column time, experiment or an observable (" +
                 short_name_list(builder_.observables()) + ")",
             found_field(f));
      }
      for (const Column& c : columns_) {
        if (c.observable == column.observable) {
          fail(f.offset, "one column for each observable",
               "a second one " + quote_text(f.text));
        }
      }
    }
    columns_.push_back(column);
  }

  bool has(Role role) const {
    for (const Column& c : columns_) {
      if (c.role == role) return true;
    }
    return false;
  }

  void read_row(const CsvRecord& row) {
    const std::size_t want = columns_.size();
    if (row.fields.size() != want) {
      const std::size_t at =
          row.fields.size() > want ? row.fields[want].offset : row.end;
      fail(at, std::to_string(want) + " fields as in the header",
           std::to_string(row.fields.size()));
    }
    int experiment = single_experiment_;
    int observable = -1;
    double time = 0.0;
    std::optional<double> sigma;
    for (std::size_t k = 0; k < want; ++k) {
      const CsvField& f = row.fields[k];
      switch (columns_[k].role) {
        case Role::kExperiment:
          experiment = lookup(f, builder_.experiment_index(f.text),
                              "an experiment", builder_.experiment_ids());
          break;
        case Role::kObservable:
          observable = lookup(f, builder_.observable_index(f.text),
                              "an observable", builder_.observables());
          break;
        case Role::kTime:
          time = field_nonnegative(file_, f, "a time");
          break;
        case Role::kSigma:
          if (!is_missing_value(f.text)) sigma = field_number(file_, f);
          break;
        default:
          break;
      }
    }
    for (std::size_t k = 0; k < want; ++k) {
      const Column& c = columns_[k];
      if (c.role == Role::kMeasurement) {
        add(row.fields[k], experiment, observable, time, sigma, row);
      } else if (c.role == Role::kWide) {
        add(row.fields[k], experiment, c.observable, time, std::nullopt, row);
      }
    }
  }

  int lookup(const CsvField& f, int index, const std::string& what,
             const std::vector<std::string>& known) const {
    if (index < 0) {
      fail(f.offset, what + " (" + short_name_list(known) + ")",
           found_field(f));
    }
    return index;
  }

  void add(const CsvField& f, int experiment, int observable, double time,
           std::optional<double> sigma, const CsvRecord& row) {
    if (is_missing_value(f.text)) {
      ++summary_.missing;
      return;
    }
    const double value = field_number(file_, f);
    try {
      builder_.check_measured_value(observable, value);
    } catch (const ProblemError& e) {
      throw input_error(file_.pos(f.offset), e.what());
    }
    try {
      builder_.add_measurement(experiment, observable, time, value, sigma);
    } catch (const ProblemError& e) {
      const std::size_t at = sigma ? sigma_offset(row) : f.offset;
      throw input_error(file_.pos(at), e.what());
    }
    ++summary_.measurements;
  }

  std::size_t sigma_offset(const CsvRecord& row) const {
    for (std::size_t k = 0; k < columns_.size(); ++k) {
      if (columns_[k].role == Role::kSigma) return row.fields[k].offset;
    }
    return row.fields.front().offset;
  }

  const TextFile& file_;
  ProblemBuilder& builder_;
  std::vector<Column> columns_;
  bool have_header_ = false;
  int single_experiment_ = -1;
  DataTableSummary summary_;
};

}  // namespace

DataTableSummary add_data_table(const TextFile& file, ProblemBuilder& builder) {
  return TableReader(file, builder).run();
}

}  // namespace identify
