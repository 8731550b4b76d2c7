// What the data determine and lm's statistical stop: the resolution of a
// Jacobian whose singular values are known, the gate that decides when to
// look, the words, and the whole-matrix case from one trajectory through
// the built program.
#include "fit/noise_stop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "fit/summary.h"
#include "run_binary.h"

namespace identify {
namespace {

using ::testing::HasSubstr;
using testing::RunResult;
using testing::ScratchDir;

// n rows, three columns with singular values s0, s1, s2 along the first
// three rows; residuals 0.01 everywhere but 0.02 in the first row.
struct Case {
  int n = 80;
  std::vector<double> jacobian;
  std::vector<double> r;
  Case(double s0, double s1, double s2) : jacobian(n * 3, 0.0), r(n, 0.01) {
    jacobian[0 * 3 + 0] = s0;
    jacobian[1 * 3 + 1] = s1;
    jacobian[2 * 3 + 2] = s2;
    r[0] = 0.02;
  }
};

TEST(Resolution, CountsTheDirectionsBelowTheNoiseAndWhatTheRestCanGive) {
  const Case c(10.0, 1.0, 1e-3);
  const Resolution res =
      resolve(c.jacobian.data(), c.r.data(), c.n, 3, {1.0, 1.0, 1.0});
  const double S = 79 * 1e-4 + 4e-4;
  EXPECT_EQ(res.unknowns, 3);
  EXPECT_EQ(res.below, 1);
  // σ² over the 78 residual degrees of freedom the two resolved leave.
  EXPECT_NEAR(res.sigma, std::sqrt(S / 78), 1e-15);
  EXPECT_NEAR(res.spread, S / 78 * std::sqrt(156.0), 1e-15);
  // (10·0.02)²/10² + (1·0.01)²/1²: the unresolved direction's share
  // (0.01²) is left out.
  EXPECT_NEAR(res.resolved_decrease, 5e-4, 1e-15);
  // The same from JᵀJ, Jᵀr and S, with sizes that move a direction.
  const std::vector<double> sizes = {1.0, 2.0, 100.0};
  Eigen::MatrixXd N = Eigen::MatrixXd::Zero(3, 3);
  Eigen::VectorXd g = Eigen::VectorXd::Zero(3);
  for (int m = 0; m < c.n; ++m) {
    for (int a = 0; a < 3; ++a) {
      g[a] += c.jacobian[3 * m + a] * c.r[m];
      for (int b = 0; b <= a; ++b) {
        N(a, b) += c.jacobian[3 * m + a] * c.jacobian[3 * m + b];
      }
    }
  }
  const Resolution by_j = resolve(c.jacobian.data(), c.r.data(), c.n, 3, sizes);
  const Resolution by_n = resolve_normal(N, g, S, c.n, sizes);
  EXPECT_EQ(by_n.below, by_j.below);
  EXPECT_NEAR(by_n.sigma, by_j.sigma, 1e-15);
  EXPECT_NEAR(by_n.resolved_decrease, by_j.resolved_decrease, 1e-15);
}

TEST(Resolution, MeasuresDirectionsAgainstTheUnknownsSizes) {
  const Case c(10.0, 1.0, 1e-3);
  // A hundredfold size lifts the third direction's 1e-3 above σ ≈ 0.0103.
  EXPECT_EQ(resolve(c.jacobian.data(), c.r.data(), c.n, 3, {1, 1, 100}).below,
            0);
  EXPECT_EQ(resolve(c.jacobian.data(), c.r.data(), c.n, 3, {1, 1e-3, 1}).below,
            2);
  // Too little residual freedom (51 rows, 2 resolved): nothing can be said
  // about the noise; 52 rows are enough.
  for (const int n : {51, 52}) {
    const Resolution res =
        resolve(c.jacobian.data(), c.r.data(), n, 3, {1.0, 1.0, 1.0});
    EXPECT_EQ(res.below, n == 52 ? 1 : 0) << n;
    EXPECT_EQ(std::isnan(res.spread), n == 51) << n;
  }
}

TEST(Resolution, SizesFollowTheUnknownsWithTheirRmsAsFloor) {
  // RMS of (2, 0, -4) is sqrt(20/3) ≈ 2.58; scales divide.
  const std::vector<double> sizes = unknown_sizes({2.0, 0.0, -4.0}, {1, 2, 1});
  const double rms = std::sqrt(20.0 / 3.0);
  EXPECT_DOUBLE_EQ(sizes[0], rms);
  EXPECT_DOUBLE_EQ(sizes[1], rms / 2);
  EXPECT_DOUBLE_EQ(sizes[2], 4.0);
  EXPECT_EQ(unknown_sizes({0.0, 0.0}, {1, 1}), (std::vector<double>{1, 1}));
}

TEST(Resolution, Words) {
  Resolution res;
  res.unknowns = 100;
  res.below = 92;
  EXPECT_EQ(resolution_text(res, "A"),
            "92 of 100 directions of A are below the noise: the data "
            "determine 8 combinations; add experiments from other initial "
            "states");
  res.unknowns = 2;
  res.below = 1;
  res.resolved_decrease = 1e-12;
  res.spread = 0.5;
  EXPECT_EQ(noise_stop_text(res, "the parameters"),
            "noise level reached: a Gauss–Newton step over the resolved "
            "directions would lower the objective by 1e-12, far below its "
            "noise spread 0.5; 1 of 2 directions of the parameters is below "
            "the noise: the data determine 1 combination; add experiments "
            "from other initial states");
}

Resolution found(int below, double resolved_decrease) {
  Resolution res;
  res.unknowns = 3;
  res.below = below;
  res.resolved_decrease = resolved_decrease;
  res.spread = 0.1;
  return res;
}

// n = 200 and S = 1: S·sqrt(2/n) = 0.1, a quiet step predicts <= 1e-3.
TEST(NoiseStop, LooksOnceEarlyThenAfterQuietStepsAndStopsOnlyBelowTheNoise) {
  NoiseStop stop(200, true);
  EXPECT_FALSE(stop.after_step(NAN, 1.0, 0));
  EXPECT_FALSE(stop.after_step(0.5, 1.0, 1));
  // The first look: a step below the spread.
  ASSERT_TRUE(stop.after_step(0.05, 1.0, 2));
  EXPECT_FALSE(stop.decide(found(2, 0.0)));  // no quiet steps yet
  EXPECT_TRUE(stop.first_found());
  int iteration = 3;
  for (int k = 1; k < kNoiseStopSteps; ++k) {
    EXPECT_FALSE(stop.after_step(1e-4, 1.0, iteration++));
  }
  ASSERT_TRUE(stop.after_step(1e-4, 1.0, iteration++));
  // What the resolved directions still give is not far below the spread.
  EXPECT_FALSE(stop.decide(found(2, 1e-3)));
  EXPECT_FALSE(stop.first_found());  // said once
  // The next check waits kNoiseStopSteps iterations.
  for (int k = 1; k < kNoiseStopSteps; ++k) {
    EXPECT_FALSE(stop.after_step(1e-4, 1.0, iteration++));
  }
  ASSERT_TRUE(stop.after_step(1e-4, 1.0, iteration++));
  EXPECT_TRUE(stop.decide(found(2, 1e-5)));
  EXPECT_TRUE(stop.fired());
  EXPECT_FALSE(stop.after_step(1e-4, 1.0, iteration++));
}

TEST(NoiseStop, NeverStopsAWellPosedOrLikelihoodFit) {
  NoiseStop well(200, true);
  NoiseStop likelihood(200, false);
  for (int i = 1; i < 40; ++i) {
    if (well.after_step(1e-6, 1.0, i)) EXPECT_FALSE(well.decide(found(0, 0)));
    EXPECT_FALSE(likelihood.after_step(1e-6, 1.0, i));
  }
  EXPECT_FALSE(well.fired());
  // A step predicting more than a quiet one resets the count.
  NoiseStop reset(200, true);
  int i = 1;
  for (int k = 1; k < kNoiseStopSteps; ++k) reset.after_step(1e-4, 1.0, i++);
  reset.decide(found(1, 0.0));
  EXPECT_FALSE(reset.after_step(0.01, 1.0, i++));
  EXPECT_FALSE(reset.after_step(1e-4, 1.0, i++));
}

TEST(Resolution, LimitAndNoProgressVerdictsCarryWhatTheMethodFound) {
  Summary s;
  s.method = "lbfgsb";
  s.library = true;
  s.has_best = true;
  s.iterations = 3;
  s.norm = 2.0;
  s.message = "lbfgsb stopped where a Gauss–Newton step still predicts more";
  s.termination = Termination::kIterationLimit;
  EXPECT_THAT(verdict(s), HasSubstr("> epsilon 0; lbfgsb stopped where a "
                                    "Gauss–Newton step still predicts more; "
                                    "0 model evaluations"));
  s.termination = Termination::kNoProgress;
  EXPECT_THAT(verdict(s), HasSubstr("epsilon 0 not reached; lbfgsb stopped"));
}

// The two-file layout of the whole-matrix case, in a scratch directory.
void write_whole_matrix(const ScratchDir& dir) {
  const std::filesystem::path data =
      std::filesystem::path(IDENTIFY_TEST_DATA_DIR) / "whole_matrix_n10";
  for (const char* name : {"input.txt", "input_data.txt"}) {
    dir.write(name, testing::read_file(data / name));
  }
}

// One trajectory of a 10-state system with all 100 entries free: without
// the stop lm walks the valley for 1382 iterations to a sum of squares of
// 1.52516e-6 (1944 of them for the last 1.3%).
TEST(NoiseStopEndToEnd, WholeMatrixFromOneTrajectoryStopsOnTheNoise) {
  ScratchDir dir;
  write_whole_matrix(dir);
  const RunResult r = dir.run("--method lm --model exact");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("identify: converged: lm: noise level reached"));
  EXPECT_THAT(r.err, HasSubstr(" directions of A are below the noise: the data "
                               "determine "));
  // Said during the run, among the progress lines.
  EXPECT_THAT(r.out, HasSubstr("directions of A are below the noise"));
  std::smatch m;
  ASSERT_TRUE(
      std::regex_search(r.out, m, std::regex("ITERATION NUMBER = ([0-9]+)")));
  EXPECT_LE(std::stoi(m[1]), 150);
  ASSERT_TRUE(std::regex_search(
      r.err, m, std::regex("sum of squares ([0-9.e+-]+) after")));
  const double S = std::stod(m[1]);
  EXPECT_LE(S, 1.02 * 1.52516e-6);
  EXPECT_GE(S, 1.52516e-6 * 0.98);
}

// lbfgsb learns the curvature that lm gets from the Jacobian: after 300
// iterations its sum of squares is still far above what one Gauss–Newton
// step would reach, and the verdict says so (lm ends in under 150).
TEST(NoiseStopEndToEnd, LbfgsbSaysWhereAGaussNewtonStepStillGivesMore) {
  ScratchDir dir;
  write_whole_matrix(dir);
  const RunResult r =
      dir.run("--method lbfgsb --model exact --max-iter 300 -q");
  EXPECT_EQ(r.exit_code, 8) << r.err;
  EXPECT_THAT(r.err, HasSubstr("identify: lbfgsb: iteration limit reached: "));
  EXPECT_THAT(r.err, HasSubstr("; lbfgsb stopped where a Gauss–Newton step "
                               "still predicts a decrease of the objective "
                               "by "));
  EXPECT_THAT(r.err, HasSubstr(": lm suits least-squares problems; "));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      r.err, m,
      std::regex("decrease of the objective by ([0-9.e+-]+), above "
                 "its noise spread ([0-9.e+-]+):")));
  EXPECT_GT(std::stod(m[1]), std::stod(m[2]));
}

}  // namespace
}  // namespace identify
