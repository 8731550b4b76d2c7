// What a bootstrap of one fit found, and its table PROBLEM.bootstrap.tsv:
// every replicate with its resample, objective, status and estimates, and
// the percentile intervals the parameter table shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace identify {

struct BootstrapReplicate {
  std::int64_t replicate = 0;  // from 1
  // Experiment ids (by experiment) or 1-based counted measurements (by
  // residual), as drawn.
  std::vector<std::string> resample;
  double objective = 0.0;     // of the replicate's fit
  std::string status;         // "converged", "interrupted", ...
  std::vector<double> theta;  // every parameter, problem order
};

struct BootstrapReport {
  std::uint64_t seed = 1;
  double level = 0.95;
  bool by_experiment = false;                  // else by residual
  std::vector<BootstrapReplicate> replicates;  // replicate order
  // Per parameter, problem order: the percentile interval of the
  // replicates' estimates; NaN where there is none (a parameter not
  // fitted, fewer than two finite estimates).
  std::vector<double> lower, upper;
};

// One bootstrap and the experiment its fit is of ("" for the whole
// problem).
struct FitBootstrap {
  std::string experiment;
  const BootstrapReport* report = nullptr;
};

// Header [experiment,] replicate, resample, objective, status, then one
// column per name of `parameters`; the resample's items joined by ",";
// numbers with 17 significant digits. The experiment column is there when
// any fit is of one experiment.
std::string format_bootstrap_table(const std::vector<std::string>& parameters,
                                   const std::vector<FitBootstrap>& fits);

}  // namespace identify
