// The profile of the objective S along one parameter: for each value v of
// the parameter, the lowest S over all the other estimated parameters,
//   S_p(v) = min over the others of S(v, others).
// The 95% profile interval is where S_p stays at or below the threshold
// (profile_threshold.h). Each side is found by stepping the parameter away
// from the optimum on its own scale (the fit's coordinate x: the value, or
// its logarithm), re-optimising the others from the previous point, until
// S_p crosses the threshold, the parameter reaches its bound, or the search
// ends; a crossing is then located to `tolerance` relative in the
// parameter's value by a bracketing root finder (TOMS 748).
//
// Everything about fitting is behind the Reoptimise callback, so the
// algorithm runs on any objective.
#pragma once

#include <atomic>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "problem/parameter.h"

namespace identify {

// Re-optimises the other parameters with the profiled one held at
// coordinate x, starting from `start` (their coordinates); writes their end
// point to `others` (start.size() entries) and returns S there: +inf or NaN
// when the model or the fit failed.
using Reoptimise = std::function<double(double x, std::span<const double> start,
                                        std::vector<double>& others)>;

struct ProfileSettings {
  Scale scale = Scale::kLin;       // how the coordinate maps to the value
  double optimum_x = 0.0;          // the parameter's coordinate at the optimum
  double optimum_objective = 0.0;  // S*
  double threshold = 0.0;          // the level of S that ends the interval
  // The coordinate's bounds (±inf when none).
  double lower = -std::numeric_limits<double>::infinity();
  double upper = std::numeric_limits<double>::infinity();
  double first_step = 0.1;  // > 0, in the coordinate
  int max_points = 100;     // re-optimisations per side while stepping
  double tolerance = 1e-7;  // relative accuracy of a crossing, in the value
  // Nonzero once the run is interrupted: the side ends as kInterrupted at
  // the first re-optimisation that returns after that, keeping the points
  // found before it.
  const std::atomic<int>* interrupt = nullptr;
};

// How a side of the profile ended.
enum class SideEnd {
  kCrossed,       // S_p rose above the threshold: the side is closed
  kBound,         // the parameter reached its bound below the threshold
  kSearchLimit,   // no crossing within the range searched (no bound)
  kNotFinite,     // beyond `value` the objective is not finite
  kBelowOptimum,  // a point lower than the optimum was found
  kInterrupted    // cut short or not begun: the run was interrupted
};

struct ProfilePoint {
  double x = 0.0;  // the parameter's coordinate
  double objective = 0.0;
  std::vector<double> others;  // the other parameters' coordinates
};

struct ProfileSide {
  SideEnd end = SideEnd::kCrossed;
  // The parameter's value (unscaled) where the side ends: the crossing, the
  // bound, the farthest point searched or the last finite one (interrupted:
  // the farthest point found, or the optimum).
  double value = 0.0;
  // Every re-optimised point, in the order computed.
  std::vector<ProfilePoint> points;
  // kBelowOptimum: the point whose objective is lower than S*.
  std::optional<ProfilePoint> below_optimum;
};

// Objectives below S*·(1 − kBelowOptimum) − floor count as lower than the
// optimum (a better optimum, not the re-fit's rounding).
inline constexpr double kLowerThanOptimum = 1e-8;

// One side of the profile: direction −1 (towards lower values) or +1, from
// the optimum, the others at `optimum_others` there.
ProfileSide profile_side(int direction, std::span<const double> optimum_others,
                         const ProfileSettings& settings,
                         const Reoptimise& reoptimise);

// Where an unbounded side's search ends: the coordinate 1000·max(|x|, 1)
// away on a linear scale, a factor 1000 in the value on a log scale.
double search_limit(Scale scale, double x, int direction);

// The first step from the optimum: a quarter of the standard error in the
// coordinate when that is finite and above 0, else 0.1·max(|x|, 1) on a
// linear scale and 0.1 (10% of the value) on a log scale.
double first_profile_step(Scale scale, double x, double standard_error);

}  // namespace identify
