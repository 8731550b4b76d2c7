// Problem files through the built program, on the shipped examples: the
// published or true values, R's standard errors, the result tables, the
// console table, the report's chi-square, --separately against R's fits of
// every theophylline subject, the trajectory and plot, and the options a
// problem file run refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "run_binary.h"

namespace identify::testing {
namespace {

using Row = std::map<std::string, std::string>;

// The rows of a tab-separated table with a header, by column name.
std::vector<Row> read_tsv(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  std::vector<std::string> header;
  std::vector<Row> rows;
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, '\t');) {
      cells.push_back(cell);
    }
    if (line.back() == '\t') cells.emplace_back();
    if (header.empty()) {
      header = cells;
      continue;
    }
    EXPECT_EQ(cells.size(), header.size()) << line;
    Row row;
    for (std::size_t c = 0; c < cells.size() && c < header.size(); ++c) {
      row[header[c]] = cells[c];
    }
    rows.push_back(row);
  }
  return rows;
}

// estimate (or `column`) of each parameter, by name, optionally of one
// experiment.
std::map<std::string, double> column_of(const std::vector<Row>& rows,
                                        const std::string& column,
                                        const std::string& experiment = "") {
  std::map<std::string, double> values;
  for (const Row& r : rows) {
    if (!experiment.empty() && r.at("experiment") != experiment) continue;
    values[r.at("parameterId")] = std::stod(r.at(column));
  }
  return values;
}

// The sum of squared weighted residuals of a fit table.
double chi_square(const std::string& fit_table) {
  double sum = 0.0;
  for (const Row& r : read_tsv(fit_table)) {
    const double w = std::stod(r.at("weightedResidual"));
    sum += w * w;
  }
  return sum;
}

TEST(ProblemRun, ExamplesReachTheirPublishedOrTrueValues) {
  const struct {
    const char* example;
    double sum_of_squares, tolerance;
    std::map<std::string, double> expected;
    double relative;  // of every expected value
  } cases[] = {
      // Published to four digits (k·1e5) and 19.872.
      {"alpha_pinene_5rate",
       19.872,
       1e-3,
       {{"k1", 5.926e-5},
        {"k2", 2.963e-5},
        {"k3", 2.047e-5},
        {"k4", 27.45e-5},
        {"k5", 3.998e-5}},
       3e-4},
      // R: lKe = -2.9196, lKa = 0.5752, lCl = -3.9159 (V = Cl/ke).
      {"theophylline_pk",
       4.28601,
       1e-5,
       {{"ka", std::exp(0.5752)},
        {"ke", std::exp(-2.9196)},
        {"V", std::exp(-3.9159 + 2.9196)}},
       2e-4},
      // Exact data: the truth to 1e-8.
      {"two_experiments",
       0.0,
       1e-20,
       {{"k1", 0.8}, {"k2", 0.3}, {"k3", 0.5}, {"k4", 0.15}, {"x3_0", 1.5}},
       1e-8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.example);
    ScratchDir dir(c.example);
    const RunResult r = dir.run("problem.yaml -q");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.rfind("identify: converged: lm: ", 0), 0u) << r.err;
    EXPECT_NEAR(chi_square(dir.read("problem.fit.tsv")), c.sum_of_squares,
                c.tolerance);
    const auto estimates =
        column_of(read_tsv(dir.read("problem.parameters.tsv")), "estimate");
    for (const auto& [name, value] : c.expected) {
      EXPECT_NEAR(estimates.at(name), value, c.relative * value) << name;
    }
  }
}

// The dosing examples' data carry noise of a known sigma: the fit must
// land within its standard errors of the truth (infusion: within two, as
// its README explains for Q) and state chi-square.
TEST(ProblemRun, DosingExamplesRecoverTheTruthWithinTheirStandardErrors) {
  const struct {
    const char* example;
    std::map<std::string, double> truth;
    double errors;
    const char* chi_square;
  } cases[] = {
      {"multiple_dose",
       {{"ka", 1.2},
        {"CL", 3.5},
        {"V", 30},
        {"Q", 6},
        {"V2", 60},
        {"tlag", 0.4}},
       1.0,
       "  chi-square                  38.7154"},
      {"infusion",
       {{"CL", 5}, {"V", 20}, {"Q", 8}, {"V2", 40}},
       2.0,
       "  chi-square                  14.324"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.example);
    ScratchDir dir(c.example);
    const RunResult r = dir.run("problem.yaml -q --report fit.txt");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const auto rows = read_tsv(dir.read("problem.parameters.tsv"));
    const auto estimate = column_of(rows, "estimate");
    const auto error = column_of(rows, "standardError");
    for (const auto& [name, value] : c.truth) {
      EXPECT_NEAR(estimate.at(name), value, c.errors * error.at(name)) << name;
    }
    const std::string report = dir.read("fit.txt");
    EXPECT_NE(report.find(c.chi_square), std::string::npos) << report;
    EXPECT_NE(report.find("(normal quantile)"), std::string::npos);
    EXPECT_EQ(report.find("residual standard error"), std::string::npos);
  }
}

