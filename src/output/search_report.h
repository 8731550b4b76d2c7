// The fit report's sections on a multi-start fit (the distinct optima the
// starts reached) and on profile likelihood (the 95% profile interval of
// each profiled parameter, whether each side is closed, and the Wald
// interval beside it), in the report's layout: label and value in aligned
// columns, formulas named next to the numbers they give.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fit/multistart/optima.h"
#include "fit/multistart/start_sampler.h"
#include "fit/profile/profile_likelihood.h"
#include "fit/profile/profile_threshold.h"
#include "problem/parameter.h"

namespace identify {

struct StartsReport {
  std::uint64_t seed = 0;
  std::vector<StartOutcome> outcomes;  // one per start, in start order
  std::vector<Optimum> optima;         // the result first (distinct_optima)
  // The free parameters in the order of the coordinates x, and their scales
  // (values are shown unscaled).
  std::vector<std::string> names;
  std::vector<Scale> scales;
};

// One profiled parameter. Values are unscaled.
struct ProfileRow {
  std::string name;
  double estimate = 0.0;
  SideEnd lower_end = SideEnd::kCrossed;
  double lower = 0.0;  // where the lower side ends (ProfileSide::value)
  SideEnd upper_end = SideEnd::kCrossed;
  double upper = 0.0;
  // The Wald interval value ∓ t·(standard error); NaN when there is none,
  // and then `wald_note` says why ("not determined by the data").
  double wald_lower = 0.0;
  double wald_upper = 0.0;
  std::string wald_note;
  // The estimate rests on that bound (the parameter table's "at lower
  // bound"): the side towards it ends there (kBound) before it starts.
  bool on_lower_bound = false;
  bool on_upper_bound = false;
};

struct ProfilesReport {
  ProfileThreshold threshold;
  std::int64_t n = 0;  // measurements
  // Estimated parameters, as the residual statistics count them: neither
  // fixed nor on a bound.
  int p = 0;
  // Times a profile met a lower objective and the fit restarted there.
  int restarts = 0;
  std::vector<ProfileRow> rows;
};

// Optima listed in the table, and optima whose parameters are shown.
inline constexpr std::size_t kOptimaListed = 10;
inline constexpr std::size_t kOptimaDetailed = 3;

// "Starts" section: the number of starts and how they were drawn, the seed,
// re-draws and starts without a result, then the distinct optima (objective
// to 10 digits, how many starts ended there and how many of them within
// 1e-6 of its objective, the first of them; starts are numbered from 1),
// which of them the data cannot tell apart, and the parameters of the best
// few.
std::string format_starts_section(const StartsReport& report);

// "Profile likelihood" section: the threshold with its formula and numbers,
// then a table of value, profile interval and Wald interval per parameter,
// and one line per side that the threshold does not close: where the
// profile stays below it ("not identifiable on this side"), or that the
// estimate rests on the bound there.
std::string format_profiles_section(const ProfilesReport& report);

// Whether side `direction` (−1 lower, +1 upper) ends on the bound that the
// estimate rests on: the interval ends there, at the bound.
bool held_by_bound(const ProfileRow& row, int direction);

// One side of a profile interval (direction −1 the lower, +1 the upper) as
// the report's table and the console show it: the crossing; "0.4 (bound)"
// for a side that ends on the bound the estimate rests on; "interrupted";
// "open" for the others.
std::string profile_side_text(const ProfileRow& row, int direction);

}  // namespace identify
