// Reading time grows linearly with the size of a problem file: a generated
// problem of n experiments, each with its own parameter, override, initial
// state, dose and two measurements, and n parameters more used in one
// expression, reads 4n in well under 16 times the time of n (a reader that
// looks names up by scanning takes 16 times; one that hashes them about 4).
// Each size is read three times and the fastest read counts, so that a
// moment of load on a shared machine does not decide.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "input/yaml_problem_file.h"

namespace identify {
namespace {

void write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// problem.yaml, data.csv and doses.csv of size n in `dir`.
void write_problem(const std::filesystem::path& dir, int n) {
  std::string yaml =
      "states: [gut, central]\nparameters:\n"
      "  ka: {lower: 0.01, upper: 20, value: 1}\n"
      "  ke: {lower: 0.001, upper: 5, value: 0.1}\n";
  std::string sum = "0";
  for (int k = 0; k < n; ++k) {
    const std::string i = std::to_string(k);
    yaml += "  ka_" + i + ": {lower: 0.01, upper: 20, value: 1}\n";
    yaml += "  q" + i + ": {value: 0, estimate: false}\n";
    sum += " + q" + i;
  }
  yaml +=
      "matrix:\n  gut: {gut: -ka}\n  central: {gut: ka, central: -ke}\n"
      "observables:\n  conc: {states: {central: 1}}\nexperiments:\n";
  std::string data = "experiment,observable,time,measurement\n";
  std::string doses = "experiment,time,state,amount\n";
  for (int k = 0; k < n; ++k) {
    const std::string i = std::to_string(k);
    yaml += "  - {id: s" + i + ", x0: {gut: ka_" + i +
            (k == 0 ? ", central: " + sum : "") + "}, parameters: {ka: ka_" +
            i + "}}\n";
    data += "s" + i + ",conc,1,0.5\ns" + i + ",conc,2,0.4\n";
    doses += "s" + i + ",0.5,gut,1\n";
  }
  yaml += "doses: doses.csv\ndata: data.csv\n";
  write(dir / "problem.yaml", yaml);
  write(dir / "data.csv", data);
  write(dir / "doses.csv", doses);
}

// The fastest of three reads of the problem of size n, in seconds.
double read_seconds(int n) {
  const std::filesystem::path dir =
      std::filesystem::path(::testing::TempDir()) /
      ("large_problem_" + std::to_string(n));
  std::filesystem::create_directories(dir);
  write_problem(dir, n);
  double best = 1e300;
  for (int round = 0; round < 3; ++round) {
    const auto start = std::chrono::steady_clock::now();
    const LoadedProblem loaded =
        read_yaml_problem((dir / "problem.yaml").string());
    const std::chrono::duration<double> took =
        std::chrono::steady_clock::now() - start;
    EXPECT_EQ(loaded.problem.experiments.size(), static_cast<std::size_t>(n));
    EXPECT_EQ(loaded.problem.measurement_count(), 2u * n);
    EXPECT_EQ(loaded.problem.parameter_count(), 2 * n + 2);
    best = std::min(best, took.count());
  }
  std::filesystem::remove_all(dir);
  return best;
}

TEST(LargeProblem, ReadingTimeGrowsLinearlyWithExperimentsAndParameters) {
  const int n = 2000;
  const double small = read_seconds(n);
  const double large = read_seconds(4 * n);
  std::printf("%d experiments read in %.3f s, %d in %.3f s (ratio %.1f)\n", n,
              small, 4 * n, large, large / small);
  EXPECT_LT(large, 10.0 * small + 0.1);
}

}  // namespace
}  // namespace identify
