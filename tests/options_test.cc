// Command-line options: the settings, every bad value with its one-line
// message, help and version.
#include "app/options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "run_binary.h"

namespace identify {
namespace {

struct Parse {
  explicit Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "identify");
    result =
        parse_options(static_cast<int>(args.size()), args.data(), out, err);
  }
  std::ostringstream out, err;
  ParsedOptions result;
};

// The settings that no run of the binary in the other tests shows.
TEST(Options, SettingsNoRunShows) {
  Parse plain({});
  ASSERT_TRUE(plain.result.options);
  EXPECT_FALSE(plain.result.options->no_pause);
  Parse p({"--input", "a", "--data", "b", "--min-improvement", "1e-6",
           "--no-pause"});
  ASSERT_TRUE(p.result.options) << p.err.str();
  const Options& o = *p.result.options;
  EXPECT_EQ(o.input, "a");
  EXPECT_EQ(o.data, "b");
  EXPECT_EQ(o.min_improvement, 1e-6);
  EXPECT_TRUE(o.no_pause);
}

TEST(Options, BadValuesNameTheOptionTheValueAndTheRange) {
  // The offending option is the next-to-last argument, its value the last;
  // the message is "OPTION: expected WHAT, found \"VALUE\"".
  const std::string to_max = " to 9223372036854775807";
  const std::string fraction = "a number from 0 up to (not including) 1";
  const std::string name = "a file or directory name";
  const std::string plot = "a file name ending in .svg, .png or .pdf";
  const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
      {{"--max-iter", "0"}, "a whole number from 1" + to_max},
      {{"--max-iter", "ten"}, "a whole number from 1" + to_max},
      {{"--max-iter", "99999999999999999999"},
       "a whole number from 1" + to_max},
      {{"--patience", "-1"}, "a whole number from 0" + to_max},
      {{"--patience", "1.5"}, "a whole number from 0" + to_max},
      {{"--min-improvement", "1"}, fraction},
      {{"--min-improvement", "-1e-9"}, fraction},
      {{"--min-improvement", "nan"}, fraction},
      {{"--method", "newton"}, "one of descent, lm, lbfgsb"},
      {{"--model", "spline"}, "one of grid, exact"},
      {{"--output", ""}, name},
      {{"-C", ""}, name},
      {{"--report", ""}, name},
      {{"--plot", "fit.txt"}, plot},
      {{"--plot", "svg"}, plot},
      // No output may overwrite an input or another output.
      {{"--report", "output.txt"}, "a file other than --output"},
      {{"--trajectory", "./input.txt"}, "a file other than --input"},
      {{"--history", "d/../input_data.txt"}, "a file other than --data"},
      {{"--report", "a.svg", "--plot", "a.svg"}, "a file other than --report"},
  };
  for (const auto& [args, expected] : cases) {
    const std::string message = std::string(args[args.size() - 2]) +
                                ": expected " + expected + ", found \"" +
                                args.back() + "\"";
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
  const testing::ScratchDir dir;
  const testing::RunResult help = dir.run("--help");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("--max-iter N"), std::string::npos);
  const testing::RunResult version = dir.run("--version");
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out.rfind("identify 1.", 0), 0u);
  const testing::RunResult bad = dir.run("-C no-such-dir");
  EXPECT_EQ(bad.exit_code, 2);
  EXPECT_EQ(bad.err,
            "identify: -C: cannot change to directory \"no-such-dir\": No "
            "such file or directory\n");
  EXPECT_EQ(bad.out, "");
}

}  // namespace
}  // namespace identify
