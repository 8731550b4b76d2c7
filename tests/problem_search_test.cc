// Several starts and profiles of problem files through the built program:
// the theophylline example's mirror optima under the default starts, its
// profile intervals in the parameter table against the SciPy reference,
// the profile table, report and plot; the same run on one or two threads,
// also with --separately; two rates that only enter as their sum; and the
// refusals (a bad profile name, a profile table over an input).
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "run_binary.h"

namespace identify::testing {
namespace {

// The cells of a tab-separated table, row by row (header first).
std::vector<std::vector<std::string>> cells_of(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    rows.emplace_back();
    std::size_t from = 0;
    for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos;
         from = tab + 1) {
      rows.back().push_back(line.substr(from, tab - from));
    }
    rows.back().push_back(line.substr(from));
  }
  return rows;
}

// The cell of column `column` in the row of parameter `name`.
std::string cell(const std::string& table, const std::string& name,
                 const std::string& column) {
  const auto rows = cells_of(table);
  const auto& header = rows.at(0);
  const std::size_t c = static_cast<std::size_t>(
      std::find(header.begin(), header.end(), column) - header.begin());
  const std::size_t id = static_cast<std::size_t>(
      std::find(header.begin(), header.end(), "parameterId") - header.begin());
  for (std::size_t r = 1; r < rows.size(); ++r) {
    if (rows[r].at(id) == name) return rows[r].at(c);
  }
  ADD_FAILURE() << "no row " << name;
  return "";
}

// Wall times and the thread count, which differ from run to run.
std::string mask_run(const std::string& text) {
  std::string masked =
      std::regex_replace(text, std::regex("time +[0-9.e+-]+ s"), "time");
  masked = std::regex_replace(masked, std::regex("on [0-9]+ threads?"), "on");
  return std::regex_replace(masked, std::regex("\\d+\\.\\d+ s"), "s");
}

TEST(ProblemSearch, TheophyllineMirrorOptimaUnderTheDefaultStarts) {
  ScratchDir dir("theophylline_pk");
  const RunResult r = dir.run("problem.yaml --no-pause --report r.txt");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  for (int i = 1; i <= 20; ++i) {
    const std::string line =
        "start " + std::to_string(i) + " of 20: objective 4.28601 after ";
    EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
  }
  EXPECT_NE(r.out.find("2 distinct optima; the result: objective 4.28601, "
                       "reached from "),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(" starts, the first start 1\n"), std::string::npos);
  // The published branch is the result, from the first start.
  EXPECT_NE(r.out.find("\nka         1.77741    0.307165    estimated\n"),
            std::string::npos)
      << r.out;
  const std::string report = dir.read("r.txt");
  for (const char* text :
       {"\nStarts\n", "seed                        1",
        "  optima 1 and 2 have objectives that agree to 1e-09 relative: the "
        "data cannot tell them apart; the result is optimum 1, the one "
        "reached from the earliest start (start 1)",
        // The mirror: ka and ke swapped, V = 0.369264 · ke / ka.
        "  ka          1.77741       0.0539545\n",
        "  V           0.369264      0.0112093\n"}) {
    EXPECT_NE(report.find(text), std::string::npos) << text << report;
  }
  // One start: no starts section, the fit as before.
  const RunResult one = dir.run("problem.yaml --starts 1 --report r.txt");
  ASSERT_EQ(one.exit_code, 0) << one.err;
  EXPECT_EQ(one.out.rfind("10.3663:   COUNT = 0\n", 0), 0u) << one.out;
  EXPECT_EQ(dir.read("r.txt").find("\nStarts\n"), std::string::npos);
}

