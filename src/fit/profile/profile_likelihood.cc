// Stepping and crossing location for one side of a profile.
//
// Steps: with q = S_p(x) − S* at distance d from the optimum and Δ the
// threshold's height above S*, a locally quadratic profile q ≈ c·d² rises by
// the target Δ/6 at the next point when that point lies at d·sqrt((q + Δ/6)/q);
// the step is that distance less d, kept within a quarter and four times the
// last step (four times when q is not above 0: a flat profile). So a
// parabola crosses in about six steps and a flat side reaches its end in a
// few.
//
// Each re-fit starts from the others predicted at the new point: the last
// point's others moved along the secant through the last two points (where
// a valley runs straight, as for two parameters that enter only as their
// sum, the prediction is the answer). A re-fit from a poor start can still
// end on a plateau far above the profile (a model that has decayed to 0
// everywhere has no gradient left), so a step whose rise exceeds twice Δ
// is taken again a quarter as long, down to 1/64 of the first step, before
// it counts as a crossing; and a step that lands on a non-finite objective
// is halved and retried.
//
// Crossing: g(x) = S_p(x) − threshold changes sign between the last point
// inside and the first outside; TOMS 748 (Alefeld, Potra and Shi, through
// Boost.Math) narrows that bracket until the values at its ends agree to the
// relative tolerance, each re-optimisation starting from the prediction at
// the innermost point inside found so far. A non-finite S_p counts as far
// above the threshold (1000·Δ), which keeps the bracket valid.
#include "fit/profile/profile_likelihood.h"

#include <algorithm>
#include <boost/math/tools/toms748_solve.hpp>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace identify {

namespace {

constexpr int kNotFiniteRetries = 10;
constexpr double kRiseFraction = 1.0 / 6.0;
constexpr double kMaxGrowth = 4.0;
constexpr double kMaxShrink = 0.25;
constexpr std::uintmax_t kRootIterations = 200;
// A rise above this many times Δ in one step is retried shorter, down to
// the first step divided by kShortestStep.
constexpr double kJump = 2.0;
constexpr double kShortestStep = 64.0;

// The others predicted at x from point p and the secant slope of the
// others (per unit of x) through the last two points.
void predict(const ProfilePoint& p, const std::vector<double>& slope, double x,
             std::vector<double>& start) {
  start.resize(p.others.size());
  for (std::size_t k = 0; k < start.size(); ++k) {
    start[k] = p.others[k] + slope[k] * (x - p.x);
  }
}

// The secant slope of the others from `a` to `b` (zero when they coincide).
void secant(const ProfilePoint& a, const ProfilePoint& b,
            std::vector<double>& slope) {
  slope.assign(b.others.size(), 0.0);
  if (a.x == b.x) return;
  for (std::size_t k = 0; k < slope.size(); ++k) {
    slope[k] = (b.others[k] - a.others[k]) / (b.x - a.x);
  }
}

bool interrupted(const ProfileSettings& s) {
  return s.interrupt != nullptr && s.interrupt->load() != 0;
}

bool lower_than_optimum(double objective, double optimum) {
  return objective < optimum - kLowerThanOptimum * std::abs(optimum);
}

double next_step(double h, double distance, double rise, double target) {
  if (!(rise > 0.0)) return h * kMaxGrowth;
  const double wanted = distance * std::sqrt((rise + target) / rise) - distance;
  return std::clamp(wanted, h * kMaxShrink, h * kMaxGrowth);
}

class CrossingSearch {
 public:
  CrossingSearch(const ProfileSettings& s, const Reoptimise& reoptimise,
                 ProfileSide& side, std::vector<double> slope)
      : s_(s), reoptimise_(reoptimise), side_(side), slope_(std::move(slope)) {}

  // The value (unscaled) where S_p crosses the threshold between `inside`
  // (at or below it) and `outside` (above it).
  double locate(ProfilePoint inside, const ProfilePoint& outside) {
    inside_ = std::move(inside);
    const double delta = s_.threshold - s_.optimum_objective;
    const double g_in = inside_.objective - s_.threshold;
    const double g_out = outside.objective - s_.threshold;
    auto g = [&](double x) {
      ProfilePoint p;
      p.x = x;
      predict(inside_, slope_, x, start_);
      p.objective = reoptimise_(x, start_, p.others);
      const bool finite = std::isfinite(p.objective);
      const double value = finite ? p.objective - s_.threshold : 1e3 * delta;
      if (finite) note(p);
      return value;
    };
    auto done = [&](double a, double b) {
      if (interrupted(s_)) return true;
      const double va = from_scaled(s_.scale, a);
      const double vb = from_scaled(s_.scale, b);
      return std::abs(va - vb) <=
                 s_.tolerance * std::max(std::abs(va), std::abs(vb)) ||
             std::abs(a - b) <= s_.tolerance * s_.first_step;
    };
    std::uintmax_t iterations = kRootIterations;
    const bool ascending = inside_.x < outside.x;
    const auto [a, b] =
        ascending ? boost::math::tools::toms748_solve(
                        g, inside_.x, outside.x, g_in, g_out, done, iterations)
                  : boost::math::tools::toms748_solve(
                        g, outside.x, inside_.x, g_out, g_in, done, iterations);
    return from_scaled(s_.scale, 0.5 * (a + b));
  }

