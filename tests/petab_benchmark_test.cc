// Two published problems of the PEtab benchmark collection read as they
// are. Bruno_JExpBot2016: chi2 at the nominal parameters 65.1114261097
// (the collection's value, checked with SciPy's expm), and a fit from 20
// starts back at the nominal parameters. Perelson_Science1996 (log10-normal
// noise, its sd estimated): the maximum-likelihood estimate found with
// SciPy, c 1.8606254, delta 0.54733817, sd 0.122832.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "fit/point_evaluation.h"
#include "input/yaml_problem_file.h"
#include "model/model_kind.h"
#include "run_binary.h"

namespace identify {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

const fs::path kBenchmark = fs::path(IDENTIFY_PETAB_DIR) / "benchmark";

void copy_problem(const std::string& name, const ScratchDir& dir) {
  for (const auto& f : fs::directory_iterator(kBenchmark / name)) {
    fs::copy(f.path(), dir.path() / f.path().filename());
  }
}

// parameterId -> estimate of a parameter table.
std::map<std::string, double> estimates(const std::string& text) {
  std::map<std::string, double> out;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream cells(line);
    std::string id, value;
    std::getline(cells, id, '\t');
    std::getline(cells, value, '\t');
    out[id] = std::stod(value);
  }
  return out;
}

TEST(PetabBenchmark, BrunoChi2AtTheNominalParameters) {
  const LoadedProblem loaded = read_yaml_problem(
      (kBenchmark / "Bruno_JExpBot2016" / "Bruno_JExpBot2016.yaml").string());
  const auto model = make_model(ModelKind::kExact, loaded.problem);
  const PointEvaluation at =
      evaluate_point(loaded.problem, *model, loaded.problem.values());
  EXPECT_NEAR(at.chi2, 65.1114261097, 65.1114261097 * 1e-9);
}

TEST(PetabBenchmark, BrunoFitReturnsToTheNominalParameters) {
  ScratchDir dir;
  copy_problem("Bruno_JExpBot2016", dir);
  const auto run = dir.run("Bruno_JExpBot2016.yaml -q --starts 20");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const LoadedProblem loaded =
      read_yaml_problem(dir.file("Bruno_JExpBot2016.yaml"));
  const auto fitted = estimates(dir.read("Bruno_JExpBot2016.parameters.tsv"));
  for (const Parameter& p : loaded.problem.parameters) {
    if (!p.estimated) continue;
    EXPECT_NEAR(fitted.at(p.name), p.value, 1e-5 * p.value) << p.name;
  }
}

TEST(PetabBenchmark, PerelsonReachesTheMaximumLikelihoodEstimate) {
  ScratchDir dir;
  copy_problem("Perelson_Science1996", dir);
  const auto run = dir.run("Perelson_Science1996.yaml -q");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const auto fitted =
      estimates(dir.read("Perelson_Science1996.parameters.tsv"));
  EXPECT_NEAR(fitted.at("c"), 1.8606254, 1e-7 * 5);
  EXPECT_NEAR(fitted.at("delta"), 0.54733817, 1e-8 * 5);
  EXPECT_NEAR(fitted.at("sd_task0_model0_perelson1_V"), 0.122832, 1e-6 * 5);
}

}  // namespace
}  // namespace identify
