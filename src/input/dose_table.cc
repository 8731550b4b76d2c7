// Reading a dose table into a ProblemBuilder: the header names the columns,
// each record is checked field by field and becomes one bolus or infusion;
// the builder's refusals (a negative amount, a duration of 0) are placed at
// the field they concern.
#include "input/dose_table.h"

#include <array>
#include <optional>
#include <string>

#include "input/csv_reader.h"
#include "input/table_fields.h"

namespace identify {

namespace {

constexpr std::array<std::string_view, 5> kColumns = {
    "experiment", "time", "state", "amount", "duration"};
enum Column { kExperiment, kTime, kState, kAmount, kDuration };

class DoseReader {
 public:
  DoseReader(const TextFile& file, ProblemBuilder& builder)
      : file_(file), builder_(builder) {}

  std::size_t run() {
    read_csv(file_, table_delimiter(file_),
             [this](const CsvRecord& record) { take(record); });
    if (columns_.empty()) {
      throw input_error(file_.end(), "a header row", "end of file");
    }
    return doses_;
  }

 private:
  void take(const CsvRecord& record) {
    bool blank = true;
    for (const CsvField& f : record.fields)
      blank &= f.text.empty() && !f.quoted;
    if (blank) return;
    if (columns_.empty()) {
      read_header(record);
    } else {
      read_row(record);
    }
  }

  [[noreturn]] void fail(std::size_t offset, const std::string& expected,
                         const std::string& found) const {
    throw input_error(file_.pos(offset), expected, found);
  }

  void read_header(const CsvRecord& header) {
    for (const CsvField& f : header.fields) {
      int column = -1;
      for (std::size_t k = 0; k < kColumns.size(); ++k) {
        if (kColumns[k] == f.text) column = static_cast<int>(k);
      }
      if (column < 0) {
        fail(f.offset, "a column experiment, time, state, amount or duration",
             found_field(f));
      }
      if (where_[column] >= 0) {
        fail(f.offset, "a column not named before", quote_text(f.text));
      }
      where_[column] = static_cast<int>(columns_.size());
      columns_.push_back(column);
    }
    const std::size_t at = header.fields.front().offset;
    for (const Column c : {kTime, kState, kAmount}) {
      if (where_[c] < 0) {
        fail(at, "a column \"" + std::string(kColumns[c]) + "\"", "none");
      }
    }
    const std::size_t experiments = builder_.experiment_ids().size();
    if (where_[kExperiment] < 0 && experiments != 1) {
      fail(at,
           "a column \"experiment\" (the problem has " +
               std::to_string(experiments) + " experiments)",
           "none");
    }
  }

  void read_row(const CsvRecord& row) {
    if (row.fields.size() != columns_.size()) {
      const std::size_t at = row.fields.size() > columns_.size()
                                 ? row.fields[columns_.size()].offset
                                 : row.end;
      fail(at, std::to_string(columns_.size()) + " fields as in the header",
           std::to_string(row.fields.size()));
    }
    const auto field = [&](Column c) -> const CsvField& {
      return row.fields[static_cast<std::size_t>(where_[c])];
    };
    int experiment = 0;
    if (where_[kExperiment] >= 0) {
      const CsvField& f = field(kExperiment);
      experiment = builder_.experiment_index(f.text);
      if (experiment < 0) {
        fail(f.offset,
             "an experiment (" + short_name_list(builder_.experiment_ids()) +
                 ")",
             found_field(f));
      }
    }
    const CsvField& state = field(kState);
    if (builder_.state_index(state.text) < 0) {
      fail(state.offset, "a state (" + short_name_list(builder_.states()) + ")",
           found_field(state));
    }
    field_nonnegative(file_, field(kTime), "a dose time");
    const CsvField& amount = field(kAmount);
    field_nonnegative(file_, amount, "a dose amount");
    std::optional<std::string_view> duration;
    std::size_t at = amount.offset;
    if (where_[kDuration] >= 0 && !is_missing_value(field(kDuration).text)) {
      field_number(file_, field(kDuration));
      duration = field(kDuration).text;
      at = field(kDuration).offset;
    }
    try {
      builder_.add_dose(experiment, state.text, field(kTime).text, amount.text,
                        duration);
    } catch (const ProblemError& e) {
      throw input_error(file_.pos(at), e.what());
    }
    ++doses_;
  }

  const TextFile& file_;
  ProblemBuilder& builder_;
  std::vector<int> columns_;  // role of each column
  std::array<int, kColumns.size()> where_ = {-1, -1, -1, -1, -1};
  std::size_t doses_ = 0;
};

}  // namespace

std::size_t add_dose_table(const TextFile& file, ProblemBuilder& builder) {
  return DoseReader(file, builder).run();
}

}  // namespace identify
