// Profile likelihood on objectives whose profiles are known in closed form:
// the thresholds, a quadratic (closed sides, located to the tolerance, on a
// linear and a log scale, each re-fit warm-started), a flat direction (open
// sides at the bounds or at the end of the search), a bound inside the
// interval, a lower optimum met on the way, and a model that stops being
// finite.
#include "fit/profile/profile_likelihood.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "fit/profile/profile_threshold.h"

namespace identify {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ProfileThreshold, LikelihoodRatioAndProfileT) {
  // t(0.975, 8) and the level as tools/theophylline_profiles.py computes
  // them (tools/reference/theophylline_profiles.txt; R's qt agrees).
  const auto t = profile_threshold(4.28600902429862, false, 11, 3);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->kind, ThresholdKind::kProfileT);
  EXPECT_EQ(t->dof, 8);
  EXPECT_NEAR(t->quantile, 2.30600413520417, 1e-13);
  EXPECT_NEAR(t->value, 7.13494872741033, 1e-12);

  const auto chi = profile_threshold(12.5, true, 11, 3);
  ASSERT_TRUE(chi);
  EXPECT_EQ(chi->kind, ThresholdKind::kLikelihoodRatio);
  EXPECT_NEAR(chi->quantile, 3.841458820694124, 1e-14);
  EXPECT_NEAR(chi->value, 12.5 + 3.841458820694124, 1e-13);

  EXPECT_FALSE(profile_threshold(1.0, false, 3, 3));  // no degrees of freedom
  EXPECT_TRUE(profile_threshold(1.0, true, 3, 3));
  EXPECT_FALSE(profile_threshold(std::nan(""), true, 11, 3));
}

// S(x, y) = s0 + a·dx² + b·dx·dy + c·dy², dx = x − x0, dy = y − y0: the
// others' optimum at fixed x is dy = −b·dx/(2c), the profile
// s0 + (a − b²/4c)·dx². Records every start it is given.
struct Quadratic {
  double s0 = 2.0, a = 3.0, b = 2.0, c = 0.5, x0 = 1.0, y0 = -2.0;
  std::vector<double> starts;
  std::vector<double> ends;
  double curvature() const { return a - b * b / (4 * c); }
  Reoptimise callback() {
    return [this](double x, std::span<const double> start,
                  std::vector<double>& others) {
      starts.push_back(start[0]);
      const double dx = x - x0;
      const double dy = -b * dx / (2 * c);
      others.assign(1, y0 + dy);
      ends.push_back(others[0]);
      return s0 + a * dx * dx + b * dx * dy + c * dy * dy;
    };
  }
};

ProfileSettings settings_for(Scale scale, double x0, double s0, double height) {
  ProfileSettings s;
  s.scale = scale;
  s.optimum_x = x0;
  s.optimum_objective = s0;
  s.threshold = s0 + height;
  s.first_step = first_profile_step(scale, x0, std::nan(""));
  return s;
}

TEST(ProfileLikelihood, QuadraticSidesCloseWhereTheoryPuts) {
  for (Scale scale : {Scale::kLin, Scale::kLog}) {
    Quadratic q;
    const ProfileSettings s = settings_for(scale, q.x0, q.s0, 3.84);
    const double half = std::sqrt(3.84 / q.curvature());
    for (int direction : {-1, 1}) {
      q.starts.clear();
      q.ends.clear();
      const std::vector<double> others = {q.y0};
      const ProfileSide side = profile_side(direction, others, s, q.callback());
      EXPECT_EQ(side.end, SideEnd::kCrossed);
      const double want = from_scaled(scale, q.x0 + direction * half);
      EXPECT_NEAR(side.value, want, 1e-7 * std::abs(want)) << direction;
      EXPECT_LE(side.points.size(), 30u);
      // Every re-fit starts from the optimum or from an earlier end point.
      for (std::size_t k = 0; k < q.starts.size(); ++k) {
        const bool known =
            q.starts[k] == q.y0 || std::find(q.ends.begin(), q.ends.begin() + k,
                                             q.starts[k]) != q.ends.begin() + k;
        EXPECT_TRUE(known) << k;
      }
      // Stepping reaches the threshold in a handful of points.
      std::size_t stepping = 0;
      while (stepping < side.points.size() &&
             side.points[stepping].objective <= s.threshold) {
        ++stepping;
      }
      EXPECT_LE(stepping, 10u);
      EXPECT_GE(stepping, 3u);
    }
  }
}

