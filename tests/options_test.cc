// Command-line options: the settings, every bad value with its one-line
// message, help and version.
#include "app/options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
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

// The usage error: no options, exit code 2 and the one-line message.
void ExpectUsageError(const std::vector<const char*>& args,
                      const std::string& message) {
  Parse p(args);
  EXPECT_FALSE(p.result.options) << message;
  EXPECT_EQ(p.result.exit_code, 2) << message;
  EXPECT_EQ(p.err.str(), "identify: " + message + "\n");
}

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
  EXPECT_EQ(run_choice(o, InputKind::kLegacyFiles).starts, 1);
  EXPECT_FALSE(o.profile);

  Parse search({"--starts", "20", "--seed=0", "--threads", "2",
                "--profile=ka,V", "--verbose", "--profiles", "p.tsv"});
  ASSERT_TRUE(search.result.options) << search.err.str();
  const Options& s = *search.result.options;
  EXPECT_EQ(run_choice(s, InputKind::kLegacyFiles).starts, 20);
  EXPECT_EQ(s.seed, 0);
  EXPECT_EQ(s.threads, 2);
  EXPECT_TRUE(s.profile);
  EXPECT_EQ(s.profile_names, (std::vector<std::string>{"ka", "V"}));
  EXPECT_TRUE(s.verbose);
  EXPECT_EQ(s.profiles, "p.tsv");
  // Without "=" --profile takes no names: what follows is an argument of
  // its own.
  Parse bare({"--profile", "--quiet"});
  ASSERT_TRUE(bare.result.options) << bare.err.str();
  EXPECT_TRUE(bare.result.options->profile);
  EXPECT_TRUE(bare.result.options->profile_names.empty());
}

TEST(Options, ValuesThatLookOddButAreMeantAreTaken) {
  // A value that begins with "-" after "=", a lone "-" as a separate value,
  // a leading "+", and numbers too small for a double (they read as 0 or a
  // subnormal, as in the input files).
  Parse p({"--output=-x", "--report", "-", "--max-iter", "+3",
           "--min-improvement=+1e-400", "--patience=+0", "--plot", "..svg"});
  ASSERT_TRUE(p.result.options) << p.err.str();
  const Options& o = *p.result.options;
  EXPECT_EQ(o.output, "-x");
  EXPECT_EQ(o.report, "-");
  EXPECT_EQ(o.max_iter, 3);
  EXPECT_EQ(o.patience, 0);
  EXPECT_EQ(o.min_improvement, 0.0);
  EXPECT_FALSE(std::signbit(o.min_improvement));
  EXPECT_EQ(o.plot, "..svg");
  for (const auto& [text, value] : {std::pair{"1e-310", 1e-310},
                                    {"4.9e-324", 4.9e-324},
                                    {"2e-324", 0.0},
                                    {"-0", 0.0},
                                    {"-1e-400", 0.0}}) {
    const std::string arg = std::string("--min-improvement=") + text;
    Parse q({arg.c_str()});
    ASSERT_TRUE(q.result.options) << text << q.err.str();
    EXPECT_EQ(q.result.options->min_improvement, value) << text;
    EXPECT_FALSE(std::signbit(q.result.options->min_improvement)) << text;
  }
}

