// The distinct optima that the starts of a multi-start fit reached. The
// caller decides when two end points are one optimum (same_place: their
// objectives agree, or the points are close, and no ridge lies between
// them); an optimum keeps the point and objective of its earliest start
// among those whose objectives agree with its lowest to kTiedObjective
// relative (so the usual start's end, when it got there), and counts the
// starts whose objectives agree with its lowest to kSameObjective relative. The
// result is the lowest optimum, except that among optima whose objectives agree
// with the lowest to kTiedObjective relative (the data cannot tell them apart)
// it is the one reached from the earliest start.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <string>
#include <vector>

namespace identify {

inline constexpr double kSameObjective = 1e-6;
inline constexpr double kTiedObjective = 1e-9;

// Iterations of lm or lbfgsb from a drawn start. Such a fit converges in
// tens of iterations where it converges well; one still crawling along a
// flat valley after this many can cost more than all the others together
// (thousands of iterations). Its end is reported, not counted as an
// optimum. The usual start and the descent are not bounded, nor is any
// start of a run that sets its own iteration limit.
inline constexpr std::int64_t kDrawnStartIterations = 100;

// What one start of a multi-start fit ended with.
struct StartOutcome {
  int start = 0;  // 0-based; start 0 is the usual start
  // The fit ran from a finite start and ended at a finite objective.
  bool finished = false;
  double objective = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> x;  // the end point (the method's coordinates)
  // The end point as every parameter's value, where the runner gives it.
  std::vector<double> theta;
  std::vector<double> start_x;  // where the fit started (coordinates)
  std::int64_t iterations = 0;
  int redraws = 0;       // draws rejected because the objective was not finite
  bool skipped = false;  // not run: the run was interrupted first
  // A drawn start stopped at kDrawnStartIterations before converging: its
  // end is no optimum (finished is false), only a place on the way to one.
  bool capped = false;
  std::string ending;  // how the fit ended, if not at an optimum
  std::string log;     // the fit's progress lines, when they are kept
};

struct Optimum {
  double objective = 0.0;   // best_start's, within kTiedObjective of the lowest
  int best_start = 0;       // the start whose end point it keeps
  std::vector<int> starts;  // every start that ended here, ascending
  // Of those, the starts whose objectives agree with `objective` to
  // kSameObjective relative.
  int within = 0;
  std::vector<double> x;      // best_start's end point
  std::vector<double> theta;  // and its every parameter, if known
  // Its objective agrees with the result's to kTiedObjective relative.
  bool tied = false;
};

// Whether the end points of a and b are one optimum; a.objective <=
// b.objective.
using SamePlace =
    std::function<bool(const StartOutcome& a, const StartOutcome& b)>;

// Whether objectives a and b agree to `relative`: |a − b| <= relative·
// max(|a|, |b|) + floor. Objectives closer than `floor` in absolute terms
// always agree (a fit to exact data ends at rounding level, anywhere below
// it).
bool objectives_agree(double a, double b, double relative, double floor);

// The distinct optima of the finished outcomes: the result first, then the
// others by ascending objective. `floor` as for objectives_agree. Empty when
// no outcome finished.
std::vector<Optimum> distinct_optima(std::span<const StartOutcome> outcomes,
                                     const SamePlace& same_place,
                                     double floor = 0.0);

// The final objectives of the finished outcomes in ascending order: the
// waterfall picture (objective against rank).
std::vector<double> waterfall(std::span<const StartOutcome> outcomes);

}  // namespace identify