TEST(ProfileLikelihood, FlatSidesAreOpenAndBoundsEndSides) {
  // S = 1 + (x + y − 1)²: every x has an exact fit; the profile is flat.
  const Reoptimise flat = [](double x, std::span<const double>,
                             std::vector<double>& others) {
    others.assign(1, 1.0 - x);
    return 1.0;
  };
  const std::vector<double> others = {0.5};
  ProfileSettings s = settings_for(Scale::kLin, 0.5, 1.0, 3.84);
  ProfileSide low = profile_side(-1, others, s, flat);
  ProfileSide high = profile_side(1, others, s, flat);
  EXPECT_EQ(low.end, SideEnd::kSearchLimit);
  EXPECT_EQ(high.end, SideEnd::kSearchLimit);
  EXPECT_DOUBLE_EQ(low.value, 0.5 - 1000);
  EXPECT_DOUBLE_EQ(high.value, 0.5 + 1000);
  EXPECT_LE(high.points.size(), 12u);

  s.lower = -3;
  s.upper = 2;
  low = profile_side(-1, others, s, flat);
  high = profile_side(1, others, s, flat);
  EXPECT_EQ(low.end, SideEnd::kBound);
  EXPECT_EQ(low.value, -3);
  EXPECT_EQ(high.end, SideEnd::kBound);
  EXPECT_EQ(high.value, 2);
  EXPECT_EQ(high.points.back().x, 2);

  // A quadratic whose upper crossing (x0 + 1.13) lies beyond its bound.
  Quadratic q;
  s = settings_for(Scale::kLin, q.x0, q.s0, 3.84);
  s.upper = q.x0 + 0.5;
  high = profile_side(1, std::vector<double>{q.y0}, s, q.callback());
  EXPECT_EQ(high.end, SideEnd::kBound);
  EXPECT_EQ(high.value, q.x0 + 0.5);
  EXPECT_LT(high.points.back().objective, s.threshold);
  low = profile_side(-1, std::vector<double>{q.y0}, s, q.callback());
  EXPECT_EQ(low.end, SideEnd::kCrossed);
  // A parameter that starts on its bound has nothing to search there.
  s.upper = q.x0;
  high = profile_side(1, std::vector<double>{q.y0}, s, q.callback());
  EXPECT_EQ(high.end, SideEnd::kBound);
  EXPECT_TRUE(high.points.empty());
}

TEST(ProfileLikelihood, LowerOptimumAndNonFiniteObjectivesEndTheSide) {
  // S_p(x) = 1 + x²·((x − 2)² − 0.5): a local minimum at 0 (S = 1) and a
  // deeper one near 2 (S ≈ −1) behind a barrier below the threshold.
  const Reoptimise two_wells = [](double x, std::span<const double>,
                                  std::vector<double>& others) {
    others.assign(1, 7.0);
    return 1.0 + x * x * ((x - 2) * (x - 2) - 0.5);
  };
  const std::vector<double> others = {7.0};
  const ProfileSettings s = settings_for(Scale::kLin, 0.0, 1.0, 3.84);
  const ProfileSide high = profile_side(1, others, s, two_wells);
  EXPECT_EQ(high.end, SideEnd::kBelowOptimum);
  ASSERT_TRUE(high.below_optimum);
  EXPECT_LT(high.below_optimum->objective, 1.0);
  EXPECT_GT(high.below_optimum->x, 1.0);
  const ProfileSide low = profile_side(-1, others, s, two_wells);
  EXPECT_EQ(low.end, SideEnd::kCrossed);
  EXPECT_FALSE(low.below_optimum);
  EXPECT_NEAR(
      1.0 + low.value * low.value * ((low.value - 2) * (low.value - 2) - 0.5),
      4.84, 1e-5);

  // Flat up to x = 2, not finite beyond: the side ends at a finite point.
  const Reoptimise breaks = [](double x, std::span<const double>,
                               std::vector<double>& o) {
    o.assign(1, 0.0);
    return x > 2 ? std::nan("") : 1.0 + 0.01 * x * x;
  };
  const ProfileSide broken = profile_side(1, others, s, breaks);
  EXPECT_EQ(broken.end, SideEnd::kNotFinite);
  EXPECT_GT(broken.value, 1.0);
  EXPECT_LE(broken.value, 2.0);
}

}  // namespace
}  // namespace identify
