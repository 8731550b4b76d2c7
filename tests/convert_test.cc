// --convert through the built program: every legacy example converts into a
// problem file whose fit (exact model and lm, the problem file's defaults)
// reaches the optimum of `--model exact --method lm` on the legacy files,
// and the data table lands beside the problem file, or in the working
// directory when standard output is not a file, never over other content.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "run_binary.h"

namespace identify::testing {
namespace {

// The matrix of an output.txt, row after row.
std::vector<std::vector<double>> matrix_of(const std::string& text) {
  std::vector<std::vector<double>> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream numbers(line);
    rows.emplace_back();
    for (double v; numbers >> v;) rows.back().push_back(v);
  }
  return rows;
}

// input.txt with epsilon 0: a problem file has no tolerance, so the
// legacy run must not stop at one either to reach the same optimum.
std::string without_tolerance(const std::string& input) {
  std::istringstream lines(input);
  std::string text;
  bool replaced = false;
  for (std::string line; std::getline(lines, line);) {
    if (!replaced && !line.empty() && line[0] != '%') {
      line = "0";
      replaced = true;
    }
    text += line + "\n";
  }
  return text;
}

TEST(Convert, LegacyExamplesReachTheLegacyOptimum) {
  for (const char* example : {"worked", "worked_as_given", "known_matrix",
                              "alpha_pinene", "theophylline"}) {
    SCOPED_TRACE(example);
    ScratchDir dir(example);
    dir.write("input.txt", without_tolerance(dir.read("input.txt")));
    const RunResult legacy = dir.run("--model exact --method lm -q");
    const auto A = matrix_of(dir.read("output.txt"));
    dir.write("problem.yaml", "");
    RunSetup to_file;
    to_file.stdout_file = "problem.yaml";
    const RunResult convert = dir.run_with({"--convert"}, to_file);
    ASSERT_EQ(convert.exit_code, 0) << convert.err;
    EXPECT_NE(dir.read("problem.yaml").find("\ndata: problem.csv\n"),
              std::string::npos);
    const RunResult fit = dir.run("problem.yaml -q");
    EXPECT_EQ(fit.exit_code, legacy.exit_code) << fit.err;
    // Every entry that is a parameter (a<row><col>) against output.txt,
    // which has six significant digits.
    std::istringstream table(dir.read("problem.parameters.tsv"));
    std::string line;
    std::getline(table, line);
    int entries = 0;
    while (std::getline(table, line)) {
      const std::string name = line.substr(0, line.find('\t'));
      const double estimate = std::stod(line.substr(name.size() + 1));
      const std::size_t row = name[1] - '1';
      const std::size_t col = name[2] - '1';
      EXPECT_NEAR(estimate, A[row][col], 5e-6 * std::abs(A[row][col]) + 1e-12)
          << name;
      ++entries;
    }
    EXPECT_GT(entries, 0);
  }
}

TEST(Convert, TheTableGoesBesideTheProblemFileOrIntoTheWorkingDirectory) {
  ScratchDir dir("worked");
  std::filesystem::create_directory(dir.file("out"));
  dir.write("out/p.yaml", "");
  RunSetup to_file;
  to_file.stdout_file = "out/p.yaml";
  const RunResult beside =
      dir.run_with({"--convert", "input.txt", "input_data.txt"}, to_file);
  EXPECT_EQ(beside.exit_code, 0) << beside.err;
  const std::string table = dir.read("out/p.csv");
  EXPECT_EQ(table.rfind("observable,time,measurement\nx1,2.5,0.41999", 0), 0u);

  // Standard output a pipe: named after the measurement file, here; again
  // with the same content, left as it is.
  for (int run = 0; run < 2; ++run) {
    const RunResult piped = dir.run_with({"--convert"}, RunSetup{});
    EXPECT_EQ(piped.exit_code, 0) << piped.err;
    EXPECT_EQ(piped.err, "");
    EXPECT_NE(piped.out.find("\ndata: input_data.csv\n"), std::string::npos);
    EXPECT_EQ(dir.read("input_data.csv"), table);
  }
  dir.write("input_data.csv", "other\n");
  const RunResult taken = dir.run_with({"--convert"}, RunSetup{});
  EXPECT_EQ(taken.exit_code, 4);
  EXPECT_EQ(taken.out, "");
  EXPECT_EQ(taken.err,
            "identify: cannot write input_data.csv: a file of that name with "
            "other content exists; remove it, or convert to a problem file of "
            "another name\n");
  EXPECT_EQ(dir.read("input_data.csv"), "other\n");

  // Standard output that is a legacy file (`--convert > input.txt`, which
  // the shell empties first) is refused before anything is read.
  for (const char* name : {"input.txt", "input_data.txt"}) {
    RunSetup onto_input;
    onto_input.stdout_file = name;
    const RunResult r = dir.run_with({"--convert"}, onto_input);
    EXPECT_EQ(r.exit_code, 2) << name;
    EXPECT_EQ(r.err,
              std::string("identify: --convert: expected standard "
                          "output other than ") +
                  (std::string(name) == "input.txt" ? "--input" : "--data") +
                  ", found \"" + name +
                  "\" (the shell empties it before the run)\n");
  }

  // Faults in the legacy files are input errors, as in a fit.
  const RunResult missing = dir.run("--convert no.txt input_data.txt");
  EXPECT_EQ(missing.exit_code, 3);
  EXPECT_EQ(missing.err,
            "identify: no.txt: cannot open: No such file or directory\n");
}

}  // namespace
}  // namespace identify::testing
