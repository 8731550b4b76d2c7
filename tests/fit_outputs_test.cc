// The optional fit outputs through the built program: the default run is
// untouched by them, the report carries the published numbers of the
// theophylline case, and a file that cannot be written costs neither
// output.txt nor the other outputs.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "run_binary.h"

namespace identify::testing {
namespace {

std::set<std::string> files_in(const std::filesystem::path& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.insert(e.path().filename().string());
  }
  return names;
}

TEST(FitOutputs, WrittenBesideAnUnchangedRun) {
  const std::string fit = "--model exact --method lm";
  ScratchDir plain;
  plain.copy_example("theophylline");
  const RunResult base = run_identify(plain.path(), fit);
  ScratchDir dir;
  dir.copy_example("theophylline");
  const RunResult r = run_identify(
      dir.path(),
      fit + " --report fit.txt --trajectory traj.csv --plot fit.svg");
  EXPECT_EQ(r.exit_code, 9) << r.err;
  EXPECT_EQ(base.exit_code, 9);
  EXPECT_EQ(mask_time(r.out), mask_time(base.out));
  EXPECT_EQ(r.err, base.err);
  EXPECT_EQ(dir.read("output.txt"), plain.read("output.txt"));
  EXPECT_EQ(files_in(dir.path()),
            (std::set<std::string>{"README.md", "input.txt", "input_data.txt",
                                   "output.txt", "fit.txt", "traj.csv",
                                   "fit.svg"}));

  // Residual standard error 0.732 on 8 degrees of freedom, as published.
  const std::string report = dir.read("fit.txt");
  EXPECT_NE(report.find("  residual standard error s   0.73195   "
                        "sqrt(SSR/(n - p)), on 8 degrees of freedom\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("  residuals n                 11\n"),
            std::string::npos);
  EXPECT_NE(report.find("  a12       0             fixed\n"),
            std::string::npos);
  EXPECT_NE(report.find("  stop                        lm: function "
                        "tolerance reached: "),
            std::string::npos);

  const std::string traj = dir.read("traj.csv");
  EXPECT_EQ(traj.rfind("t,x1,x2\n0,4.0199999999999996,0\n", 0), 0u);
  EXPECT_EQ(std::count(traj.begin(), traj.end(), '\n'), 3002);
  EXPECT_NE(traj.find("\n24.370000000000001,"), std::string::npos);
  EXPECT_NE(dir.read("fit.svg").find("<svg"), std::string::npos);

  // "-" sends the report to standard error, after the verdict.
  const RunResult to_err = run_identify(dir.path(), fit + " --report -");
  EXPECT_EQ(to_err.err.rfind(base.err + "Fit report\n\nRun\n", 0), 0u)
      << to_err.err;
  EXPECT_EQ(to_err.err.find(report.substr(report.find("Residuals"))),
            to_err.err.size() - report.size() + report.find("Residuals"));
}

TEST(FitOutputs, UnwritableFilesAreReportedAndTheResultKept) {
  ScratchDir dir;
  dir.copy_example("worked");
  const RunResult r = run_identify(
      dir.path(),
      "--report no/such/fit.txt --trajectory no/such/t.csv --plot "
      "no/such/fit.png");
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_EQ(r.err,
            "identify: cannot write no/such/fit.txt: No such file or "
            "directory\n"
            "identify: cannot write no/such/t.csv: No such file or "
            "directory\n"
            "identify: cannot write no/such/fit.png: No such file or "
            "directory\n");
  EXPECT_EQ(dir.read("output.txt"),
            read_file(std::filesystem::path(IDENTIFY_EXAMPLES_DIR) / "worked" /
                      "expected_output.txt"));

  // One bad file does not stop the others.
  const RunResult one = run_identify(
      dir.path(), "-q --report no/such/fit.txt --trajectory t.csv");
  EXPECT_EQ(one.exit_code, 4);
  EXPECT_EQ(dir.read("t.csv").rfind("t,x1,x2\n", 0), 0u);
}

}  // namespace
}  // namespace identify::testing
