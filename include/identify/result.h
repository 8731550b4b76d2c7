// What a fit returns: the estimates and their statistics, the starts and
// their distinct optima, the profiles, the verdict, counts and times, the
// report text, and the result tables the console program writes. The
// tables are the objects the program's TSV files are written from:
// parameters().tsv() is the text of PROBLEM.parameters.tsv.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "identify/table.h"

namespace identify {

enum class TerminationType {
  kToleranceReached,
  kOptimumReached,
  kDiverged,
  kStalled,
  kNoProgress,
  kIterationLimit,
  kLibraryFailure,
  kInterrupted,
};

struct ParameterResult {
  std::string name;
  std::string experiment;  // with separate fits; "" otherwise
  double estimate = 0.0;
  double standard_error = 0.0;  // NaN: none (fixed, or not determined)
  double lower95 = 0.0, upper95 = 0.0;
  std::string status;  // "estimated", "fixed", "at lower bound", ...
};

struct FitVerdict {
  std::string experiment;  // with separate fits; "" otherwise
  TerminationType termination = TerminationType::kToleranceReached;
  std::string message;  // the console's verdict line; "" when none
  int signal = 0;       // of kInterrupted
  bool converged = false;
};

struct Result {
  std::vector<ParameterResult> parameters;
  // The objective of the result (sum of squares, or -2 ln L when
  // `likelihood`), summed over separate fits.
  double objective = 0.0;
  bool likelihood = false;
  std::vector<FitVerdict> verdicts;  // one per fit
  bool converged = false;            // every fit converged
  int signal = 0;                    // the stop's signal; 0: none
  std::string method, model;
  std::int64_t starts = 1;
  int threads = 1;
  std::int64_t iterations = 0;
  std::int64_t model_evaluations = 0, jacobians = 0, gradients = 0;
  double seconds = 0.0;
  // The text the console program writes with --report.
  std::string report;
  // The console program's exit code for this result.
  int exit_code = 0;
  // PROBLEM.parameters.tsv, PROBLEM.fit.tsv, PROBLEM.profiles.tsv (no
  // columns without profiles), and the table of starts: start, objective,
  // iterations, optimum (its distinct optimum, 1-based; 0 none).
  ColumnTable parameter_table, fit_table, profile_table, start_table;
  // PROBLEM.bootstrap.tsv: every replicate with its resample, objective,
  // status and estimates (no columns without --bootstrap).
  ColumnTable bootstrap_table;
};

}  // namespace identify
