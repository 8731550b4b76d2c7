// The report's sections on the starts and the profiles, and the profile
// table: the whole text for cases that carry every wording (tied optima, a
// start without a result, re-draws; closed, open and non-finite sides, a
// Wald interval that does not exist, a restart, both thresholds).
#include "output/search_report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "output/profile_table.h"

namespace identify {
namespace {

TEST(SearchReport, StartsSectionListsOptimaAndTheirTie) {
  StartsReport r;
  r.seed = 7;
  r.names = {"ka", "V"};
  r.scales = {Scale::kLog, Scale::kLin};
  for (int i = 0; i < 4; ++i) {
    StartOutcome o;
    o.start = i;
    o.finished = i != 3;
    o.redraws = i == 2 ? 2 : 0;
    r.outcomes.push_back(o);
  }
  Optimum a;
  a.objective = 4.28600902429862;
  a.starts = {1, 2};
  a.x = {std::log(0.053955), 0.0112};
  a.tied = true;
  a.within = 1;
  Optimum b = a;
  b.objective = 4.2860090242987;
  b.starts = {0};
  b.x = {std::log(1.7774), 0.36943};
  r.optima = {b, a};
  EXPECT_EQ(format_starts_section(r), R"(
Starts
  starts                      4   the usual start and 3 Latin hypercube samples in the bounds
  seed                        7   --seed 7 draws the same starts again
  re-drawn starts             2   draws rejected because the objective was not finite there
  starts without a result     1   no finite start in 100 draws, or the fit did not end at a finite objective
  distinct optima             2   end points count as one optimum when their objectives agree to 1e-06 relative or they lie within 1% of each other, with no ridge between them

  optimum   objective       starts  within 1e-6  first start
  1         4.286009024     1       1            1
  2         4.286009024     2       1            2

  optima 1 and 2 have objectives that agree to 1e-09 relative: the data cannot tell them apart; the result is optimum 1, the one reached from the earliest start (start 1)

  parameter   optimum 1     optimum 2
  ka          1.7774        0.053955
  V           0.36943       0.0112
)");
}

TEST(SearchReport, ProfilesSectionSaysWhichSidesAreOpen) {
  ProfilesReport p;
  p.threshold = {ThresholdKind::kProfileT, 4.28601, 7.13495, 2.306004, 8};
  p.n = 11;
  p.p = 3;
  p.restarts = 1;
  p.rows = {{"ka", 1.77741, SideEnd::kCrossed, 1.2584, SideEnd::kCrossed,
             2.55261, 1.06909, 2.48574, ""},
            {"k1", 0.3, SideEnd::kBound, 0, SideEnd::kSearchLimit, 1000.3, NAN,
             NAN, "not determined by the data"},
            {"V", 2, SideEnd::kNotFinite, 0.5, SideEnd::kCrossed, 3, 1, 3, ""}};
  EXPECT_EQ(format_profiles_section(p), R"(
Profile likelihood
  threshold                   7.13495   S <= S* * (1 + t^2/(n - p)) = 4.28601 * (1 + 2.306^2/8): profile-t, errors of unknown size; t = t(0.975, n - p), n = 11, p = 3
  each side: the parameter steps away from the optimum with the others re-fitted, until S passes the threshold (located to 1e-07 relative) or the parameter reaches its bound
  a profile found a lower objective than the fit's result: the fit restarted there (1 time), and the optimum reported is the lower one

  parameter   value         profile 95% interval        Wald 95% interval
  ka          1.77741       1.2584 .. 2.55261           1.06909 .. 2.48574
  k1          0.3           open .. open                not determined by the data
  V           2             open .. 3                   1 .. 3

  k1, below: the profile stays below the threshold down to the bound 0: not identifiable on this side
  k1, above: the profile stays below the threshold up to 1000.3, as far as it was followed: not identifiable on this side
  V, below: the objective is not finite beyond 0.5, below the threshold up to there
)");
  // The parameter table's fields: open sides and parameters not profiled
  // are empty.
  EXPECT_EQ(profile_interval_fields(p, "ka"),
            std::pair(std::string("1.2584"), std::string("2.55261")));
  EXPECT_EQ(profile_interval_fields(p, "V"),
            std::pair(std::string(), std::string("3")));
  EXPECT_EQ(profile_interval_fields(p, "k1"),
            std::pair(std::string(), std::string()));
  EXPECT_EQ(profile_interval_fields(p, "ke"),
            std::pair(std::string(), std::string()));
  p.threshold = {ThresholdKind::kLikelihoodRatio, 12.5, 16.3415, 3.84146, 0};
  p.rows.clear();
  p.restarts = 0;
  const std::string text = format_profiles_section(p);
  EXPECT_NE(text.find("  threshold                   16.3415   S <= S* + "
                      "3.84146 = 12.5 + 3.84146: likelihood ratio, "
                      "chi-square with 1 degree of freedom, 95%"),
            std::string::npos)
      << text;
}

TEST(SearchReport, ProfileTableHasEveryPointWithAllValues) {
  ParameterProfile ke;
  ke.j = 1;
  ke.points = {{std::log(0.04), 7.5, {1.5, 0.3}},
               {std::log(0.05), 4.3, {1.75, 0.37}}};
  ParameterProfile v;
  v.j = 2;
  v.points = {{0.37, 4.3, {std::log(1.75), std::log(0.05)}}};
  const std::string text = format_profile_table(
      {"ka", "ke", "V"}, {Scale::kLin, Scale::kLog, Scale::kLin}, {ke, v});
  EXPECT_EQ(text,
            "parameterId\tvalue\tobjective\tka\tke\tV\n"
            "ke\t0.040000000000000008\t7.5\t1.5\t0.040000000000000008\t0."
            "29999999999999999\n"
            "ke\t0.05000000000000001\t4.2999999999999998\t1.75\t0."
            "05000000000000001\t0.37\n"
            "V\t0.37\t4.2999999999999998\t0.55961578793542266\t0."
            "05000000000000001\t0.37\n");
}

// Fits of single experiments with different parameters: one column per
// name of any fit, in order of first appearance, empty where a fit does
// not have it; a fit without profiles adds no rows.
TEST(SearchReport, ProfileTableOfExperimentsJoinsTheirColumns) {
  const std::vector<std::string> one_names = {"k1", "k2"};
  const std::vector<std::string> two_names = {"k1", "x0", "k2"};
  const std::vector<Scale> one_scales(2, Scale::kLin);
  const std::vector<Scale> two_scales(3, Scale::kLin);
  ParameterProfile k2;
  k2.j = 1;
  k2.points = {{0.5, 2.0, {0.25}}};
  ParameterProfile x0;
  x0.j = 1;
  x0.points = {{3.0, 1.0, {0.75, 0.125}}};
  const std::vector<ParameterProfile> one = {k2}, two = {x0}, none;
  const std::string text = format_profile_table(
      std::vector<ProfileTableRows>{{"a", &one_names, &one_scales, &one},
                                    {"b", &two_names, &two_scales, &none},
                                    {"c", &two_names, &two_scales, &two}});
  EXPECT_EQ(text,
            "experiment\tparameterId\tvalue\tobjective\tk1\tk2\tx0\n"
            "a\tk2\t0.5\t2\t0.25\t0.5\t\n"
            "c\tx0\t3\t1\t0.75\t0.125\t3\n");
}

}  // namespace
}  // namespace identify
