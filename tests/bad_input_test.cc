// Bad input files through the built program, for one fault of each kind: the
// exact diagnostics on stderr (warnings first), the input-error exit code,
// nothing on stdout but the confirmation of a problem file that loaded, and
// no result file. The readers' own tests hold every message.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "run_binary.h"

namespace identify::testing {
namespace {

const char* kGoodProblem =
    "0.45\n10\n0.01\n2\n1\n1 2 0.5\n1\n2 1 -1 1\n[1 0]\n[0 1]\n[0 -0.5]\n";
const char* kGoodData =
    "2\n1 2\n4\n2.5 0.42\n5 0.37\n7.5 0.31\n10 0.27\n"
    "2.5 0.61\n5 0.88\n7.5 1.02\n10 1.05\n";

TEST(BadInput, EachFileIsRejectedWithItsPlaceAndReason) {
  const char* P = kGoodProblem;
  const char* D = kGoodData;
  const struct {
    const char* problem;  // nullptr: no such file
    const char* data;
    std::string err;
  } cases[] = {
      {nullptr, nullptr,
       "identify: input.txt: cannot open: No such file or directory\n"},
      {P, nullptr,
       "identify: input_data.txt: cannot open: No such file or directory\n"},
      {"0.45\n10\nabc\n", D,
       "identify: input.txt:3:1: expected a number, found \"abc\"\n"},
      {"0.45\n10\n0.01\n2\n1\n1 2 0.5\n1\n2 1 -1 1\n[1 0]\n[0 1]\n[0\n", D,
       "identify: input.txt:11:3: expected 19 numbers for dim 2 with 1 fixed "
       "and 1 bounded entries, found 18\n"},
      // An indented line is skipped; its warning comes before the error that
      // the missing numbers then cause.
      {"0.45\n10\n0.01\n2\n0\n0\n 1 0\n0 1\n0 -0.5\n", D,
       "identify: input.txt:7: warning: line starts with a blank or tab, its "
       "numbers are ignored: \"1 0\"\n"
       "identify: input.txt:9:7: expected 12 numbers for dim 2 with 0 fixed "
       "and 0 bounded entries, found 10\n"},
      // The measurement file takes no brackets.
      {P, "2\n[1 2]\n4\n",
       "identify: input_data.txt:2:1: expected a number, found \"[1\"\n"},
      // A hexadecimal-looking number is two numbers, which shifts the rest:
      // the warning says why the time is wrong.
      {P,
       "2\n1 2\n4\n2.5 0.42\n5 0x37\n7.5 0.31\n10 0.27\n2.5 0.61\n5 0.88\n"
       "7.5 1.02\n10 1.05\n",
       "identify: input_data.txt:5: warning: \"0x37\" is read as 0 and 37: the "
       "\"x\" after 0 is taken as a separator\n"
       "identify: input_data.txt:5:5: expected a time from 0 to 10, found "
       "37\n"},
      // Times are checked against T of the problem file.
      {P,
       "2\n1 2\n4\n2.5 0.42\n5 0.37\n7.5 0.31\n12 0.27\n2.5 0.61\n5 0.88\n"
       "7.5 1.02\n10 1.05\n",
       "identify: input_data.txt:7:1: expected a time from 0 to 10, found "
       "12\n"},
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    if (c.problem != nullptr) dir.write("input.txt", c.problem);
    if (c.data != nullptr) dir.write("input_data.txt", c.data);
    const RunResult r = dir.run();
    EXPECT_EQ(r.exit_code, 3) << c.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, c.problem == kGoodProblem
                         ? "File was successfully loaded!\n\n"
                         : "")
        << c.err;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "output.txt")) << c.err;
  }
}

TEST(BadInput, WarningsAloneDoNotStopTheRun) {
  ScratchDir dir("worked");
  dir.write("input.txt", std::string(kGoodProblem) + " 7 % ignored\n");
  dir.write("input_data.txt", std::string(kGoodData) + "12.5 1.1\n");
  const RunResult r = dir.run("-q");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err,
            "identify: input.txt:12: warning: line starts with a blank or "
            "tab, its numbers are ignored: \"7\"\n"
            "identify: input_data.txt:12: warning: 2 numbers after the last "
            "sample are ignored\n");
}

// A FIFO without a writer and an endless device are refused at once, before
// anything is read from them.
TEST(BadInput, OnlyRegularFilesAreRead) {
  for (const char* name : {"input.txt", "input_data.txt"}) {
    ScratchDir dir;
    dir.write("input.txt", kGoodProblem);
    dir.write("input_data.txt", kGoodData);
    std::filesystem::remove(dir.file(name));
    if (std::string(name) == "input.txt") {
      ASSERT_EQ(mkfifo(dir.file(name).c_str(), 0600), 0);
    } else {
      std::filesystem::create_symlink("/dev/zero", dir.file(name));
    }
    const RunResult r = dir.run();
    EXPECT_EQ(r.exit_code, 3) << name;
    EXPECT_EQ(r.err,
              "identify: " + std::string(name) + ": not a regular file\n");
  }
}

}  // namespace
}  // namespace identify::testing
