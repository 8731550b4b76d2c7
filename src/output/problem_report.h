// The fit report of a problem file run: the run (problem file, method,
// model, time), the data tables read with their missing values, and for
// the fit of the whole problem, or with --separately for each experiment's
// fit in experiment order, why it stopped, the residuals (chi-square when
// the measurements carry their own sigma), every parameter with its status,
// standard error and 95% interval in its own units, and the combinations of
// parameters the data cannot resolve.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "output/result_tables.h"

namespace identify {

struct ProblemReport {
  std::string problem_file;
  std::string method;  // "lm", "lbfgsb"
  std::string model;   // "exact", "grid"
  double seconds = 0.0;
  int threads = 1;  // that the fits ran on (each, one after another)
  bool one_after_another = false;  // several fits, each on `threads`
  struct Table {
    std::string path;
    std::size_t measurements = 0;
    std::size_t missing = 0;
  };
  std::vector<Table> tables;
  struct Fit {
    const FitResultView* view = nullptr;
    std::string stop;  // why the fit stopped (stop_text)
    std::int64_t iterations = 0;
    // The sections on its starts and profiles, after its own; may be "".
    std::string search_sections;
  };
  std::vector<Fit> fits;
};

// The report text. Numbers in %g with six significant digits; an interval
// cut at a bound has a "*" at that end, explained below the table.
std::string format_problem_report(const ProblemReport& report);

}  // namespace identify
