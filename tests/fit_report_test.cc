// The fit report's text: the whole layout for one case, then the wording of
// the cases without degrees of freedom, residuals or free entries.
#include "output/fit_report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <regex>
#include <string>
#include <vector>

namespace identify {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

ParameterEstimate entry(int q, double value, ParameterStatus status,
                        bool determined = false, double se = kNaN) {
  ParameterEstimate e;
  e.name = "a" + std::to_string(q / 2 + 1) + std::to_string(q % 2 + 1);
  e.value = value;
  e.status = status;
  e.determined = determined;
  e.standard_error = se;
  e.lower95 = value - 2.5 * se;
  e.upper95 = value + 2.5 * se;
  return e;
}

FitStatistics two_by_two() {
  FitStatistics st;
  st.residuals = 10;
  st.free_parameters = 2;
  st.dof = 8;
  st.ssr = 4.5;
  st.norm = std::sqrt(4.5);
  st.rms = std::sqrt(0.45);
  st.residual_standard_error = 0.75;
  st.aic = 28.8;
  st.bic = 30.4;
  st.t_quantile = 2.5;
  st.parameters = {entry(0, -1.5, ParameterStatus::kFree, true, 0.2),
                   entry(1, 0.5, ParameterStatus::kFixed),
                   entry(2, 0.0, ParameterStatus::kOnLowerBound),
                   entry(3, 2.0, ParameterStatus::kFree)};
  st.rank = 1;
  st.condition = std::numeric_limits<double>::infinity();
  FlatDirection alone;
  alone.parameters = {3};
  alone.coefficients = {1.0};
  FlatDirection pair;
  pair.ratio = 3e-10;
  pair.parameters = {3, 0};
  pair.coefficients = {1.0, -0.5};
  st.flat = {alone, pair};
  st.correlated = {{0, 3, -0.975}};
  return st;
}

TEST(FitReport, Layout) {
  const RunSummary run{"lm", "exact", "lm: stopped for a reason", 17, 0.25};
  EXPECT_EQ(
      format_fit_report(two_by_two(), run),
      "Fit report\n"
      "\n"
      "Run\n"
      "  method                      lm\n"
      "  model                       exact\n"
      "  stop                        lm: stopped for a reason\n"
      "  iterations                  17\n"
      "  time                        0.25 s\n"
      "\n"
      "Residuals (the measured samples; the point at t = 0 of each series "
      "stands for x0 and is not counted)\n"
      "  residual norm               2.12132   sqrt(SSR)\n"
      "  sum of squares SSR          4.5\n"
      "  residuals n                 10\n"
      "  free entries p              2   neither fixed nor on a bound\n"
      "  degrees of freedom n - p    8\n"
      "  RMS residual                0.67082   sqrt(SSR/n)\n"
      "  residual standard error s   0.75   sqrt(SSR/(n - p)), on 8 degrees "
      "of freedom\n"
      "  AIC                         28.8   n*(ln(2*pi) + ln(SSR/n) + 1) + "
      "2*(p + 1), Gaussian errors\n"
      "  BIC                         30.4   n*(ln(2*pi) + ln(SSR/n) + 1) + "
      "ln(n)*(p + 1)\n"
      "\n"
      "Entries\n"
      "  standard errors from s^2*(J^T*J)^-1, J the Jacobian of the "
      "residuals with respect to the free entries;\n"
      "  95% interval: value -/+ t*(standard error), t = 2.5 (Student's t, 8 "
      "degrees of freedom)\n"
      "\n"
      "  entry     value         status            std. error    95% "
      "interval\n"
      "  a11       -1.5          free              0.2           -2 .. -1\n"
      "  a12       0.5           fixed\n"
      "  a21       0             on lower bound\n"
      "  a22       2             free              not determined by the "
      "data\n"
      "\n"
      "Identifiability\n"
      "  rank of J                   1 of 2 free entries\n"
      "  condition number of J       inf   columns scaled to unit norm; above "
      "1e+08 counts as ill-conditioned\n"
      "  the data cannot tell these combinations of entries apart (moving the "
      "entries along one leaves the fit unchanged to first order, or nearly "
      "so):\n"
      "    a22   (rank-deficient)\n"
      "    a22 - 0.5*a11   (singular value ratio 3e-10)\n"
      "  pairs of entries with |correlation| above 0.95:\n"
      "    a11, a22: -0.975\n");
}

// Missing quantities say why, counts agree with their nouns, zeros carry no
// sign, degrees of freedom are never negative, a sum of squares that is not
// finite is not passed off as data that determine nothing, long lists of
// combinations are cut, and entries appear under their own names.
TEST(FitReport, WordsAndSignsOfTheEdgeCases) {
  const RunSummary run{"descent", "grid", "converged", 1, 0.5};
  const auto report = [&](auto change) {
    FitStatistics st = two_by_two();
    change(st);
    return format_fit_report(st, run);
  };
  const struct {
    const char* name;
    std::function<void(FitStatistics&)> change;
    std::vector<std::string> lines;
  } cases[] = {
      {"no degrees of freedom",
       [](FitStatistics& st) {
         st.dof = 0;
         st.residual_standard_error = st.t_quantile = kNaN;
         st.parameters[0] = entry(0, -1.5, ParameterStatus::kFree, true);
       },
       {"  residual standard error s   n/a   no degrees of freedom\n",
        "  no standard errors: no degrees of freedom\n",
        "  a11       -1.5          free              n/a\n"}},
      {"no residuals, no free entries",
       [](FitStatistics& st) {
         st = FitStatistics{};
         st.parameters = {entry(0, 1.0, ParameterStatus::kFixed)};
         st.condition = st.rms = st.aic = st.bic = kNaN;
       },
       {"  RMS residual                n/a   no residuals\n",
        "  AIC                         n/a   no residuals\n",
        "Identifiability\n  no free entries\n"}},
      {"far from full rank: ten combinations, the eight largest terms of each",
       [](FitStatistics& st) {
         FlatDirection wide;
         for (int t = 0; t < 10; ++t) {
           wide.parameters.push_back(t % 4);
           wide.coefficients.push_back(1.0 - 0.05 * t);
         }
         st.flat.assign(12, wide);
       },
       {"    a11 + 0.95*a12 + 0.9*a21 + 0.85*a22 + 0.8*a11 + 0.75*a12 + "
        "0.7*a21 + 0.65*a22 + ... (2 smaller terms)   (rank-deficient)\n",
        "    ... and 2 more: the data determine only 1 independent combination "
        "of the 2 free entries\n"}},
      {"from N = 10 on the legacy names separate row and column",
       [](FitStatistics& st) { st.parameters[3].name = "a1_12"; },
       {"\n  a1_12     2             free              not determined by the "
        "data\n",
        "    a1_12   (rank-deficient)\n", "    a11, a1_12: -0.975\n"}},
      {"one degree of freedom",
       [](FitStatistics& st) { st.dof = 1; },
       {"  degrees of freedom n - p    1\n",
        "  residual standard error s   0.75   sqrt(SSR/(n - p)), on 1 degree "
        "of freedom\n",
        "t = 2.5 (Student's t, 1 degree of freedom)\n"}},
      {"as many residuals as free entries",
       [](FitStatistics& st) {
         st.residuals = 2;
         st.dof = 0;
       },
       {"  degrees of freedom n - p    0   as many residuals as free entries: "
        "the fit can pass through every sample, which leaves nothing to "
        "estimate the error from\n"}},
      {"fewer residuals than free entries",
       [](FitStatistics& st) {
         st.residuals = 2;
         st.free_parameters = 3;
         st.dof = -1;
       },
       {"  degrees of freedom n - p    none   fewer residuals (2) than free "
        "entries (3): the data cannot determine every free entry\n",
        "  residual standard error s   n/a   no degrees of freedom\n"}},
      {"negative zeros",
       [](FitStatistics& st) {
         st.parameters[2].value = -0.0;
         st.flat[1].coefficients[1] = -0.0;
       },
       {"  a21       0             on lower bound\n",
        "    a22 + 0*a11   (singular value ratio 3e-10)\n"}},
      {"sum of squares not finite",
       [](FitStatistics& st) {
         st.ssr = st.norm = st.rms = INFINITY;
         st.parameters[0].determined = false;
       },
       {"  no standard errors: the sum of squares is not finite\n",
        "  a11       -1.5          free              n/a\n",
        "  a22       2             free              n/a\n"}},
      {"one free entry, one smaller term",
       [](FitStatistics& st) {
         st.free_parameters = 1;
         st.flat[1].parameters.assign(9, 0);
         st.flat[1].coefficients.assign(9, 1.0);
       },
       {"  rank of J                   1 of 1 free entry\n",
        "a11 + a11 + a11 + a11 + a11 + a11 + a11 + a11 + ... (1 smaller "
        "term)   (singular value ratio 3e-10)\n"}},
  };
  for (const auto& c : cases) {
    const std::string text = report(c.change);
    for (const std::string& line : c.lines) {
      EXPECT_NE(text.find(line), std::string::npos)
          << c.name << ": " << line << "\n"
          << text;
    }
    EXPECT_FALSE(std::regex_search(text, std::regex("-0(?![.0-9])"))) << c.name;
    EXPECT_EQ(text.find(" 1 degrees"), std::string::npos) << c.name;
  }
}

}  // namespace
}  // namespace identify
