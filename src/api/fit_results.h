// What the outputs of a run are made from: the statistics of every fit at
// its result with the views the result tables take of them, and the report
// text of a problem file run.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "api/fit_plan.h"
#include "api/problem_fits.h"
#include "fit/fit_statistics.h"
#include "fit/objective.h"
#include "input/yaml_problem_file.h"
#include "output/result_tables.h"

namespace identify {

// The run as the report describes it.
struct ProblemRunInfo {
  const LoadedProblem* loaded = nullptr;
  RunChoice choice;
  double seconds = 0.0;  // wall time of the run so far
  int threads = 1;       // the fits ran on (each, when one after another)
  bool one_after_another = false;  // several fits, each searching
};

// The statistics of every fit (intervals cut at the bounds), its
// evaluation at the result, and the views the tables take of them; `views`
// points into `stats`, into `at` and into the fits.
struct ResultViews {
  std::vector<FitStatistics> stats;
  std::vector<std::unique_ptr<Objective>> at;
  std::vector<FitResultView> views;
};

ResultViews results_of(std::vector<ProblemFit>& fits);

// PROBLEM.bootstrap.tsv of the fits that were bootstrapped
// (format_bootstrap_table, a column per parameter of the problem); "" when
// none was.
std::string bootstrap_table_text(const std::vector<ProblemFit>& fits);

// The text of --report for the fits of the problem file `problem_file`.
std::string report_text(const std::string& problem_file,
                        const ProblemRunInfo& info,
                        const std::vector<ProblemFit>& fits,
                        const ResultViews& results);

}  // namespace identify
