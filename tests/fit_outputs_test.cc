// The optional fit outputs through the built program: the default run is
// untouched by them, the report carries the published numbers of the
// theophylline case, and a file that cannot be written costs neither
// output.txt nor the other outputs.
#include <gtest/gtest.h>

#include <algorithm>

#include "run_binary.h"

namespace identify::testing {
namespace {

TEST(FitOutputs, WrittenBesideAnUnchangedRun) {
  const std::string fit = "--model exact --method lm";
  ScratchDir plain("theophylline");
  const RunResult base = plain.run(fit);
  ScratchDir dir("theophylline");
  const RunResult r =
      dir.run(fit + " --report fit.txt --trajectory traj.csv --plot fit.svg");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(base.exit_code, 0);
  EXPECT_EQ(mask_time(r.out), mask_time(base.out));
  EXPECT_EQ(r.err, base.err);
  EXPECT_EQ(dir.read("output.txt"), plain.read("output.txt"));
  EXPECT_EQ(dir.names(), (std::vector<std::string>{
                             "README.md", "fit.svg", "fit.txt", "input.txt",
                             "input_data.txt", "output.txt", "traj.csv"}));

  // Residual standard error 0.732 on 8 degrees of freedom, as published.
  const std::string report = dir.read("fit.txt");
  for (const char* line :
       {"  residual standard error s   0.73195   sqrt(SSR/(n - p)), on 8 "
        "degrees of freedom\n",
        "  method                      lm\n  model                       "
        "exact\n",
        "  residuals n                 11\n",
        "  a12       0             fixed\n",
        "  stop                        converged: lm: function tolerance "
        "reached: "}) {
    EXPECT_NE(report.find(line), std::string::npos) << line << report;
  }

  const std::string traj = dir.read("traj.csv");
  EXPECT_EQ(traj.rfind("t,x1,x2\n0,4.0199999999999996,0\n", 0), 0u);
  EXPECT_EQ(std::count(traj.begin(), traj.end(), '\n'), 3002);
  EXPECT_NE(traj.find("\n24.370000000000001,"), std::string::npos);
  EXPECT_NE(dir.read("fit.svg").find("<svg"), std::string::npos);

  // "-" sends the report to standard error, after the verdict.
  const RunResult to_err = dir.run(fit + " --report -");
  EXPECT_EQ(to_err.err.rfind(base.err + "Fit report\n\nRun\n", 0), 0u)
      << to_err.err;
  EXPECT_EQ(to_err.err.find(report.substr(report.find("Residuals"))),
            to_err.err.size() - report.size() + report.find("Residuals"));
}

TEST(FitOutputs, UnwritableFilesAreReportedAndTheOthersStillWritten) {
  ScratchDir dir("worked");
  const RunResult r = dir.run(
      "-q --report no/such/fit.txt --trajectory no/such/t.csv --plot fit.png");
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_EQ(r.err,
            "identify: cannot write no/such/fit.txt: No such file or "
            "directory\n"
            "identify: cannot write no/such/t.csv: No such file or "
            "directory\n");
  EXPECT_EQ(dir.read("output.txt"),
            example_file("worked", "expected_output.txt"));
  EXPECT_EQ(dir.read("fit.png").rfind("\x89PNG", 0), 0u);
}

}  // namespace
}  // namespace identify::testing