// R's nls on the same model (tools/reference/theophylline_nls.txt): the
// standard errors of ka, ke and V to three digits, and the tables, the
// console and the report as a user sees them.
TEST(ProblemRun, TheophyllineMatchesRAndWritesItsTables) {
  ScratchDir dir("theophylline_pk");
  const RunResult r = dir.run("problem.yaml --report fit.txt");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto rows = read_tsv(dir.read("problem.parameters.tsv"));
  const auto error = column_of(rows, "standardError");
  for (const auto& [name, se] : std::map<std::string, double>{
           {"ka", 0.3071654}, {"ke", 0.009220167}, {"V", 0.022238088}}) {
    EXPECT_NEAR(error.at(name), se, 5e-4 * se) << name;
  }
  const std::string parameters = dir.read("problem.parameters.tsv");
  EXPECT_EQ(parameters.substr(0, parameters.find('\n') + 1),
            "parameterId\testimate\tstandardError\tlower95\tupper95\tscale\t"
            "lowerBound\tupperBound\tstatus\tprofileLower\tprofileUpper\n");
  EXPECT_EQ(rows[0].at("scale"), "log");
  EXPECT_EQ(rows[0].at("lowerBound"), "0.01");
  EXPECT_EQ(rows[0].at("status"), "estimated");
  // A log-scale interval is not symmetric about the estimate.
  const double ka = std::stod(rows[0].at("estimate"));
  EXPECT_GT(std::stod(rows[0].at("upper95")) - ka,
            ka - std::stod(rows[0].at("lower95")));
  const std::string fit = dir.read("problem.fit.tsv");
  EXPECT_EQ(fit.substr(0, fit.find('\n', 100) + 1),
            "experiment\tobservable\ttime\tmeasurement\tsimulation\tsigma\t"
            "residual\tweightedResidual\n"
            "subject1\tconcentration\t0\t0.73999999999999999\t0\t1\t"
            "-0.73999999999999999\t-0.73999999999999999\n");
  EXPECT_EQ(read_tsv(fit).size(), 11u);
  // A line per start, then the table; the verdict on stderr. The result
  // is start 1's end point, the same as a single start's, polished to the
  // optimum: ke 0.05395454696 (tools/reference/theophylline_optimum.txt),
  // which rounds to 0.0539545.
  EXPECT_EQ(r.out.rfind("start 1 of 20: objective 4.28601 after 15 "
                        "iterations\n",
                        0),
            0u)
      << r.out;
  const std::string table =
      "parameter  estimate   std. error  status\n"
      "ka         1.77741    0.307165    estimated\n"
      "ke         0.0539545  0.00922017  estimated\n"
      "V          0.369264   0.0222381   estimated\n\n";
  EXPECT_EQ(r.out.substr(r.out.size() - table.size()), table);
  EXPECT_NE(r.err.find(", sum of squares 4.28601 after "), std::string::npos);
  const std::string report = dir.read("fit.txt");
  for (const char* line :
       {"  problem file                problem.yaml\n",
        "  theophylline.csv            11 measurements   no missing values\n",
        "  residual standard error s   0.73195   sqrt(SSR/(n - p)), on 8 "
        "degrees of freedom\n",
        "  ka            log    1.77741       estimated       0.307165      "
        "1.19321 .. 2.64765\n",
        "  every estimated parameter is resolved by the data\n"}) {
    EXPECT_NE(report.find(line), std::string::npos) << line << report;
  }
}

// R's nls with SSfol fits every subject of datasets::Theoph
// (tools/reference/theophylline_12_nls.txt); each experiment fitted on its
// own must agree with it.
TEST(ProblemRun, SeparatelyFitsEveryTheophyllineSubjectAsRDoes) {
  ScratchDir dir("theophylline_12");
  const RunResult r = dir.run("problem.yaml --separately -q --report fit.txt");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::ifstream reference(std::string(IDENTIFY_EXAMPLES_DIR) +
                          "/../tools/reference/theophylline_12_nls.txt");
  const auto rows = read_tsv(dir.read("problem.parameters.tsv"));
  ASSERT_EQ(rows.size(), 36u);
  int subjects = 0;
  for (std::string line; std::getline(reference, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream in(line);
    std::string id;
    double ka = 0, ke = 0, V = 0;
    in >> id >> ka >> ke >> V;
    SCOPED_TRACE(id);
    EXPECT_EQ(rows[3 * subjects].at("experiment"), id);  // experiment order
    const auto estimate = column_of(rows, "estimate", id);
    EXPECT_NEAR(estimate.at("ka"), ka, 1e-4 * ka);
    EXPECT_NEAR(estimate.at("ke"), ke, 1e-4 * ke);
    EXPECT_NEAR(estimate.at("V"), V, 1e-4 * V);
    ++subjects;
  }
  EXPECT_EQ(subjects, 12);
  // One verdict and one report section per experiment, in order.
  EXPECT_EQ(r.err.rfind("identify: subject1: converged: lm: ", 0), 0u);
  EXPECT_NE(r.err.find("\nidentify: subject12: converged: lm: "),
            std::string::npos);
  const std::string report = dir.read("fit.txt");
  EXPECT_NE(report.find("  fits                        12, one per "
                        "experiment"),
            std::string::npos);
  EXPECT_LT(report.find("\nExperiment subject2\n"),
            report.find("\nExperiment subject10\n"));
  EXPECT_EQ(read_tsv(dir.read("problem.fit.tsv")).size(), 132u);
}

// Experiment from_x1 does not use x3_0: on its own it has no row for it,
// and both experiments alone still recover the truth from exact data.
TEST(ProblemRun, SeparatelyGivesEachExperimentItsOwnParameters) {
  ScratchDir dir("two_experiments");
  const RunResult r =
      dir.run("problem.yaml --separately -q --parameters p.tsv --fit f.tsv");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("problem.parameters.tsv")));
  const auto rows = read_tsv(dir.read("p.tsv"));
  ASSERT_EQ(rows.size(), 9u);
  const auto one = column_of(rows, "estimate", "from_x1");
  const auto two = column_of(rows, "estimate", "from_x2");
  EXPECT_EQ(one.count("x3_0"), 0u);
  for (const auto& [name, truth] : std::map<std::string, double>{
           {"k1", 0.8}, {"k2", 0.3}, {"k3", 0.5}, {"k4", 0.15}}) {
    EXPECT_NEAR(one.at(name), truth, 1e-6) << name;
    EXPECT_NEAR(two.at(name), truth, 1e-6) << name;
  }
  EXPECT_NEAR(two.at("x3_0"), 1.5, 1e-6);
  EXPECT_NE(r.out.find("experiment from_x1\n"), std::string::npos);
}

