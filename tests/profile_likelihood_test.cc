// Profile likelihood on objectives whose profiles are known in closed form:
// the thresholds, a quadratic (closed sides, located to the tolerance, on a
// linear and a log scale, each re-fit warm-started), a flat direction (open
// sides at the bounds or at the end of the search), a bound inside the
// interval, a lower optimum met on the way, and a model that stops being
// finite; and profiles of several parameters on a worker pool.
#include "fit/profile/profile_likelihood.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <limits>
#include <vector>

#include "fit/profile/profile_threshold.h"
#include "fit/profile/profiles.h"

namespace identify {
namespace {

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
      // The first re-fit starts at the optimum; every later one at the
      // others predicted along the secant of the last two points, which in
      // a quadratic's straight valley is the answer itself.
      EXPECT_EQ(q.starts[0], q.y0);
      for (std::size_t k = 1; k < q.starts.size(); ++k) {
        EXPECT_NEAR(q.starts[k], q.ends[k], 1e-12 * (1 + std::abs(q.ends[k])))
            << k;
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

// An interrupt at any re-fit of a side, stepping or locating the crossing:
// the re-fit under way returns NaN, as a re-fit cut short does, and the side
// ends as interrupted (never open, never at a crossing narrowed with cut
// re-fits), keeping the points computed before.
TEST(ProfileLikelihood, AnInterruptAtAnyRefitEndsTheSideAsInterrupted) {
  Quadratic q;
  ProfileSettings s = settings_for(Scale::kLin, q.x0, q.s0, 3.84);
  const std::vector<double> others = {q.y0};
  const ProfileSide whole = profile_side(1, others, s, q.callback());
  const int calls = static_cast<int>(q.starts.size());
  std::atomic<int> flag{0};
  s.interrupt = &flag;
  for (int at = 0; at < calls; ++at) {
    flag = 0;
    int call = 0;
    const Reoptimise cut = [&](double x, std::span<const double> start,
                               std::vector<double>& rest) {
      if (call++ == at) flag = SIGINT;
      return flag != 0 ? std::nan("") : q.callback()(x, start, rest);
    };
    const ProfileSide side = profile_side(1, others, s, cut);
    EXPECT_EQ(side.end, SideEnd::kInterrupted) << at;
    // The points before the interrupt: the first of the whole side's.
    ASSERT_LE(side.points.size(), whole.points.size()) << at;
    for (std::size_t k = 0; k < side.points.size(); ++k) {
      EXPECT_EQ(side.points[k].x, whole.points[k].x) << at;
      EXPECT_EQ(side.points[k].objective, whole.points[k].objective) << at;
    }
    const double reached = side.points.empty() ? q.x0 : side.points.back().x;
    EXPECT_LE(side.value, reached) << at;
  }
  flag = 0;
  EXPECT_EQ(profile_side(1, others, s, q.callback()).end, SideEnd::kCrossed);
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
  for (int d : {-1, 1}) {
    const ProfileSide side = profile_side(d, others, s, flat);
    EXPECT_EQ(side.end, SideEnd::kSearchLimit) << d;
    EXPECT_DOUBLE_EQ(side.value, 0.5 + d * 1000);
    EXPECT_LE(side.points.size(), 12u);
  }
  s.lower = -3;
  s.upper = 2;
  for (int d : {-1, 1}) {
    const ProfileSide side = profile_side(d, others, s, flat);
    EXPECT_EQ(side.end, SideEnd::kBound) << d;
    EXPECT_EQ(side.value, d < 0 ? -3 : 2);
    EXPECT_EQ(side.points.back().x, side.value);
  }

  // A quadratic whose upper crossing (x0 + 1.13) lies beyond its bound.
  Quadratic q;
  s = settings_for(Scale::kLin, q.x0, q.s0, 3.84);
  s.upper = q.x0 + 0.5;
  const auto side = [&](int d) {
    return profile_side(d, std::vector<double>{q.y0}, s, q.callback());
  };
  ProfileSide high = side(1);
  EXPECT_EQ(high.end, SideEnd::kBound);
  EXPECT_EQ(high.value, q.x0 + 0.5);
  EXPECT_LT(high.points.back().objective, s.threshold);
  EXPECT_EQ(side(-1).end, SideEnd::kCrossed);
  // A parameter that starts on its bound has nothing to search there.
  s.upper = q.x0;
  high = side(1);
  EXPECT_EQ(high.end, SideEnd::kBound);
  EXPECT_TRUE(high.points.empty());
}

// A first step below the coordinate's rounding, and a re-fit that comes
// back above the threshold however close to the optimum: the side still
// steps away from the optimum, and the crossing lies next to it.
TEST(ProfileLikelihood, StepBelowRoundingStillMoves) {
  const double x0 = 0.15, s0 = 1e-30;
  const Reoptimise above = [](double, std::span<const double>,
                              std::vector<double>& others) {
    others.assign(1, 0.0);
    return 3e-30;
  };
  ProfileSettings s = settings_for(Scale::kLin, x0, s0, 1e-30);
  s.first_step = 1e-22;
  for (int d : {-1, 1}) {
    const ProfileSide side =
        profile_side(d, std::vector<double>{0.0}, s, above);
    EXPECT_EQ(side.end, SideEnd::kCrossed) << d;
    EXPECT_NEAR(side.value, x0, 1e-7 * x0) << d;
    for (const ProfilePoint& p : side.points) EXPECT_NE(p.x, x0) << d;
  }
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

// S(x) = 1 + (x − m)ᵀ H (x − m) in three coordinates: holding x_j, the
// others solve H_oo·d_o = −H_oj·d_j, and the profile crosses 1 + Δ at
// m_j ± sqrt(Δ·(H⁻¹)_jj). With `hole`, coordinate 2 above m_2 + 0.3 has a
// lower objective than the optimum.
class Bowl : public ProfileRunner {
 public:
  explicit Bowl(bool hole) : hole_(hole) {
    h_ << 4, 1, 0.5, 1, 2, 0.3, 0.5, 0.3, 1;
  }
  static constexpr double m[3] = {1.0, -2.0, 0.5};
  Eigen::Matrix3d h_;
  double reoptimise(int j, double x, std::span<const double>,
                    std::vector<double>& others) override {
    int o[2], n = 0;
    for (int k = 0; k < 3; ++k) {
      if (k != j) o[n++] = k;
    }
    Eigen::Matrix2d hoo;
    Eigen::Vector2d hoj;
    for (int a = 0; a < 2; ++a) {
      hoj[a] = h_(o[a], j);
      for (int b = 0; b < 2; ++b) hoo(a, b) = h_(o[a], o[b]);
    }
    const Eigen::Vector2d d = hoo.inverse() * (-hoj * (x - m[j]));
    Eigen::Vector3d full;
    full[j] = x - m[j];
    full[o[0]] = d[0];
    full[o[1]] = d[1];
    others = {m[o[0]] + d[0], m[o[1]] + d[1]};
    if (hole_ && j == 2 && x > m[2] + 0.3) return 0.5;
    return 1.0 + full.dot(h_ * full);
  }

 private:
  bool hole_;
};

TEST(Profiles, EveryTargetBothSidesOnAnyThreads) {
  std::vector<ProfileTarget> targets(3);
  for (int j = 0; j < 3; ++j) {
    targets[j].j = j;
    targets[j].first_step = 0.05;
  }
  const std::vector<double> x(std::begin(Bowl::m), std::end(Bowl::m));
  const Eigen::Matrix3d inverse = Bowl(false).h_.inverse();
  std::vector<ProfileRun> runs;
  for (int threads : {1, 2}) {
    runs.push_back(run_profiles(targets, x, 1.0, 4.84, threads, [](int) {
      return std::make_unique<Bowl>(false);
    }));
  }
  for (int j = 0; j < 3; ++j) {
    const ParameterProfile& p = runs[0].profiles[j];
    const double half = std::sqrt(3.84 * inverse(j, j));
    EXPECT_EQ(p.lower.end, SideEnd::kCrossed);
    EXPECT_NEAR(p.lower.value, Bowl::m[j] - half, 1e-7 * (1 + half)) << j;
    EXPECT_NEAR(p.upper.value, Bowl::m[j] + half, 1e-7 * (1 + half)) << j;
    EXPECT_TRUE(
        std::is_sorted(p.points.begin(), p.points.end(),
                       [](const auto& a, const auto& b) { return a.x < b.x; }));
    EXPECT_EQ(p.points.size(),
              p.lower.points.size() + p.upper.points.size() + 1);
    const ParameterProfile& q = runs[1].profiles[j];
    EXPECT_EQ(q.lower.value, p.lower.value);
    EXPECT_EQ(q.upper.value, p.upper.value);
    EXPECT_EQ(q.points.size(), p.points.size());
  }
  EXPECT_FALSE(runs[0].below_optimum);

  const ProfileRun holed = run_profiles(targets, x, 1.0, 4.84, 2, [](int) {
    return std::make_unique<Bowl>(true);
  });
  ASSERT_TRUE(holed.below_optimum);
  EXPECT_EQ(holed.below_optimum->j, 2);
  EXPECT_EQ(holed.below_optimum->objective, 0.5);
  ASSERT_EQ(holed.below_optimum->x.size(), 3u);
  EXPECT_GT(holed.below_optimum->x[2], Bowl::m[2] + 0.3);
  EXPECT_EQ(holed.profiles[2].upper.end, SideEnd::kBelowOptimum);
  EXPECT_EQ(holed.profiles[2].lower.end, SideEnd::kCrossed);
  // The other coordinates of the lower point are the re-fit's.
  std::vector<double> others;
  Bowl(false).reoptimise(2, holed.below_optimum->x[2], {}, others);
  EXPECT_EQ(holed.below_optimum->x[0], others[0]);
  EXPECT_EQ(holed.below_optimum->x[1], others[1]);

  std::atomic<int> interrupted{2};
  const ProfileRun none = run_profiles(
      targets, x, 1.0, 4.84, 2,
      [](int) { return std::make_unique<Bowl>(false); }, &interrupted);
  EXPECT_EQ(none.profiles[1].upper.end, SideEnd::kInterrupted);
}

}  // namespace
}  // namespace identify
