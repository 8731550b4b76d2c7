// The two-stage summary of --separately: which estimates count and the
// statistics on a hand-made set of fits, then the twelve theophylline
// subjects of the event table end to end, against statistics computed here
// from the per-subject estimates of PROBLEM.parameters.tsv.
#include "output/two_stage_summary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "run_binary.h"

namespace identify {
namespace {

using testing::RunResult;
using testing::ScratchDir;

std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string f; std::getline(in, f, '\t');) out.push_back(f);
  if (!line.empty() && line.back() == '\t') out.emplace_back();
  return out;
}

// Parameter a (log) in four fits: 1, 4 and 16 count; 1000, not
// determined, does not. b (lin) has one estimate: no SD. c is fixed.
TEST(TwoStageSummary, CountsDeterminedEstimatesOnTheirScale) {
  FitProblem problem;
  problem.parameters = {Parameter{"a", 1.0, true, 1e-3, 1e4, Scale::kLog},
                        Parameter{"b", 1.0}, Parameter{"c", 1.0, false}};
  const double a[] = {1.0, 4.0, 16.0, 1000.0};
  std::vector<FitStatistics> stats(4);
  std::vector<FitResultView> views;
  for (int f = 0; f < 4; ++f) {
    stats[f].ssr = 1.0;
    stats[f].parameters = {{"a", a[f]}, {"b", 2.5}, {"c", 1.0}};
    stats[f].parameters[0].determined = f < 3;
    stats[f].parameters[1].determined = true;
    stats[f].parameters[2].status = ParameterStatus::kFixed;
    FitResultView v;
    v.experiment = "e" + std::to_string(f);
    v.problem = &problem;
    v.stats = &stats[f];
    v.parameters = f == 0 ? std::vector<int>{0, 1, 2} : std::vector<int>{0};
    views.push_back(v);
  }
  const std::vector<ParameterSpread> rows = two_stage_summary(views);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].experiments, 3);
  EXPECT_NEAR(rows[0].mean, std::log(4.0), 1e-15);
  EXPECT_NEAR(rows[0].sd, std::log(4.0), 1e-15);  // ln 1, ln 4, ln 16
  EXPECT_EQ(rows[0].median, std::log(4.0));
  EXPECT_EQ(rows[0].min, 0.0);
  EXPECT_EQ(rows[0].max, std::log(16.0));
  EXPECT_EQ(rows[1].experiments, 1);
  EXPECT_EQ(rows[1].mean, 2.5);
  EXPECT_TRUE(std::isnan(rows[1].sd));
  const std::string text = format_two_stage_summary(views);
  std::istringstream in(text);
  std::string header, first, second;
  std::getline(in, header);
  std::getline(in, first);
  std::getline(in, second);
  const std::vector<std::string> f = fields(first);
  ASSERT_EQ(f.size(), 13u);
  EXPECT_EQ(f[1], "log");
  EXPECT_NEAR(std::stod(f[8]), 4.0, 1e-14);    // geometric mean
  EXPECT_NEAR(std::stod(f[9]), 4.0, 1e-14);    // geometric SD factor
  EXPECT_NEAR(std::stod(f[12]), 16.0, 1e-13);  // back max
  EXPECT_EQ(fields(second)[4], "");            // SD of one estimate
}

// Lines of `text` that start with `prefix`.
int lines_starting(const std::string& text, const std::string& prefix) {
  std::istringstream in(text);
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    count += line.rfind(prefix, 0) == 0 ? 1 : 0;
  }
  return count;
}

// Twelve subjects, three log-scaled parameters: the summary's numbers are
// those of ln(estimate) over the subjects whose status counts. With more
// than ten experiments the console has one line per experiment, and its
// progress lines only with --verbose.
TEST(TwoStageSummary, TheophyllineSubjectsAgainstTheirEstimates) {
  ScratchDir dir("theophylline_events");
  const RunResult r = dir.run("problem.yaml --separately --no-pause");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(lines_starting(r.out, "experiment ID"), 12);
  EXPECT_EQ(lines_starting(r.out, "experiment ID1: norm "), 1);
  const RunResult verbose =
      dir.run("problem.yaml --separately --no-pause --verbose");
  ASSERT_EQ(verbose.exit_code, 0) << verbose.err;
  EXPECT_EQ(lines_starting(verbose.out, "experiment ID1: norm "), 0);
  EXPECT_GT(std::count(verbose.out.begin(), verbose.out.end(), '\n'),
            std::count(r.out.begin(), r.out.end(), '\n') + 12);
  std::map<std::string, std::vector<double>> logs;
  std::istringstream estimates(dir.read("problem.parameters.tsv"));
  std::string line;
  std::getline(estimates, line);
  while (std::getline(estimates, line)) {
    const std::vector<std::string> f = fields(line);
    // experiment, parameterId, estimate, ..., status at 9.
    if (f[9] == "estimated" || f[9].rfind("at ", 0) == 0) {
      logs[f[1]].push_back(std::log(std::stod(f[2])));
    }
  }
  std::istringstream summary(dir.read("problem.summary.tsv"));
  std::getline(summary, line);
  EXPECT_EQ(line,
            "parameterId\tscale\texperiments\tmean\tsd\tmedian\tmin\tmax\t"
            "backMean\tbackSD\tbackMedian\tbackMin\tbackMax");
  int rows = 0;
  while (std::getline(summary, line)) {
    ++rows;
    const std::vector<std::string> f = fields(line);
    SCOPED_TRACE(f[0]);
    std::vector<double> v = logs[f[0]];
    ASSERT_EQ(v.size(), 12u);
    EXPECT_EQ(f[2], "12");
    const double n = static_cast<double>(v.size());
    const double mean = std::accumulate(v.begin(), v.end(), 0.0) / n;
    double squares = 0.0;
    for (const double x : v) squares += (x - mean) * (x - mean);
    std::sort(v.begin(), v.end());
    const double expected[] = {mean, std::sqrt(squares / (n - 1)),
                               (v[5] + v[6]) / 2, v.front(), v.back()};
    for (int c = 0; c < 5; ++c) {
      const double scaled = std::stod(f[3 + c]);
      EXPECT_NEAR(scaled, expected[c], 1e-13 * std::abs(expected[c]) + 1e-15);
      EXPECT_NEAR(std::stod(f[8 + c]), std::exp(expected[c]),
                  1e-13 * std::exp(expected[c]));
    }
  }
  EXPECT_EQ(rows, 3);
}

}  // namespace
}  // namespace identify
