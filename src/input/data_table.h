// The data table: measurements of a problem's observables, one CSV or TSV
// file (delimiter by extension, else by the header), a header row, then one
// record per row.
//
// Long form: columns `experiment`, `observable`, `time`, `measurement` and
// optionally `sigma`, one measurement per row; the names
// `simulationConditionId`, `observableId` and `noiseParameters` are accepted
// for experiment, observable and sigma. A table with any of observable,
// measurement or sigma is in long form.
// Wide form: a `time` column, an optional `experiment` column and one column
// per observable, named as the observable; each row holds the measurements
// of one experiment at one time.
// In either form the experiment column may be left out when the problem has
// one experiment. Times are >= 0 and finite. An empty field, `NA`, `NaN` or
// `.` in a measurement column is a missing value: skipped and counted; in
// the sigma column it means the observable's own sigma. A record whose
// fields are all empty is skipped (spreadsheets write such rows).
#pragma once

#include <cstddef>

#include "input/text_file.h"
#include "problem/problem_builder.h"

namespace identify {

struct DataTableSummary {
  std::size_t measurements = 0;  // added to the builder
  std::size_t missing = 0;       // missing values skipped
};

// Adds the measurements of `file`, in row order, to `builder`, whose
// experiments and observables are all declared already. Throws InputError
// naming the place of the first fault, e.g.
//   "d.csv:4:12: expected a number with a decimal point, found \"0,74\""
//   "d.csv:5:1: expected an experiment (s1, s2), found \"s3\""
//   "d.csv:6:7: expected a time of 0 or more, found \"-1\""
// (every message is listed in the README, section "Problem files").
DataTableSummary add_data_table(const TextFile& file, ProblemBuilder& builder);

}  // namespace identify
