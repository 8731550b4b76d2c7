// Bad input files through the built program, for one fault of each kind: the
// exact diagnostics on stderr (warnings first), the input-error exit code,
// nothing on stdout but the confirmation of a problem file that loaded, and
// no result file; and the same for problem files and their data tables. The
// readers' own tests hold every message.
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

// The problem file and its data tables through the program: one fault of
// each kind, each with its exact message and the input-error exit code,
// nothing on stdout and no file written. The reader's own tests place every
// message; this shows that the run stops on each before any work.
const char* kGoodYaml = R"(states: [gut, central]
parameters:
  ka: {lower: 0.01, upper: 20, scale: log10, value: 1}
  ke: {lower: 0.001, upper: 5, scale: log, value: 0.1}
  V:  {lower: 0.01, upper: 10, value: 0.5}
  F:  {value: 1, estimate: false}
matrix:
  gut:     {gut: -ka}
  central: {gut: ka, central: -ke}
observables:
  conc: {states: {central: 1/V}, sigma: 0.5}
experiments:
  - {id: s1, x0: {gut: 4.02 * F}}
  - {id: s2, x0: {gut: 4.40 * F}, parameters: {ka: 2}}
data: data.csv
)";
const char* kGoodTable =
    "experiment,observable,time,measurement\ns1,conc,0.25,2.84\n"
    "s2,conc,0.5,6.1\n";

// `text` with its first `from` replaced by `to` (which must be there).
std::string edited(const std::string& text, const std::string& from,
                   const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at == std::string::npos) return text;
  return text.substr(0, at) + to + text.substr(at + from.size());
}