TEST(ProblemRun, TrajectoryAndPlotUseTheProblemsNames) {
  ScratchDir dir("two_experiments");
  const RunResult r = dir.run(
      "problem.yaml -q --trajectory traj.csv --plot fit.svg --plot-log-y");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string traj = dir.read("traj.csv");
  EXPECT_EQ(traj.rfind("experiment,time,x1,x2,x3,y\nfrom_x1,0,5,0,0,5\n", 0),
            0u);
  EXPECT_EQ(std::count(traj.begin(), traj.end(), '\n'), 1 + 2 * 1001);
  EXPECT_NE(traj.find("\nfrom_x2,0,0,3,"), std::string::npos);
  EXPECT_NE(traj.find("\nfrom_x2,15,"), std::string::npos);  // last sample
  const std::string svg = svg_text(dir.read("fit.svg"));
  for (const char* text : {"y, from_x1", "y, from_x2", "weighted residuals"}) {
    EXPECT_NE(svg.find(text), std::string::npos) << text;
  }
}

// Names as the states' get "_obs" in the trajectory; alpha-pinene's
// observables are its states.
TEST(ProblemRun, ObservablesNamedLikeStatesGetTheirOwnColumns) {
  ScratchDir dir("alpha_pinene_5rate");
  ASSERT_EQ(dir.run("problem.yaml -q --trajectory t.csv").exit_code, 0);
  const std::string traj = dir.read("t.csv");
  EXPECT_EQ(traj.substr(0, traj.find('\n')),
            "experiment,time,alpha_pinene,dipentene,alloocimene,pyronene,"
            "dimer,alpha_pinene_obs,dipentene_obs,alloocimene_obs,"
            "pyronene_obs,dimer_obs");
}

// Runs that end short of an optimum still write their tables; choices
// that cannot serve a problem file are refused before anything is written.
TEST(ProblemRun, EndsAndRefusals) {
  const struct {
    std::string args;
    int exit_code;
    std::string err;  // its start
    bool tables;
  } cases[] = {
      {"problem.yaml -q --max-iter 2", 8,
       "identify: lm: iteration limit reached: 2 iterations; best residual "
       "norm ",
       true},
      {"problem.yaml -q --method lbfgsb", 0,
       "identify: converged: lbfgsb: ", true},
      {"problem.yaml --model grid", 2,
       "identify: --model grid: the grid model takes ", false},
      {"problem.yaml --method descent", 2,
       "identify: --method: expected lm or lbfgsb with a problem file (the "
       "descent takes its step from input.txt), found \"descent\"\n",
       false},
      {"problem.yaml --fit theophylline.csv", 2,
       "identify: --fit: expected a file other than a data table, found "
       "\"theophylline.csv\"\n",
       false},
      {"problem.yaml --report problem.yaml", 2,
       "identify: --report: expected a file other than the problem file, "
       "found \"problem.yaml\"\n",
       false},
      {"problem.yaml --separately --history h.csv", 2,
       "identify: --history: expected no history file with --separately (the "
       "experiments are fitted at the same time), found \"h.csv\"\n",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    ScratchDir dir("theophylline_pk");
    const RunResult r = dir.run(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
    EXPECT_EQ(std::filesystem::exists(dir.file("problem.parameters.tsv")),
              c.tables);
    EXPECT_EQ(std::filesystem::exists(dir.file("problem.fit.tsv")), c.tables);
  }
}

}  // namespace
}  // namespace identify::testing
