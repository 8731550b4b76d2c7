// The program with --starts and --profile on the legacy theophylline
// example: both mirror-image optima in the report (exact and grid model),
// the profile intervals against the SciPy reference, the profile table, a
// bad name, and the restart from a lower point that a profile meets.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "run_binary.h"

namespace identify::testing {
namespace {

const char* kExact = "--no-pause --method lm --model exact ";

TEST(SearchRun, TheophyllineMirrorOptimaOnBothModels) {
  ScratchDir dir("theophylline");
  RunResult r = dir.run(std::string(kExact) + "--starts 20 --report r.txt");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  for (int i = 1; i <= 20; ++i) {
    const std::string line =
        "start " + std::to_string(i) + " of 20: objective 4.28601 after ";
    EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
  }
  EXPECT_NE(r.out.find("2 distinct optima; the result: objective 4.28601"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("-1.77741   0   \n4.81339   -0.0539545   \n"),
            std::string::npos);
  std::string report = dir.read("r.txt");
  EXPECT_NE(report.find("  optima 1 and 2 have objectives that agree to 1e-09 "
                        "relative: the data cannot tell them apart; the "
                        "result is optimum 1, the one reached from the "
                        "earliest start (start 1)"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("  a11         -1.77741      -0.0539545"),
            std::string::npos)
      << report;

  // The grid model's two branches differ in the sixth digit: both listed,
  // no tie.
  r = dir.run(
      "--no-pause --method lm --model grid --starts 20 -q "
      "--report r.txt");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  report = dir.read("r.txt");
  EXPECT_NE(report.find("  1         4.170883"), std::string::npos) << report;
  EXPECT_NE(report.find("  2         4.170885"), std::string::npos) << report;
  EXPECT_NE(report.find("  a11         -1.79754      -0.0538621"),
            std::string::npos)
      << report;
  EXPECT_EQ(report.find("cannot tell them apart"), std::string::npos);
}

TEST(SearchRun, ProfilesOfTheophyllineAndTheirTable) {
  ScratchDir dir("theophylline");
  RunResult r =
      dir.run(std::string(kExact) + "--profile --profiles p.tsv --plot p.svg");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  // a11 = -ka and a22 = -ke: SciPy's intervals of ka and ke
  // (tools/reference/theophylline_profiles.txt), to 1e-4.
  const struct {
    const char* name;
    double lower, upper;
  } expected[] = {{"a11", -2.55261393146, -1.25840423215},
                  {"a22", -0.0779637464189, -0.0351031731186}};
  for (const auto& e : expected) {
    const std::regex line(std::string("profile of ") + e.name +
                          ": 95% interval (\\S+) \\.\\. (\\S+)\n");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, line)) << r.out;
    EXPECT_NEAR(std::stod(m[1]), e.lower, 1e-4 * -e.lower) << e.name;
    EXPECT_NEAR(std::stod(m[2]), e.upper, 1e-4 * -e.upper) << e.name;
  }
  const std::string table = dir.read("p.tsv");
  EXPECT_EQ(table.substr(0, table.find('\n')),
            "parameterId\tvalue\tobjective\ta11\ta21\ta22");
  EXPECT_NE(dir.read("p.svg").find("</svg>"), std::string::npos);

  // A name that is not a fitted parameter: the run does not start.
  r = dir.run(std::string(kExact) + "--profile=ka");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err,
            "identify: --profile: expected a fitted parameter (a11, a21, "
            "a22), found \"ka\"\n");

  // Two iterations leave the fit far from its optimum: the first profile
  // re-fit is lower, and the fit restarts from there to the optimum.
  r = dir.run(std::string(kExact) + "--max-iter 2 --profile -q");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(std::regex_search(
      r.err, std::regex("identify: profile of a\\d\\d found a lower "
                        "objective \\S+ than the fit's result 392.646: the "
                        "fit restarts there\n")))
      << r.err;
  EXPECT_EQ(dir.read("output.txt"),
            "-1.77741    0    \n4.81339    -0.0539545    \n");
}

}  // namespace
}  // namespace identify::testing