TEST(BadInput, ProblemFilesAndTablesAreRejectedBeforeAnyWork) {
  const std::string Y = kGoodYaml;
  const std::string D = kGoodTable;
  const std::string header = "experiment,observable,time,measurement\n";
  const struct {
    std::string problem;  // empty: no problem.yaml
    std::string data;     // empty: no data.csv
    std::string message;  // after "identify: "
  } cases[] = {
      {"", D, "problem.yaml: cannot open: No such file or directory"},
      {Y, "", "data.csv: cannot open: No such file or directory"},
      {edited(Y, "central]", "central"), D,
       "problem.yaml:2:11: expected valid YAML, found a syntax error: end of "
       "sequence flow not found"},
      {edited(Y, "  V: ", "\tV: "), D,
       "problem.yaml:5:1: expected blanks for indentation, found a tab"},
      {edited(Y, "matrix:", "matrx:"), D,
       "problem.yaml:7:1: expected states, parameters, matrix, inputs, "
       "observables, experiments, doses or data, found \"matrx\""},
      {edited(Y, "data: data.csv\n", ""), D,
       "problem.yaml:1:1: expected a key \"data\", found none"},
      {edited(Y, "  F:", "  V:"), D,
       "problem.yaml:6:3: expected a key not given before in this mapping, "
       "found \"V\""},
      {edited(Y, "{value: 1, estimate: false}", "1"), D,
       "problem.yaml:6:7: expected a mapping of lower, upper, scale, value and "
       "estimate, found \"1\""},
      {edited(Y, "  V: ", "  2V:"), D,
       "problem.yaml:5:3: expected a parameter name (letters, digits and "
       "underscores, not starting with a digit), found \"2V\""},
      {edited(Y, "[gut, central]", "[gut, gut]"), D,
       "problem.yaml:1:15: expected a state name not used before, found "
       "\"gut\""},
      {edited(Y, "[gut, central]", "[]"), D,
       "problem.yaml:1:9: expected at least one state, found none"},
      {edited(Y, "upper: 20", "upper: five"), D,
       "problem.yaml:3:28: expected a number for upper, found \"five\""},
      {edited(Y, "estimate: false", "estimate: no"), D,
       "problem.yaml:6:28: expected true or false for estimate, found \"no\""},
      {edited(Y, "scale: log,", "scale: ln,"), D,
       "problem.yaml:4:39: expected a scale lin, log or log10, found \"ln\""},
      {edited(Y, "lower: 0.01, upper: 10", "lower: 11, upper: 10"), D,
       "problem.yaml:5:3: parameter V: expected a lower bound not above the "
       "upper bound 10, found 11"},
      {edited(Y, "value: 0.5", "value: 12"), D,
       "problem.yaml:5:3: parameter V: expected a value from 0.01 to 10, "
       "found 12"},
      {edited(Y, "lower: 0.001", "lower: 0"), D,
       "problem.yaml:4:15: expected parameter ke: a lower bound above 0 for a "
       "log-scaled parameter, found 0"},
      {edited(Y, "{value: 1, estimate: false}", "{estimate: false}"), D,
       "problem.yaml:6:3: expected parameter F: a value for a parameter that "
       "is not estimated, found none"},
      {edited(Y, "central: -ke}", "central: -kel}"), D,
       "problem.yaml:9:32: expected a declared parameter, found \"kel\""},
      {edited(Y, "1/V}", "1/(V}"), D,
       "problem.yaml:11:32: expected \")\", found end of expression"},
      {edited(Y, "{gut: -ka}",
              "{gut: \"" + std::string(20000, '(') + "ka" +
                  std::string(20000, ')') + "\"}"),
       D,
       "problem.yaml:8:1019: expected nesting at most 1000 levels deep "
       "(parentheses, functions and signs), found \"(\""},
      {edited(Y, "{gut: -ka}", "{gut: \"" + std::string(50000, '-') + "ka\"}"),
       D,
       "problem.yaml:8:1019: expected nesting at most 1000 levels deep "
       "(parentheses, functions and signs), found \"-\""},
      {edited(Y, "{gut: ka,", "{blood: ka,"), D,
       "problem.yaml:9:13: expected a state (gut, central), found \"blood\""},
      {edited(Y, "sigma: 0.5", "sigma: 0"), D,
       "problem.yaml:11:41: expected a sigma above 0, found 0"},
      {edited(Y, "id: s2", "id: s1"), D,
       "problem.yaml:14:10: expected an experiment id not used before, found "
       "\"s1\""},
      {edited(Y, "{ka: 2}", "{kb: 2}"), D,
       "problem.yaml:14:48: experiment s2: expected a declared parameter to "
       "override, found \"kb\""},
      {edited(Y, "x0: {gut: 4.02 * F}}",
              "x0: {gut: 4.02 * F}, doses: [{time: 0, state: gut, amount: 1, "
              "duration: 0}]}"),
       D,
       "problem.yaml:13:43: expected an infusion duration above 0 (for a dose "
       "given at once, use a bolus: no duration), found 0"},
      {edited(Y, "data: data.csv", "data: []"), D,
       "problem.yaml:15:7: expected at least one data table, found none"},
      {Y, header,
       "problem.yaml:15:7: expected at least one measurement in data.csv, "
       "found none"},
      {Y, header + "s1,conc,0.25,NA\ns2,conc,1,\n",
       "problem.yaml:15:7: expected at least one measurement in data.csv, "
       "found none (2 missing values)"},
      {edited(Y, "x0: {gut: 4.02 * F}}",
              "x0: {gut: 4.02 * F}, doses: [{time: 1, state: gut, amount: 1, "
              "duration: 1e-16}]}"),
       D,
       "problem.yaml:13:43: expected an infusion duration whose end differs "
       "from its start time 1 in double precision, found 1e-16"},
      {edited(Y, "data: data.csv", "data: [data.csv, ./data.csv]"), D,
       "problem.yaml:15:18: expected a table not named before, found "
       "\"./data.csv\", named before at 15:8"},
      {edited(Y, "data: data.csv",
              "data: " + std::string(600, '[') + std::string(600, ']')),
       D,
       "problem.yaml:15:1207: expected valid YAML, found a node nested deeper "
       "than 499 levels"},
      {edited(Y, "{gut: -ka}", std::string("{gut: -k\0a}", 11)), D,
       "problem.yaml:8:20: expected text, found a NUL byte"},
      {edited(Y, "data: data.csv", "data: \"data\\0.csv\""), D,
       "problem.yaml:15:7: expected a file name, found \"data\\x00.csv\""},
      {edited(Y, "sigma: 0.5", "sigma: V - 0.5"), D,
       "problem.yaml:11:41: expected a sigma above 0 at the parameters' "
       "values, found 0 in experiment s1"},
      {Y, "\n", "data.csv:1:1: expected a header row, found end of file"},
      {Y, edited(D, "time", "tme"),
       "data.csv:1:23: expected a column experiment, observable, time, "
       "measurement or sigma, found \"tme\""},
      {Y, edited(D, "experiment,", ""),
       "data.csv:1:1: expected a column \"experiment\" (the problem has 2 "
       "experiments), found none"},
      {Y, header + "s1,conc,0.25,2.84,7\n",
       "data.csv:2:19: expected 4 fields as in the header, found 5"},
      {Y, header + "s3,conc,0.25,2.84\n",
       "data.csv:2:1: expected an experiment (s1, s2), found \"s3\""},
      {Y, header + "s1,Conc,0.25,2.84\n",
       "data.csv:2:4: expected an observable (conc), found \"Conc\""},
      {Y, header + "s1,conc,0.25,\"2,84\"\n",
       "data.csv:2:14: expected a number with a decimal point, found "
       "\"2,84\""},
      {Y, header + "s1,conc,0.25,high\n",
       "data.csv:2:14: expected a number, found \"high\""},
      {Y, header + "s1,conc,0.25,1e999\n",
       "data.csv:2:14: expected a finite number, found \"1e999\""},
      {Y, header + "s1,conc,-0.5,2.84\n",
       "data.csv:2:9: expected a time of 0 or more, found \"-0.5\""},
      {Y, header + "s1,conc,NA,2.84\n",
       "data.csv:2:9: expected a time, found \"NA\""},
      {Y, header + "s1,conc,0.25,\"2.84\n",
       "data.csv:2:14: expected a closing quote for this field, found end of "
       "file"},
  };
  EXPECT_GE(std::size(cases), 25u);
  for (const auto& c : cases) {
    ScratchDir dir;
    if (!c.problem.empty()) dir.write("problem.yaml", c.problem);
    if (!c.data.empty()) dir.write("data.csv", c.data);
    const std::vector<std::string> before = dir.names();
    const RunResult r = dir.run("problem.yaml --report fit.txt");
    EXPECT_EQ(r.exit_code, 3) << c.message;
    EXPECT_EQ(r.err, "identify: " + c.message + "\n");
    EXPECT_EQ(r.out, "") << c.message;
    EXPECT_EQ(dir.names(), before) << c.message;
  }
}

