// What the fit stages need to know of a run, worked out once from the
// options of whichever front end: the model, method and starts, the seed,
// the worker threads, and whether and which profiles are wanted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fit/method.h"
#include "model/model_kind.h"
#include "fit/multistart/optima.h"
#include "output/bootstrap_table.h"
#include "output/profile_side_rows.h"
#include "problem/fit_problem.h"

namespace identify {

// The model, method and number of starts of a run.
struct RunChoice {
  ModelKind model = ModelKind::kGrid;
  Method method = Method::kDescent;
  std::int64_t starts = 1;
};

// Starts of a problem file run without --starts: enough to meet the mirror
// optimum of a two-rate model most of the time, at the cost of a few
// milliseconds with the exact model.
inline constexpr std::int64_t kProblemFileStarts = 20;

// The defaults of an input: for the legacy files the grid model, the
// descent and one start, the original program; for a problem file the
// exact model, lm and kProblemFileStarts starts. The one place where
// defaults are chosen.
RunChoice input_defaults(bool legacy_files);

// Least squares cannot take a Laplace density: of a problem with one,
// lbfgsb fits it unless a method was named (`method_named`), and a named
// lm is refused: the message, or "" when `choice` stands.
std::string density_rule(const FitProblem& problem, bool method_named,
                         RunChoice& choice);

// The share of a run's independent work that one shard of it does: shard
// `index` (from 0) of `count`. `splits_replicates`: the shard's units are
// the bootstrap replicates, replicate r its when (r − 1) mod count ==
// index; `splits_starts`: the starts, start i (from 0) its when i mod count
// == index; `splits_sides`: the sides of the profiles, side task t (2q
// the lower and 2q + 1 the upper side of the q-th parameter profiled) its
// when t mod count == index; otherwise a shard's units are the experiments
// of a fit each on its own, and the fits are chosen before the run
// (shard_plan.h).
struct ShardPart {
  std::int64_t index = 0;
  std::int64_t count = 1;
  bool splits_replicates = false;
  bool splits_starts = false;
  bool splits_sides = false;
};

struct FitPlan {
  RunChoice choice;
  std::uint64_t seed = 1;
  int threads = 1;  // worker threads of the starts and profiles, at least 1
  bool verbose = false;  // every start's progress lines
  bool profile = false;  // profiles are wanted (intervals or points)
  std::vector<std::string> profile_names;  // empty: every fitted parameter
  bool separately = false;                 // a fit per experiment
  std::int64_t bootstrap = 0;              // replicates; 0: none
  ShardPart shard;                         // the whole run by default
  // The merge of shards: the replicates they fitted, in replicate order,
  // taken instead of fitting them again; null otherwise.
  const std::vector<BootstrapReplicate>* known_replicates = nullptr;
  // The merge of shards of starts: every start's outcome; null otherwise.
  const std::vector<StartOutcome>* known_starts = nullptr;
  // The merge of shards of profile sides: every side of the first pass of
  // profiles; null otherwise.
  const std::vector<NamedSide>* known_sides = nullptr;

  // Several starts, profiles or a bootstrap: the fits run on worker
  // threads.
  bool searches() const {
    return choice.starts > 1 || profile || bootstrap > 0;
  }
};

}  // namespace identify
