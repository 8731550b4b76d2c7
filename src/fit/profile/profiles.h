// The profiles of several parameters at an optimum, both sides of each on a
// pool of worker threads (each worker with its own ProfileRunner: its own
// model and objective). Sides are independent tasks, and each side's result
// depends only on the optimum and the settings, so the profiles do not
// depend on the number of threads.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "fit/profile/profile_likelihood.h"

namespace identify {

// One worker's re-optimiser. Not shared between threads.
class ProfileRunner {
 public:
  virtual ~ProfileRunner() = default;
  // Holds free coordinate j at x and re-optimises the others from `start`
  // (the free coordinates without j); see Reoptimise.
  virtual double reoptimise(int j, double x, std::span<const double> start,
                            std::vector<double>& others) = 0;
};

// What to profile: free coordinate j, with its scale, bounds and first step.
struct ProfileTarget {
  int j = 0;
  Scale scale = Scale::kLin;
  double lower = -std::numeric_limits<double>::infinity();
  double upper = std::numeric_limits<double>::infinity();
  double first_step = 0.1;
};

struct ParameterProfile {
  int j = 0;
  ProfileSide lower;  // towards lower values
  ProfileSide upper;
  // Every point of both sides and the optimum, by ascending coordinate.
  std::vector<ProfilePoint> points;
};

// A point lower than the optimum, met while profiling coordinate j.
struct LowerPoint {
  int j = 0;
  double objective = 0.0;
  std::vector<double> x;  // every free coordinate
};

struct ProfileRun {
  std::vector<ParameterProfile> profiles;  // in the order of the targets
  // The lowest point below the optimum that any side met: the fit is to
  // restart there.
  std::optional<LowerPoint> below_optimum;
};

// Which sides a call walks. Side task t is 2q for the lower side of target
// q and 2q + 1 for its upper side. A task for which `known` gives a side
// takes that side as walked elsewhere (from the same optimum, so the run
// is the same to the last bit); the others are walked when t mod `count`
// is `index`, and otherwise left out (empty, with end kInterrupted).
struct SideShare {
  int index = 0;
  int count = 1;
  std::function<std::optional<ProfileSide>(int task)> known;
};

// Profiles of `targets` at the optimum `x` (every free coordinate) of
// objective `objective`, up to `threshold`. `make_runner(worker)` is called
// once per worker, on its thread. Once *interrupt is nonzero, sides not
// begun are left out (empty, with end kInterrupted) and the sides under way
// end as kInterrupted with the points found so far.
ProfileRun run_profiles(
    const std::vector<ProfileTarget>& targets, std::span<const double> x,
    double objective, double threshold, int threads,
    const std::function<std::unique_ptr<ProfileRunner>(int worker)>&
        make_runner,
    const std::atomic<int>* interrupt = nullptr, const SideShare& share = {});

}  // namespace identify
