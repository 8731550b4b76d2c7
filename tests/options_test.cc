// Command-line options: defaults, every bad value with its one-line message,
// help and version.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "driver/options.h"
#include "run_binary.h"

namespace identify {
namespace {

struct Parse {
  explicit Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "identify");
    result = parse_options(static_cast<int>(args.size()), args.data(), out,
                           err);
  }
  std::ostringstream out, err;
  ParsedOptions result;
};

TEST(Options, DefaultsAndValues) {
  {
    Parse p({});
    ASSERT_TRUE(p.result.options);
    const Options& o = *p.result.options;
    EXPECT_EQ(o.input, "input.txt");
    EXPECT_EQ(o.data, "input_data.txt");
    EXPECT_EQ(o.output, "output.txt");
    EXPECT_EQ(o.max_iter, 0);
    EXPECT_EQ(o.patience, 10000);
    EXPECT_EQ(o.min_improvement, 1e-9);
    EXPECT_FALSE(o.quiet);
    EXPECT_FALSE(o.no_pause);
    EXPECT_EQ(o.method, "descent");
    EXPECT_EQ(o.model, "grid");
  }
  {
    Parse p({"-C", "dir", "--input", "a", "--data", "b", "--output", "c",
             "--history", "h.csv", "--no-pause", "-q", "--max-iter", "5",
             "--patience", "0", "--min-improvement", "1e-6", "--method", "lm",
             "--model", "exact"});
    ASSERT_TRUE(p.result.options) << p.err.str();
    const Options& o = *p.result.options;
    EXPECT_EQ(o.directory, "dir");
    EXPECT_EQ(o.history, "h.csv");
    EXPECT_TRUE(o.quiet && o.no_pause);
    EXPECT_EQ(o.max_iter, 5);
    EXPECT_EQ(o.patience, 0);
    EXPECT_EQ(o.min_improvement, 1e-6);
    EXPECT_EQ(o.method, "lm");
    EXPECT_EQ(o.model, "exact");
  }
  {
    Parse p({"--report", "-", "--plot", "FIT.PDF", "--trajectory", "t.csv"});
    ASSERT_TRUE(p.result.options) << p.err.str();
    EXPECT_EQ(p.result.options->report, "-");
    EXPECT_EQ(p.result.options->plot, "FIT.PDF");
    EXPECT_EQ(p.result.options->trajectory, "t.csv");
  }
}

TEST(Options, BadValuesNameTheOptionTheValueAndTheRange) {
  const std::string count_range = " to 9223372036854775807, found ";
  const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
      {{"--max-iter", "0"},
       "--max-iter: expected a whole number from 1" + count_range + "\"0\""},
      {{"--max-iter", "ten"},
       "--max-iter: expected a whole number from 1" + count_range + "\"ten\""},
      {{"--max-iter", "99999999999999999999"},
       "--max-iter: expected a whole number from 1" + count_range +
           "\"99999999999999999999\""},
      {{"--patience", "-1"},
       "--patience: expected a whole number from 0" + count_range + "\"-1\""},
      {{"--patience", "1.5"},
       "--patience: expected a whole number from 0" + count_range + "\"1.5\""},
      {{"--min-improvement", "1"},
       "--min-improvement: expected a number from 0 up to (not including) 1, "
       "found \"1\""},
      {{"--min-improvement", "-1e-9"},
       "--min-improvement: expected a number from 0 up to (not including) 1, "
       "found \"-1e-9\""},
      {{"--min-improvement", "nan"},
       "--min-improvement: expected a number from 0 up to (not including) 1, "
       "found \"nan\""},
      {{"--method", "newton"},
       "--method: expected one of descent, lm, lbfgsb, found \"newton\""},
      {{"--model", "spline"},
       "--model: expected one of grid, exact, found \"spline\""},
      {{"--output", ""},
       "--output: expected a file or directory name, found \"\""},
      {{"-C", ""}, "-C: expected a file or directory name, found \"\""},
      {{"--report", ""},
       "--report: expected a file or directory name, found \"\""},
      {{"--plot", "fit.txt"},
       "--plot: expected a file name ending in .svg, .png or .pdf, found "
       "\"fit.txt\""},
      {{"--plot", "svg"},
       "--plot: expected a file name ending in .svg, .png or .pdf, found "
       "\"svg\""},
      // No output may overwrite an input or another output.
      {{"--report", "output.txt"},
       "--report: expected a file other than --output, found \"output.txt\""},
      {{"--trajectory", "./input.txt"},
       "--trajectory: expected a file other than --input, found "
       "\"./input.txt\""},
      {{"--history", "d/../input_data.txt"},
       "--history: expected a file other than --data, found "
       "\"d/../input_data.txt\""},
      {{"--report", "a.svg", "--plot", "a.svg"},
       "--plot: expected a file other than --report, found \"a.svg\""},
  };
  for (const auto& [args, message] : cases) {
    Parse p(args);
    EXPECT_FALSE(p.result.options) << message;
    EXPECT_EQ(p.result.exit_code, 2) << message;
    EXPECT_EQ(p.err.str(), "identify: " + message + "\n");
  }
  {  // Unknown options and missing values come from the parser itself.
    Parse p({"--frobnicate"});
    EXPECT_EQ(p.result.exit_code, 2);
    EXPECT_EQ(p.err.str().rfind("identify: ", 0), 0u);
    EXPECT_NE(p.err.str().find("--frobnicate"), std::string::npos);
    Parse q({"--max-iter"});
    EXPECT_EQ(q.result.exit_code, 2);
    EXPECT_NE(q.err.str().find("--max-iter"), std::string::npos);
  }
}

TEST(Options, HelpVersionAndWorkingDirectoryThroughTheBinary) {
  testing::ScratchDir dir;
  const testing::RunResult help = testing::run_identify(dir.path(), "--help");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("--max-iter N"), std::string::npos);
  const testing::RunResult version =
      testing::run_identify(dir.path(), "--version");
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out.rfind("identify 1.", 0), 0u);
  const testing::RunResult bad =
      testing::run_identify(dir.path(), "-C no-such-dir");
  EXPECT_EQ(bad.exit_code, 2);
  EXPECT_EQ(bad.err,
            "identify: -C: cannot change to directory \"no-such-dir\": No "
            "such file or directory\n");
  EXPECT_EQ(bad.out, "");
}

}  // namespace
}  // namespace identify