TEST(Options, BadValuesNameTheOptionTheValueAndTheRange) {
  // The offending option is the next-to-last argument and its value the
  // last, or both are the last one, "OPTION=VALUE"; the message is
  // "OPTION: expected WHAT, found \"VALUE\"".
  const std::string to_max = " to 9223372036854775807";
  const std::string fraction = "a number from 0 up to (not including) 1";
  const std::string name = "a file or directory name";
  const std::string plot = "a file name ending in .svg, .png or .pdf";
  const std::string profile = "parameter names separated by commas";
  const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
      {{"--max-iter", "0"}, "a whole number from 1" + to_max},
      {{"--max-iter", "ten"}, "a whole number from 1" + to_max},
      {{"--max-iter", "99999999999999999999"},
       "a whole number from 1" + to_max},
      {{"--patience", "1.5"}, "a whole number from 0" + to_max},
      {{"--min-improvement", "1"}, fraction},
      {{"--min-improvement", "nan"}, fraction},
      {{"--min-improvement", "1e999"}, fraction},
      {{"--method", "newton"}, "one of descent, lm, lbfgsb"},
      {{"--model", "spline"}, "one of grid, exact"},
      {{"--output", ""}, name},
      {{"-C", ""}, name},
      {{"--report", ""}, name},
      {{"--history", ""}, name},
      {{"--trajectory", ""}, name},
      {{"--plot", "fit.txt"}, plot},
      {{"--plot", "svg"}, plot},
      {{"--plot", ""}, plot},
      // An empty value is a value, not the default.
      {{"--max-iter", ""}, "a whole number from 1" + to_max},
      {{"--patience", ""}, "a whole number from 0" + to_max},
      {{"--min-improvement", ""}, fraction},
      {{"--method", ""}, "one of descent, lm, lbfgsb"},
      {{"--starts", "0"}, "a whole number from 1 to 1000000"},
      {{"--starts", "1000001"}, "a whole number from 1 to 1000000"},
      {{"--seed", "1.5"}, "a whole number from 0" + to_max},
      {{"--threads", "0"}, "a whole number from 1 to 256"},
      {{"--threads", "257"}, "a whole number from 1 to 256"},
      {{"--profiles", ""}, name},
      // Values written with "=", which may begin with "-".
      {{"--max-iter="}, "a whole number from 1" + to_max},
      {{"--max-iter=-5"}, "a whole number from 1" + to_max},
      {{"--patience=-1"}, "a whole number from 0" + to_max},
      {{"--min-improvement=-1e-9"}, fraction},
      // A name needs a stem before its extension.
      {{"--plot", ".svg"}, "a name before the extension .svg"},
      {{"--plot=plots/.PNG"}, "a name before the extension .PNG"},
      {{"--profile=ka,,V"}, profile},
      {{"--profile="}, profile},
      {{"--profile=2V"}, profile},
  };
  for (const auto& [args, expected] : cases) {
    std::string option = args.back(), value;
    if (const auto eq = option.find('='); eq != std::string::npos) {
      value = option.substr(eq + 1);
      option.resize(eq);
    } else {
      option = args[args.size() - 2];
      value = args.back();
    }
    ExpectUsageError(
        args, option + ": expected " + expected + ", found \"" + value + "\"");
  }
  // Values written with "=" or in one argument with their option, and
  // separate values that begin with "-", which are never taken as values.
  const std::string dash = " for a value that begins with -)";
  const std::vector<std::pair<std::vector<const char*>, std::string>> forms = {
      {{"--output=", "-q"},
       "--output: expected a file or directory name, found \"\""},
      {{"--trajectory=", "--no-pause"},
       "--trajectory: expected a file or directory name, found \"\""},
      {{"-C", "-x"},
       "-C: expected a value, found \"-x\" (write -C ./-x" + dash},
      {{"-qC", "-x"},
       "-C: expected a value, found \"-x\" (write -C ./-x" + dash},
  };
  for (const auto& [args, message] : forms) ExpectUsageError(args, message);
  for (const auto& [option, value] : {std::pair{"--output", "-q"},
                                      {"--input", "--no-pause"},
                                      {"--min-improvement", "-1e-9"}}) {
    ExpectUsageError({option, value},
                     std::string(option) + ": expected a value, found \"" +
                         value + "\" (write " + option + "=" + value + dash);
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

// A problem file argument, its defaults, and the options that belong to
// one kind of input only.
TEST(Options, ProblemFileArgumentsAndTheirOptions) {
  Parse p({"dir/fit.YML", "--separately", "--plot-log-y"});
  ASSERT_TRUE(p.result.options) << p.err.str();
  const Options& o = *p.result.options;
  EXPECT_EQ(o.problem, "dir/fit.YML");
  EXPECT_EQ(o.parameters, "dir/fit.parameters.tsv");
  EXPECT_EQ(o.fit, "dir/fit.fit.tsv");
  EXPECT_TRUE(o.separately && o.plot_log_y);
  EXPECT_EQ(input_kind(o), InputKind::kProblemFile);
  const auto choice = run_choice(o, input_kind(o));
  EXPECT_EQ(choice.model, ModelKind::kExact);
  EXPECT_EQ(choice.method, Method::kLm);
  EXPECT_EQ(choice.starts, 20);
  EXPECT_EQ(o.profiles, "");  // no --profile, no profile table
  Parse named(
      {"p.yaml", "--parameters", "a.tsv", "--fit=b.tsv", "--starts", "1"});
  ASSERT_TRUE(named.result.options);
  EXPECT_EQ(named.result.options->parameters, "a.tsv");
  EXPECT_EQ(named.result.options->fit, "b.tsv");
  EXPECT_EQ(run_choice(*named.result.options, InputKind::kProblemFile).starts,
            1);
  // --profile puts the profile points beside the other tables, unless
  // --profiles names their file.
  Parse profiled({"dir/fit.yaml", "--profile=ka"});
  ASSERT_TRUE(profiled.result.options);
  EXPECT_EQ(profiled.result.options->profiles, "dir/fit.profiles.tsv");
  Parse elsewhere({"dir/fit.yaml", "--profile", "--profiles", "p.tsv"});
  ASSERT_TRUE(elsewhere.result.options);
  EXPECT_EQ(elsewhere.result.options->profiles, "p.tsv");
  Parse convert({"--convert", "a.txt", "b.txt"});
  ASSERT_TRUE(convert.result.options);
  EXPECT_EQ(convert.result.options->input, "a.txt");
  EXPECT_EQ(convert.result.options->data, "b.txt");

  const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
      {{"input.txt"},
       "expected a problem file ending in .yaml or .yml, found \"input.txt\""},
      {{".yaml"},
       "expected a problem file ending in .yaml or .yml, found \".yaml\""},
      {{"a.yaml", "b.yaml", "c.yaml"},
       "expected at most one problem file, found 3 arguments: \"a.yaml\", "
       "\"b.yaml\", ..."},
      {{"--separately"},
       "--separately: expected a problem file argument (identify PROBLEM.yaml "
       "--separately ...), found none"},
      {{"--fit", "f.tsv"},
       "--fit: expected a problem file argument (identify PROBLEM.yaml --fit "
       "...), found none"},
      {{"p.yaml", "--output", "o.txt"},
       "--output: expected no legacy file with a problem file (its results "
       "go to --parameters and --fit), found \"o.txt\""},
      {{"p.yaml", "--data", "d.txt"},
       "--data: expected no legacy file with a problem file (its results go "
       "to --parameters and --fit), found \"d.txt\""},
      {{"p.yaml", "--parameters", ""},
       "--parameters: expected a file or directory name, found \"\""},
      {{"--convert", "a.txt"},
       "--convert: expected the problem file and the measurement file "
       "(input.txt input_data.txt) or nothing, found 1 file name"},
  };
  for (const auto& [args, message] : cases) ExpectUsageError(args, message);
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

// --help states the default of each input where the two differ: the legacy
// files run the original descent on the grid from one start, a problem file
// lm on the exact model from several.
TEST(Options, HelpGivesTheDefaultsOfEachInput) {
  const testing::ScratchDir dir;
  const testing::RunResult help = dir.run("--help");
  ASSERT_EQ(help.exit_code, 0);
  std::string text;  // the help text with its line breaks and indents folded
  for (const char c : help.out) {
    if (c == '\n' || c == ' ') {
      if (!text.empty() && text.back() != ' ') text += ' ';
    } else {
      text += c;
    }
  }
  for (const char* expected :
       {"(default: descent for the legacy files, lm for a problem file; "
        "lbfgsb for a problem file with a laplace distribution)",
        "(default: grid for the legacy files, exact for a problem file)",
        "(default: 1 for the legacy files, 20 for a problem file)"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected;
  }
  EXPECT_EQ(text.find("descent (default)"), std::string::npos);
  EXPECT_EQ(text.find("grid (default"), std::string::npos);
}

}  // namespace
}  // namespace identify