// A drawn start still crawling after 100 iterations is stopped there and
// counted apart; --max-iter takes the bound's place (every start then runs
// to the run's own limit), and the result does not change.
TEST(ProblemSearch, DrawnStartsThatCrawlStopAtTheirBound) {
  ScratchDir dir("infusion");
  RunResult r = dir.run("problem.yaml --no-pause --report r.txt");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("start 15 of 20: objective "), std::string::npos);
  EXPECT_NE(r.out.find(" after 100 iterations (not converged: not counted as "
                       "an optimum)\n"),
            std::string::npos)
      << r.out;
  const std::string report = dir.read("r.txt");
  EXPECT_NE(report.find("  starts not converged        3   drawn starts "
                        "still improving after 100 iterations: not counted "
                        "as optima\n"),
            std::string::npos)
      << report;
  const std::string table = dir.read("problem.parameters.tsv");
  r = dir.run("problem.yaml --no-pause --max-iter 1000 --report r.txt");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(dir.read("problem.parameters.tsv"), table);
  EXPECT_NE(r.out.find("start 18 of 20: objective 14.324 after 809 "
                       "iterations\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("start 15 of 20: objective 68873.6 after 1000 "
                       "iterations (iteration limit)\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("not converged"), std::string::npos) << r.out;
  EXPECT_EQ(dir.read("r.txt").find("starts not converged"), std::string::npos);
}

// SciPy's least_squares and brentq on the same model
// (tools/reference/theophylline_profiles.txt).
TEST(ProblemSearch, TheophyllineProfilesAgreeWithTheReference) {
  ScratchDir dir("theophylline_pk");
  const RunResult r =
      dir.run("problem.yaml -q --profile --report r.txt --plot p.svg");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const struct {
    const char* name;
    double lower, upper;
  } expected[] = {{"ka", 1.25840423215, 2.55261393146},
                  {"ke", 0.0351031731186, 0.0779637464189},
                  {"V", 0.321777565194, 0.421123384392}};
  const std::string table = dir.read("problem.parameters.tsv");
  EXPECT_EQ(table.substr(0, table.find('\n')),
            "parameterId\testimate\tstandardError\tlower95\tupper95\tscale\t"
            "lowerBound\tupperBound\tstatus\tprofileLower\tprofileUpper");
  for (const auto& e : expected) {
    EXPECT_NEAR(std::stod(cell(table, e.name, "profileLower")), e.lower,
                1e-4 * e.lower)
        << e.name;
    EXPECT_NEAR(std::stod(cell(table, e.name, "profileUpper")), e.upper,
                1e-4 * e.upper)
        << e.name;
  }
  const std::string points = dir.read("problem.profiles.tsv");
  EXPECT_EQ(points.substr(0, points.find('\n')),
            "parameterId\tvalue\tobjective\tka\tke\tV");
  const std::string report = dir.read("r.txt");
  for (const char* text :
       {"\nProfile likelihood\n", "S <= S* * (1 + t^2/(n - p))",
        "Wald 95% interval"}) {
    EXPECT_NE(report.find(text), std::string::npos) << text << report;
  }
  // The report's section follows the fit's own.
  EXPECT_LT(report.find("\nFit\n"), report.find("\nProfile likelihood\n"));
  const std::string svg = svg_text(dir.read("p.svg"));
  for (const char* title : {"starts: final objectives, sorted", "profile of ka",
                            "profile of ke", "profile of V"}) {
    EXPECT_NE(svg.find(title), std::string::npos) << title;
  }

  // Without --profile the columns are there and empty.
  ASSERT_EQ(dir.run("problem.yaml -q").exit_code, 0);
  const std::string plain = dir.read("problem.parameters.tsv");
  EXPECT_EQ(cell(plain, "ka", "profileLower"), "");
  EXPECT_EQ(cell(plain, "ka", "profileUpper"), "");
}

TEST(ProblemSearch, SameRunOnOneOrTwoThreads) {
  for (const char* example : {"theophylline_pk", "two_experiments"}) {
    SCOPED_TRACE(example);
    ScratchDir dir(example);
    std::string console[2], tables[2], report[2], points[2];
    for (int threads : {1, 2}) {
      const std::string args =
          std::string("problem.yaml --starts 12 --seed 7 --profile ") +
          "--report r.txt --threads " + std::to_string(threads) +
          (std::string(example) == "two_experiments" ? " --separately" : "");
      const RunResult r = dir.run(args);
      ASSERT_EQ(r.exit_code, 0) << r.err;
      console[threads - 1] = mask_time(r.out);
      tables[threads - 1] = dir.read("problem.parameters.tsv");
      report[threads - 1] = mask_run(dir.read("r.txt"));
      points[threads - 1] = dir.read("problem.profiles.tsv");
    }
    EXPECT_EQ(console[0], console[1]);
    EXPECT_EQ(tables[0], tables[1]);
    EXPECT_EQ(report[0], report[1]);
    EXPECT_EQ(points[0], points[1]);
    EXPECT_NE(report[0].find("seed                        7"),
              std::string::npos);
  }
}

// Each experiment alone: its own starts and profiles, in experiment order;
// the profile table joins their columns (from_x1 has no x3_0).
TEST(ProblemSearch, SeparatelyEachExperimentSearchesOnItsOwn) {
  ScratchDir dir("two_experiments");
  const RunResult r = dir.run(
      "problem.yaml --separately --starts 4 --profile=k1,x3_0 --report r.txt "
      "--threads 2 --plot p.svg");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_LT(r.out.find("experiment from_x1\nstart 1 of 4: "),
            r.out.find("experiment from_x2\nstart 1 of 4: "));
  const std::string report = dir.read("r.txt");
  // Two experiments on two threads: one each, its starts on that thread.
  EXPECT_NE(report.find("  fits                        2, one per experiment"
                        "   on 2 threads\n"),
            std::string::npos)
      << report;
  const std::size_t first = report.find("\nExperiment from_x1\n");
  const std::size_t second = report.find("\nExperiment from_x2\n");
  EXPECT_LT(first, report.find("\nStarts\n", first));
  EXPECT_LT(report.find("\nProfile likelihood\n", first), second);
  EXPECT_NE(report.find("\nProfile likelihood\n", second), std::string::npos);
  const auto rows = cells_of(dir.read("problem.profiles.tsv"));
  EXPECT_EQ(rows.at(0), (std::vector<std::string>{"experiment", "parameterId",
                                                  "value", "objective", "k1",
                                                  "k2", "k3", "k4", "x3_0"}));
  std::map<std::string, int> profiled;
  for (std::size_t q = 1; q < rows.size(); ++q) {
    ASSERT_EQ(rows[q].size(), 9u);
    ++profiled[rows[q][0] + " " + rows[q][1]];
    if (rows[q][0] == "from_x1") {
      EXPECT_EQ(rows[q][8], "");
    }
  }
  EXPECT_EQ(profiled.size(), 3u);  // k1 twice, x3_0 only in from_x2
  // The data are exact: the profile's points lie within the rounding of the
  // optimum, and how many there are depends on the last bits of the re-fits.
  EXPECT_GE(profiled["from_x2 x3_0"], 2);
  const std::string table = dir.read("problem.parameters.tsv");
  EXPECT_NE(table.find("from_x2\tx3_0\t"), std::string::npos);
  const std::string svg = svg_text(dir.read("p.svg"));
  for (const char* title :
       {"starts: final objectives, sorted, from_x1",
        "starts: final objectives, sorted, from_x2", "profile of k1, from_x1",
        "profile of x3_0, from_x2"}) {
    EXPECT_NE(svg.find(title), std::string::npos) << title;
  }
}

// Two rates that only enter as their sum: both profiles open on both
// sides, no profile bounds in the table, and the report says so.
TEST(ProblemSearch, RatesThatOnlyEnterAsTheirSumAreOpenOnBothSides) {
  ScratchDir dir;
  dir.write("sum.yaml",
            "states: [x]\n"
            "parameters:\n"
            "  k1: {value: 0.1}\n"
            "  k2: {value: 0.1}\n"
            "matrix:\n"
            "  x: {x: -(k1 + k2)}\n"
            "observables:\n"
            "  y: {states: {x: 1}}\n"
            "experiments:\n"
            "  - {id: e, x0: {x: 2}}\n"
            "data: data.csv\n");
  dir.write("data.csv",
            "time,y\n1,1.22\n2,0.72\n3,0.45\n4,0.27\n5,0.17\n6,0.09\n7,0.06\n");
  const RunResult r = dir.run("sum.yaml -q --profile --report r.txt");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string table = dir.read("sum.parameters.tsv");
  for (const char* name : {"k1", "k2"}) {
    EXPECT_EQ(cell(table, name, "profileLower"), "") << name;
    EXPECT_EQ(cell(table, name, "profileUpper"), "") << name;
    for (const char* side : {"below", "above"}) {
      const std::string line = std::string("  ") + name + ", " + side +
                               ": the profile stays below the threshold";
      EXPECT_NE(dir.read("r.txt").find(line), std::string::npos) << line;
    }
  }
  const std::string report = dir.read("r.txt");
  EXPECT_NE(report.find("not identifiable on this side"), std::string::npos);
  EXPECT_NE(report.find("k1 - k2"), std::string::npos) << report;
}

// V's lower bound above its free optimum: V ends on it. The Wald part and
// the profiles count p alike (V as fixed: p = 2, 9 degrees of freedom), and
// V's lower side ends at the bound in the console, the report and the
// table, not "not identifiable".
TEST(ProblemSearch, EstimateOnABoundIsOneConventionEverywhere) {
  ScratchDir dir("theophylline_pk");
  std::string problem = dir.read("problem.yaml");
  const std::string from = "V:  {lower: 0.01,";
  ASSERT_NE(problem.find(from), std::string::npos);
  problem.replace(problem.find(from), from.size(), "V:  {lower: 0.4,");
  dir.write("problem.yaml", problem);
  const RunResult r =
      dir.run("problem.yaml --starts 1 --profile --report r.txt");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("profile of V: 95% interval 0.4 (bound) .. 0.43"),
            std::string::npos)
      << r.out;
  const std::string report = dir.read("r.txt");
  for (const char* text :
       {"  degrees of freedom n - p    9\n", "^2/9): profile-t",
        "n = 11, p = 2\n", "  V           0.4           0.4 (bound) .. 0.43",
        "at lower bound\n",
        "  V, below: the estimate rests on its lower bound 0.4, so the "
        "interval ends there; it counts as fixed in p"}) {
    EXPECT_NE(report.find(text), std::string::npos) << text << report;
  }
  EXPECT_EQ(report.find("not identifiable"), std::string::npos) << report;
  const std::string table = dir.read("problem.parameters.tsv");
  EXPECT_EQ(cell(table, "V", "status"), "at lower bound");
  EXPECT_EQ(cell(table, "V", "profileLower"), cell(table, "V", "lowerBound"));
  EXPECT_NEAR(std::stod(cell(table, "V", "profileUpper")), 0.432, 1e-3);
}