 private:
  void note(ProfilePoint& p) {
    if (lower_than_optimum(p.objective, s_.optimum_objective) &&
        !side_.below_optimum) {
      side_.below_optimum = p;
    }
    const bool closer =
        std::abs(p.x - s_.optimum_x) < std::abs(inside_.x - s_.optimum_x);
    side_.points.push_back(p);
    if (p.objective <= s_.threshold && !closer) inside_ = std::move(p);
  }

  const ProfileSettings& s_;
  const Reoptimise& reoptimise_;
  ProfileSide& side_;
  std::vector<double> slope_;
  std::vector<double> start_;
  ProfilePoint inside_;
};

// The next coordinate: h further in `direction`, but not past `limit`.
double next_x(double x, double h, int direction, double limit) {
  const double next = x + direction * h;
  return direction * (next - limit) >= 0.0 ? limit : next;
}

// The point at x, re-fitted from the others predicted there.
ProfilePoint step_point(double x, const ProfilePoint& previous,
                        const std::vector<double>& slope,
                        const Reoptimise& reoptimise,
                        std::vector<double>& start) {
  ProfilePoint point;
  point.x = x;
  predict(previous, slope, x, start);
  point.objective = reoptimise(x, start, point.others);
  return point;
}

// Whether `point`, just added to the side, ends it: lower than the optimum,
// past the threshold (then the crossing is located), or at the limit.
bool side_ends_at(ProfilePoint& point, ProfilePoint& previous,
                  const std::vector<double>& slope, double limit,
                  SideEnd at_limit, const ProfileSettings& s,
                  const Reoptimise& reoptimise, ProfileSide& side) {
  if (lower_than_optimum(point.objective, s.optimum_objective)) {
    side.below_optimum = point;
    side.end = SideEnd::kBelowOptimum;
    return true;
  }
  if (point.objective > s.threshold) {
    const double inside = from_scaled(s.scale, previous.x);
    CrossingSearch search(s, reoptimise, side, slope);
    side.value = search.locate(std::move(previous), point);
    side.end = side.below_optimum ? SideEnd::kBelowOptimum : SideEnd::kCrossed;
    if (interrupted(s)) {
      // The bracket was narrowed with re-fits cut short: no crossing.
      side.end = SideEnd::kInterrupted;
      side.value = inside;
    }
    return true;
  }
  if (point.x == limit) {
    side.end = at_limit;
    return true;
  }
  return false;
}

}  // namespace

double search_limit(Scale scale, double x, int direction) {
  switch (scale) {
    case Scale::kLin:
      return x + direction * 1e3 * std::max(std::abs(x), 1.0);
    case Scale::kLog:
      return x + direction * std::log(1e3);
    case Scale::kLog10:
      return x + direction * 3.0;
  }
  return x;
}

double first_profile_step(Scale scale, double x, double standard_error) {
  if (std::isfinite(standard_error) && standard_error > 0.0) {
    return 0.25 * standard_error;
  }
  switch (scale) {
    case Scale::kLin:
      return 0.1 * std::max(std::abs(x), 1.0);
    case Scale::kLog:
      return 0.1;
    case Scale::kLog10:
      return 0.1 / std::log(10.0);
  }
  return 0.1;
}

ProfileSide profile_side(int direction, std::span<const double> optimum_others,
                         const ProfileSettings& s,
                         const Reoptimise& reoptimise) {
  ProfileSide side;
  const double bound = direction < 0 ? s.lower : s.upper;
  const bool bounded = std::isfinite(bound);
  const double limit =
      bounded ? bound : search_limit(s.scale, s.optimum_x, direction);
  const SideEnd at_limit = bounded ? SideEnd::kBound : SideEnd::kSearchLimit;
  const double height = s.threshold - s.optimum_objective;
  ProfilePoint previous{s.optimum_x,
                        s.optimum_objective,
                        {optimum_others.begin(), optimum_others.end()}};
  side.end = SideEnd::kSearchLimit;
  side.value = from_scaled(s.scale, previous.x);
  if (direction * (limit - previous.x) <= 0.0) {
    side.end = at_limit;
    return side;
  }
  std::vector<double> slope(previous.others.size(), 0.0), start;
  double h = s.first_step;
  int not_finite = 0;
  for (int n = 0; n < s.max_points; ++n) {
    // A step below the coordinate's rounding (a standard error near 0, as
    // on data without noise) would re-fit the same point: lengthen it.
    while (next_x(previous.x, h, direction, limit) == previous.x) {
      h = std::max(2.0 * h, std::numeric_limits<double>::denorm_min());
    }
    ProfilePoint point = step_point(next_x(previous.x, h, direction, limit),
                                    previous, slope, reoptimise, start);
    if (interrupted(s)) {
      side.end = SideEnd::kInterrupted;
      return side;
    }
    if (!std::isfinite(point.objective)) {
      if (++not_finite > kNotFiniteRetries) {
        side.end = SideEnd::kNotFinite;
        return side;
      }
      h *= 0.5;
      continue;
    }
    not_finite = 0;
    const double step = std::abs(point.x - previous.x);
    if (point.objective - previous.objective > kJump * height &&
        step > s.first_step / kShortestStep) {
      h = step * kMaxShrink;
      continue;
    }
    side.points.push_back(point);
    side.value = from_scaled(s.scale, point.x);
    if (side_ends_at(point, previous, slope, limit, at_limit, s, reoptimise,
                     side)) {
      return side;
    }
    h = next_step(h, std::abs(point.x - s.optimum_x),
                  point.objective - s.optimum_objective,
                  kRiseFraction * height);
    secant(previous, point, slope);
    previous = std::move(point);
  }
  return side;
}

}  // namespace identify