// Files that are not what a table or problem file can be: a directory, a
// FIFO without a writer, a file beyond the size limit (sparse: nothing is
// read before its size is checked).
TEST(BadInput, ProblemFilesMustBeRegularFilesOfBoundedSize) {
  const struct {
    const char* kind;
    std::string message;
  } cases[] = {
      {"directory", "problem.yaml: cannot read: Is a directory"},
      {"fifo", "problem.yaml: not a regular file"},
      {"huge",
       "problem.yaml: expected a file of at most 16 MiB, found "
       "16777217 bytes"},
      {"huge table",
       "data.csv: expected a file of at most 256 MiB, found "
       "268435457 bytes"},
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    dir.write("problem.yaml", kGoodYaml);
    dir.write("data.csv", kGoodTable);
    const std::string kind = c.kind;
    const std::string name = kind == "huge table" ? "data.csv" : "problem.yaml";
    if (kind == "directory" || kind == "fifo") {
      std::filesystem::remove(dir.file(name));
      if (kind == "directory") {
        std::filesystem::create_directory(dir.file(name));
      } else {
        ASSERT_EQ(mkfifo(dir.file(name).c_str(), 0600), 0);
      }
    } else {
      std::filesystem::resize_file(
          dir.file(name), kind == "huge" ? (16u << 20) + 1 : (256u << 20) + 1);
    }
    const RunResult r = dir.run("problem.yaml");
    EXPECT_EQ(r.exit_code, 3) << kind;
    EXPECT_EQ(r.err, "identify: " + c.message + "\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("problem.parameters.tsv")));
  }
}
}  // namespace
}  // namespace identify::testing