// A slow decay rate in [-1, 1], a range its starts are drawn from
// linearly: its estimate, 2e-4, is closer to 0 than 1e-3 of the width, and
// the run warns. With one start nothing is drawn and nothing is said.
TEST(ProblemSearch, SmallResultOnALinearStartRangeWarns) {
  ScratchDir dir;
  dir.write("slow.yaml",
            "states: [x]\n"
            "parameters:\n"
            "  k: {lower: -1, upper: 1}\n"
            "matrix:\n"
            "  x: {x: -k}\n"
            "observables:\n"
            "  y: {states: {x: 1}}\n"
            "experiments:\n"
            "  - {id: e, x0: {x: 10}}\n"
            "data: data.csv\n");
  dir.write("data.csv", "time,y\n1,10.01\n2,9.98\n3,9.995\n4,9.99\n");
  RunResult r = dir.run("slow.yaml -q");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("identify: warning: k = "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" is closer to 0 than 0.001 of the width of its start "
                       "range [-1, 1], drawn on a linear scale"),
            std::string::npos)
      << r.err;
  r = dir.run("slow.yaml -q --starts 1");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
}

TEST(ProblemSearch, RefusalsBeforeTheFit) {
  ScratchDir dir("theophylline_pk");
  RunResult r = dir.run("problem.yaml --profile=CL");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err,
            "identify: --profile: expected a fitted parameter (ka, ke, V), "
            "found \"CL\"\n");
  // The default profile table is an output like the others.
  r = dir.run("problem.yaml --profile --fit problem.profiles.tsv");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err,
            "identify: --profiles: expected a file other than --fit, found "
            "\"problem.profiles.tsv\"\n");
  r = dir.run("problem.yaml --profiles theophylline.csv");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err,
            "identify: --profiles: expected a file other than a data table, "
            "found \"theophylline.csv\"\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("problem.parameters.tsv")));
}

}  // namespace
}  // namespace identify::testing
