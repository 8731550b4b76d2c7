// The bootstrap: its generator against SplitMix64's published first
// output, the percentile rule against numpy's linear percentile, the
// resamples, the intervals of every theophylline subject against a SciPy
// bootstrap of the same resamples, the table, and the bad values.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "fit/bootstrap/resample.h"
#include "identify/identify.h"
#include "run_binary.h"

namespace identify::testing {
namespace {

TEST(Bootstrap, StreamIsSplitMix64AndIndicesStayInRange) {
  // Seed 0, replicate 0: the state starts at 0, whose first SplitMix64
  // output is the published 0xE220A8397B1DCDAF.
  BootstrapStream zero(0, 0);
  EXPECT_EQ(zero.next(), 0xE220A8397B1DCDAFull);
  // Replicates and seeds draw different streams; one replicate always the
  // same.
  EXPECT_NE(bootstrap_indices(1, 1, 50), bootstrap_indices(1, 2, 50));
  EXPECT_NE(bootstrap_indices(1, 1, 50), bootstrap_indices(2, 1, 50));
  EXPECT_EQ(bootstrap_indices(7, 3, 50), bootstrap_indices(7, 3, 50));
  for (std::size_t i : bootstrap_indices(1, 4, 11)) EXPECT_LT(i, 11u);
}

TEST(Bootstrap, PercentileIntervalInterpolatesLikeNumpy) {
  // numpy.percentile([4, 1, 3, 2], [25, 75]) == [1.75, 3.25].
  auto [lower, upper] = percentile_interval({4, 1, 3, 2}, 0.5);
  EXPECT_DOUBLE_EQ(lower, 1.75);
  EXPECT_DOUBLE_EQ(upper, 3.25);
  // Non-finite estimates are left out; fewer than two finite give none.
  std::tie(lower, upper) = percentile_interval({NAN, 2, INFINITY, 4}, 1.0);
  EXPECT_EQ(lower, 2.0);
  EXPECT_EQ(upper, 4.0);
  std::tie(lower, upper) = percentile_interval({NAN, 3}, 0.95);
  EXPECT_TRUE(std::isnan(lower) && std::isnan(upper));
}

TEST(Bootstrap, ResamplesKeepUncountedPointsAndTheLogScale) {
  FitProblem p;
  p.observables = {"y"};
  p.noise = {NoiseModel{Scale::kLog, Distribution::kNormal}};
  Experiment e;
  e.id = "a";
  for (double v : {0.5, 2.0, 8.0}) {
    Measurement m;
    m.observable = 0;
    m.time = 1.0;
    m.value = v;
    e.measurements.push_back(m);
  }
  e.measurements.edit()[0].counted = false;
  p.experiments = {e};
  EXPECT_FALSE(resamples_experiments(p));
  EXPECT_EQ(resample_items(p), 2u);
  // Model values 1, 1, 4 and sigmas 1, 1, 2: drawing the counted point 2
  // (residual ln 8 − ln 4 over 2) twice gives point 1 ln v = 0 + 1·ln2/2.
  const std::vector<double> y = {1.0, 1.0, 4.0}, sigma = {1.0, 1.0, 2.0};
  const std::vector<std::size_t> drawn = {1, 1};
  const FitProblem r = residual_resample(p, y, sigma, drawn);
  const std::vector<Measurement>& m = r.experiments[0].measurements.rows();
  EXPECT_EQ(m[0].value, 0.5);
  EXPECT_NEAR(m[1].value, std::sqrt(2.0), 1e-15);
  EXPECT_NEAR(m[2].value, 8.0, 1e-14);

  p.experiments.push_back(e);
  p.experiments[1].id = "b";
  EXPECT_TRUE(resamples_experiments(p));
  const std::vector<std::size_t> twice_b = {1, 1};
  const FitProblem c = experiment_resample(p, twice_b);
  ASSERT_EQ(c.experiments.size(), 2u);
  EXPECT_EQ(c.experiments[0].id, "b");
  EXPECT_EQ(c.experiments[1].id, "b");
}

struct Interval {
  const char* subject;
  const char* name;
  double lower, upper;
};

// tools/theophylline_bootstrap.py 200 1 (SciPy least_squares, the same
// resamples), stored as tools/reference/theophylline_bootstrap.txt.
const Interval kSciPy[] = {
    {"subject1", "ka", 1.4090926022793484, 2.2778036363616039},
    {"subject1", "ke", 0.037613067600952753, 0.068630283434876732},
    {"subject1", "V", 0.33591343651751704, 0.40195882667707972},
    {"subject2", "ka", 1.2109718488675842, 3.0461368143573688},
    {"subject2", "ke", 0.067289259686327249, 0.16416211339034845},
    {"subject2", "V", 0.35544044560597865, 0.52067743823663237},
    {"subject3", "ka", 2.1569721290879871, 2.7819067773118591},
    {"subject3", "ke", 0.07426149690817499, 0.08986451029034527},
    {"subject3", "V", 0.46408811358890151, 0.50565065109265994},
    {"subject4", "ka", 0.79318890243229279, 1.5795964250278831},
    {"subject4", "ke", 0.057366446549179752, 0.13314788242758205},
    {"subject4", "V", 0.3496073918890627, 0.49816880138327968},
    {"subject5", "ka", 0.90158421950694556, 2.2310670685470524},
    {"subject5", "ke", 0.051157244393619607, 0.13252318817766881},
    {"subject5", "V", 0.39355018693979538, 0.59983754475519746},
    {"subject6", "ka", 0.79065191713029037, 1.5455060599111821},
    {"subject6", "ke", 0.070498054622754477, 0.13586021716612415},
    {"subject6", "V", 0.4267955063362141, 0.59155965448955394},
    {"subject7", "ka", 0.50991647713366062, 0.8227376424253936},
    {"subject7", "ke", 0.083753819930944856, 0.13686705130782728},
    {"subject7", "V", 0.42372348053041042, 0.56687193174998973},
    {"subject8", "ka", 0.99005706779581104, 2.0254812945317204},
    {"subject8", "ke", 0.067413213971207517, 0.13211959867803766},
    {"subject8", "V", 0.42618097545784622, 0.58591537247596603},
    {"subject9", "ka", 5.4649890720012042, 19.999999999999989},
    {"subject9", "ke", 0.069087570927747421, 0.10551864362771585},
    {"subject9", "V", 0.34348056640450064, 0.40191721313002321},
    {"subject10", "ka", 0.58242232852208231, 0.81476402344245846},
    {"subject10", "ke", 0.062629997959523842, 0.092657442797060438},
    {"subject10", "V", 0.39599166554238685, 0.47198140153439833},
    {"subject11", "ka", 3.3774474473893479, 4.3863647132509493},
    {"subject11", "ke", 0.088388635046525887, 0.1058662174660394},
    {"subject11", "V", 0.56342637876692048, 0.60686856384288113},
    {"subject12", "ka", 0.60091610660919814, 1.0143403576895229},
    {"subject12", "ke", 0.085740012075799468, 0.14608705434668937},
    {"subject12", "V", 0.3366404328515174, 0.45311357989565976},
};

std::vector<std::string> split(const std::string& line, char by) {
  std::vector<std::string> cells;
  std::stringstream s(line);
  for (std::string cell; std::getline(s, cell, by);) cells.push_back(cell);
  return cells;
}

TEST(BootstrapRun, TheophyllineSubjectsAgreeWithSciPy) {
  ScratchDir dir("theophylline_12");
  const RunResult r =
      dir.run("problem.yaml --separately --bootstrap 200 --seed 1 -q");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::stringstream table(dir.read("problem.parameters.tsv"));
  std::string line;
  std::getline(table, line);
  const std::vector<std::string> header = split(line, '\t');
  ASSERT_EQ(header.size(), 14u);
  EXPECT_EQ(header[12], "bootstrapLower");
  EXPECT_EQ(header[13], "bootstrapUpper");
  std::size_t row = 0;
  while (std::getline(table, line)) {
    const std::vector<std::string> cells = split(line, '\t');
    ASSERT_LT(row, std::size(kSciPy));
    const Interval& want = kSciPy[row++];
    EXPECT_EQ(cells[0], want.subject);
    EXPECT_EQ(cells[1], want.name);
    EXPECT_NEAR(std::stod(cells[12]), want.lower, 1e-6 * want.lower) << line;
    EXPECT_NEAR(std::stod(cells[13]), want.upper, 1e-6 * want.upper) << line;
  }
  EXPECT_EQ(row, std::size(kSciPy));
  // 12 subjects of 200 replicates: every one converged, the header first.
  const std::vector<std::string> rows =
      split(dir.read("problem.bootstrap.tsv"), '\n');
  ASSERT_EQ(rows.size(), 1u + 12 * 200);
  EXPECT_EQ(rows[0],
            "experiment\treplicate\tresample\tobjective\tstatus\tka"
            "\tke\tV");
  for (std::size_t i = 1; i < rows.size(); ++i) {
    EXPECT_EQ(split(rows[i], '\t')[4], "converged") << rows[i];
  }
}

TEST(BootstrapRun, CaseBootstrapDrawsExperimentsAndIgnoresThreads) {
  ScratchDir dir("theophylline_12");
  RunResult r = dir.run("problem.yaml --bootstrap 6 --starts 1 --threads 1");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("bootstrap: 6 replicates by experiment, 6 converged"),
            std::string::npos)
      << r.out;
  const std::string one = dir.read("problem.bootstrap.tsv");
  const std::string parameters = dir.read("problem.parameters.tsv");
  const std::vector<std::string> rows = split(one, '\n');
  ASSERT_EQ(rows.size(), 7u);
  const std::vector<std::string> drawn = split(split(rows[1], '\t')[1], ',');
  EXPECT_EQ(drawn.size(), 12u);
  for (const std::string& id : drawn) EXPECT_EQ(id.rfind("subject", 0), 0u);
  r = dir.run("problem.yaml --bootstrap 6 --starts 1 --threads 2 -q");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(dir.read("problem.bootstrap.tsv"), one);
  EXPECT_EQ(dir.read("problem.parameters.tsv"), parameters);
}

// The library's tables are the program's files, bootstrap included.
TEST(BootstrapRun, LibraryTablesAreTheProgramsFiles) {
  ScratchDir dir("theophylline_12");
  const RunResult run =
      dir.run("problem.yaml -q --separately --bootstrap 8 --seed 5");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  FitOptions o;
  o.separately = true;
  o.bootstrap = 8;
  o.seed = 5;
  const Result r = fit(Problem::from_file(dir.file("problem.yaml")), o);
  EXPECT_EQ(r.bootstrap_table.tsv(), dir.read("problem.bootstrap.tsv"));
  EXPECT_EQ(r.parameter_table.tsv(), dir.read("problem.parameters.tsv"));
  EXPECT_EQ(r.bootstrap_table.rows(), 12u * 8);
  o.bootstrap = -1;
  EXPECT_THROW(fit(Problem::from_file(dir.file("problem.yaml")), o),
               OptionsError);
}

TEST(BootstrapRun, BadValuesAreRefused) {
  ScratchDir dir("theophylline_12");
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"problem.yaml --bootstrap 0",
       "--bootstrap: expected a whole number from 1 to 1000000, found \"0\""},
      {"problem.yaml --bootstrap many", "--bootstrap: expected a whole number"},
      {"--bootstrap 5 --no-pause", "--bootstrap: expected a problem file"},
  };
  for (const auto& c : cases) {
    const RunResult r = dir.run(c.args);
    EXPECT_EQ(r.exit_code, 2) << c.args;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << r.err;
  }
}

}  // namespace
}  // namespace identify::testing
