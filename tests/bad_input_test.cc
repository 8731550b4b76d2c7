// Bad input files through the built program: each case is one file (or a
// pair), the exact message on stderr, the input-error exit code, no success
// line for the bad file and no result file.
#include <gtest/gtest.h>

#include "run_binary.h"

namespace identify::testing {
namespace {

const char* kGoodProblem =
    "0.45\n10\n0.01\n2\n1\n1 2 0.5\n1\n2 1 -1 1\n[1 0]\n[0 1]\n[0 -0.5]\n";
const char* kGoodData =
    "2\n1 2\n4\n2.5 0.42\n5 0.37\n7.5 0.31\n10 0.27\n"
    "2.5 0.61\n5 0.88\n7.5 1.02\n10 1.05\n";
const char* kProblemLoaded = "File was successfully loaded!\n\n";

struct BadCase {
  std::string problem;
  std::string data;
  std::string message;  // stderr without the "identify: " prefix
};

void expect_rejected(const BadCase& c) {
  ScratchDir dir;
  dir.write("input.txt", c.problem);
  dir.write("input_data.txt", c.data);
  const RunResult r = run_identify(dir.path());
  EXPECT_EQ(r.exit_code, 3) << c.message;
  EXPECT_EQ(r.err, "identify: " + c.message + "\n");
  const bool problem_is_good = c.problem == kGoodProblem;
  // A bad problem file prints nothing; a bad measurement file only the
  // problem file's confirmation.
  EXPECT_EQ(r.out, problem_is_good ? kProblemLoaded : "") << c.message;
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "output.txt"))
      << c.message;
}

TEST(BadInput, EachFileIsRejectedWithItsPlaceAndReason) {
  const std::string P = kGoodProblem, D = kGoodData;
  const std::vector<BadCase> cases = {
      {"0.45\n10\nabc\n", D,
       "input.txt:3:1: expected a number, found \"abc\""},
      {"0.45\n10\n0.01\n2\n1\n1 2 0.5\n1\n2 1 -1 1\n[[1 0]\n[0 1]\n[0 -0.5]\n",
       D, "input.txt:9:2: expected a number, found \"[1\""},
      {"0.45\n10\n0.01\n2\n1\n1 2 0.5\n1\n2 1 -1 1\n[1 0]\n[0 1]\n[0\n", D,
       "input.txt:11:3: expected 19 numbers for dim 2 with 1 fixed and 1 "
       "bounded entries, found 18"},
      {"", D,
       "input.txt:1:1: expected at least 6 numbers (epsilon, T, opt_par, dim "
       "and the two entry counts), found 0"},
      {"0.45\n10\n0.01\n-2\n0\n0\n", D,
       "input.txt:4:1: expected a dimension of 0 or more, found -2"},
      {"0.45\n10\n0.01\n2\n-1\n0\n[1 0]\n[0 1]\n[0 -0.5]\n", D,
       "input.txt:5:1: expected a number of fixed entries of 0 or more, "
       "found -1"},
      {"0.45\n10\n0.01\n2\n1\n3 2 0.5\n1\n2 1 -1 1\n[1 0]\n[0 1]\n[0 -0.5]\n",
       D, "input.txt:6:1: expected a row number from 1 to 2, found 3"},
      {"0.45\n10\n0.01\n2\n1\n1 2 0.5\n1\n2 1 1 -1\n[1 0]\n[0 1]\n[0 -0.5]\n",
       D,
       "input.txt:8:5: expected a lower bound not above its upper bound -1, "
       "found 1"},
      {"-0.45\n10\n0.01\n2\n0\n0\n[1 0]\n[0 1]\n[0 -0.5]\n", D,
       "input.txt:1:1: expected epsilon of 0 or more, found -0.45"},
      {"0.45\n0\n0.01\n2\n0\n0\n[1 0]\n[0 1]\n[0 -0.5]\n", D,
       "input.txt:2:1: expected T above 0, found 0"},
      {"0.45\n10\n0\n2\n0\n0\n[1 0]\n[0 1]\n[0 -0.5]\n", D,
       "input.txt:3:1: expected opt_par above 0, found 0"},
      {"0.45\n10\n0.01\n2\n0\n0\n[1 0]\n[0 1e999]\n[0 -0.5]\n", D,
       "input.txt:8:4: expected a finite number, found \"1e999\""},
      {"0.45\n10\n0.01\n1e9\n0\n0\n", D,
       "input.txt:6:2: expected 3000000006 numbers for dim 1000000000 with 0 "
       "fixed and 0 bounded entries, found 6"},
      {P, "2\n1 2\n4\n2.5 0.42\n5 0.37\n",
       "input_data.txt:5:7: expected 20 numbers for 2 series of 4 samples, "
       "found 8"},
      {P, "2\n1 3\n4\n",
       "input_data.txt:2:3: expected a component number from 1 to 2, found 3"},
      {P,
       "2\n1 2\n4\n2.5 0.42\n5 0.37\n7.5 0.31\n12 0.27\n2.5 0.61\n5 0.88\n"
       "7.5 1.02\n10 1.05\n",
       "input_data.txt:7:1: expected a time from 0 to 10, found 12"},
      {P, "2\n[1 2]\n4\n",
       "input_data.txt:2:1: expected a number, found \"[1\""},
      {P, "-1\n1\n0\n",
       "input_data.txt:1:1: expected a number of series of 0 or more, found "
       "-1"},
      {P, "1\n1\n-4\n",
       "input_data.txt:3:1: expected a number of samples of 0 or more, found "
       "-4"},
      {P, "1\n1\n2\n1 x\n",
       "input_data.txt:4:3: expected a number, found \"x\""},
  };
  for (const BadCase& c : cases) expect_rejected(c);
}

TEST(BadInput, MissingFilesAndSkippedLines) {
  {  // No problem file.
    ScratchDir dir;
    const RunResult r = run_identify(dir.path());
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.err,
              "identify: input.txt: cannot open: No such file or directory\n");
    EXPECT_EQ(r.out, "");
  }
  {  // No measurement file.
    ScratchDir dir;
    dir.write("input.txt", kGoodProblem);
    const RunResult r = run_identify(dir.path());
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.err,
              "identify: input_data.txt: cannot open: No such file or "
              "directory\n");
    EXPECT_EQ(r.out, kProblemLoaded);
  }
  {  // An indented line is skipped; its warning comes before the error that
     // the missing numbers then cause.
    ScratchDir dir;
    dir.write("input.txt", "0.45\n10\n0.01\n2\n0\n0\n 1 0\n0 1\n0 -0.5\n");
    dir.write("input_data.txt", kGoodData);
    const RunResult r = run_identify(dir.path());
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.err,
              "identify: input.txt:7: warning: line starts with a blank or "
              "tab, its numbers are ignored: \"1 0\"\n"
              "identify: input.txt:9:7: expected 12 numbers for dim 2 with 0 "
              "fixed and 0 bounded entries, found 10\n");
  }
  {  // A warning alone does not stop the run.
    ScratchDir dir;
    dir.copy_example("worked");
    dir.write("input.txt", std::string(kGoodProblem) + " 7 % ignored\n");
    const RunResult r = run_identify(dir.path(), "-q");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err,
              "identify: input.txt:12: warning: line starts with a blank or "
              "tab, its numbers are ignored: \"7\"\n");
  }
}

}  // namespace
}  // namespace identify::testing
