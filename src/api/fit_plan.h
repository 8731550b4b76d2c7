// What the fit stages need to know of a run, worked out once from the
// options of whichever front end: the model, method and starts, the seed,
// the worker threads, and whether and which profiles are wanted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fit/method.h"
#include "model/model_kind.h"

namespace identify {

// The model, method and number of starts of a run.
struct RunChoice {
  ModelKind model = ModelKind::kGrid;
  Method method = Method::kDescent;
  std::int64_t starts = 1;
};

struct FitPlan {
  RunChoice choice;
  std::uint64_t seed = 1;
  int threads = 1;  // worker threads of the starts and profiles, at least 1
  bool verbose = false;  // every start's progress lines
  bool profile = false;  // profiles are wanted (intervals or points)
  std::vector<std::string> profile_names;  // empty: every fitted parameter
  bool separately = false;                 // a fit per experiment

  // Several starts, or profiles: the fits run on worker threads.
  bool searches() const { return choice.starts > 1 || profile; }
};

}  // namespace identify
