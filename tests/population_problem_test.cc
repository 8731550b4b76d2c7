// The population sections of a problem file: what a valid one turns into
// (effects as parameters fixed at 0, definitions substituted, Ω's blocks),
// every fault with its message and place, and a run end to end with its
// tables and exit codes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "input/input_error.h"
#include "input/yaml_problem_file.h"
#include "run_binary.h"

namespace identify {
namespace {

using testing::ScratchDir;

const std::string kProblem = R"(states: [gut, central]
parameters:
  tka: {value: 0.45}
  tcl: {value: -3.2}
  a: {value: 0.7, lower: 0.01, upper: 10, scale: log}
random:
  eta_ka: {sd: 0.6}
  eta_cl: {sd: 0.2}
  eta_v: {sd: 0.1, estimate: false}
  correlated: [[eta_ka, eta_cl]]
individual:
  ka: exp(tka + eta_ka)
  cl: exp(tcl + eta_cl)
  ke: 0.1 * exp(eta_v)
matrix:
  gut:     {gut: -ka}
  central: {gut: ka, central: -ke}
observables:
  conc: {states: {central: ke/cl}, sigma: a}
experiments:
  - {id: s1, x0: {gut: 4}}
  - {id: s2, x0: {gut: 5}}
data: data.csv
)";

const std::string kData = R"(experiment,observable,time,measurement
s1,conc,1,6.5
s1,conc,4,7.9
s2,conc,2,8.1
)";

std::string edit(const std::string& text, const std::string& from,
                 const std::string& to) {
  const std::size_t at = text.find(from);
  if (at == std::string::npos) throw std::logic_error("no " + from);
  return text.substr(0, at) + to + text.substr(at + from.size());
}

std::string load_error(const std::string& problem) {
  ScratchDir dir;
  dir.write("problem.yaml", problem);
  dir.write("data.csv", kData);
  try {
    read_yaml_problem(dir.file("problem.yaml"));
  } catch (const InputError& e) {
    std::string m = e.what();
    return m.substr(m.find("problem.yaml"));
  }
  return "";
}

TEST(PopulationProblem, EffectsDefinitionsAndBlocks) {
  ScratchDir dir;
  dir.write("problem.yaml", kProblem);
  dir.write("data.csv", kData);
  const FitProblem p = read_yaml_problem(dir.file("problem.yaml")).problem;
  const Population& pop = p.population;
  ASSERT_EQ(pop.effect_count(), 3);
  EXPECT_EQ(pop.effects[2].name, "eta_v");
  EXPECT_FALSE(pop.effects[2].estimated);
  const Parameter& eta_ka = p.parameters[pop.effects[0].parameter];
  EXPECT_EQ(eta_ka.value, 0.0);
  EXPECT_FALSE(eta_ka.estimated);
  EXPECT_EQ(pop.blocks(), (std::vector<std::vector<int>>{{0, 1}, {2}}));
  ASSERT_EQ(pop.individual.size(), 3u);
  EXPECT_EQ(pop.individual[0].name, "ka");
  // ka = exp(tka + eta_ka) substituted into the matrix: it depends on tka
  // and eta_ka, the text stays as written.
  const MatrixTerm& gut = p.experiments[0].matrix[0];
  EXPECT_EQ(gut.value.text(), "-ka");
  EXPECT_EQ(gut.value.parameters(),
            (std::vector<int>{0, pop.effects[0].parameter}));
  std::vector<double> theta = p.values(), scratch;
  theta[pop.effects[0].parameter] = 0.3;
  EXPECT_DOUBLE_EQ(gut.value.value(theta, scratch), -std::exp(0.45 + 0.3));
}

TEST(PopulationProblem, RefusesEveryKindOfFaultWithItsPlace) {
  const struct {
    std::string problem, message;
  } cases[] = {
      {edit(kProblem, "{sd: 0.6}", "{value: 0.6}"),
       "problem.yaml:7:12: expected sd or estimate, found \"value\""},
      {edit(kProblem, "{sd: 0.6}", "{estimate: true}"),
       "problem.yaml:7:11: expected a key \"sd\", found none"},
      {edit(kProblem, "{sd: 0.6}", "{sd: -1}"),
       "problem.yaml:7:16: expected a standard deviation above 0 for eta_ka, "
       "found -1"},
      {edit(kProblem, "eta_ka: {sd", "tka: {sd"),
       "problem.yaml:7:3: expected a parameter name not used before, found "
       "\"tka\""},
      {edit(kProblem, "[[eta_ka, eta_cl]]", "[[eta_ka, eta_x]]"),
       "problem.yaml:10:16: expected a random effect, found \"eta_x\""},
      {edit(kProblem, "[[eta_ka, eta_cl]]", "[[eta_ka, eta_v]]"),
       "problem.yaml:10:16: expected estimated random effects in a correlated "
       "block, found \"eta_v\" with estimate: false"},
      {edit(kProblem, "[[eta_ka, eta_cl]]", "[[eta_ka]]"),
       "problem.yaml:10:16: expected two or more random effects in a "
       "correlated block, found 1"},
      {edit(kProblem, "[[eta_ka, eta_cl]]",
            "[[eta_ka, eta_cl], [eta_cl, "
            "eta_v]]"),
       "problem.yaml:10:34: expected a random effect in one block only, found "
       "\"eta_cl\" again"},
      {edit(kProblem, "exp(tka + eta_ka)", "exp(tka + eta_kx)"),
       "problem.yaml:12:17: expected a declared parameter, found \"eta_kx\""},
      {edit(kProblem, "  ke: 0.1", "  tka: 0.1"),
       "problem.yaml:14:3: expected an individual name (letters, digits and "
       "_) not used before, found \"tka\""},
      {edit(kProblem, "{gut: -ka}", "{gut: -kb}"),
       "problem.yaml:16:19: expected a declared parameter, found \"kb\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(load_error(c.problem), c.message) << c.problem;
  }
}

TEST(PopulationProblem, RunsEndToEndWithItsTablesAndExitCodes) {
  ScratchDir dir;
  dir.write("p.yaml", edit(kProblem, "  correlated: [[eta_ka, eta_cl]]\n", ""));
  dir.write("data.csv", kData);
  const testing::RunResult ok = dir.run("p.yaml");
  EXPECT_EQ(ok.exit_code, 0) << ok.err;
  EXPECT_NE(ok.out.find("OFV (-2 ln L)"), std::string::npos);
  const std::string individual = dir.read("p.individual.tsv");
  EXPECT_EQ(individual.substr(0, individual.find('\n')),
            "subject\teta_ka\teta_cl\teta_v\tka\tcl\tke\tofv");
  const std::string fit = dir.read("p.fit.tsv");
  EXPECT_EQ(
      fit.substr(0, fit.find('\n')),
      "experiment\tobservable\ttime\tmeasured\tPRED\tIPRED\tIWRES\tCWRES");
  const testing::RunResult report = dir.run("p.yaml --report -");
  EXPECT_EQ(report.exit_code, 0);
  EXPECT_EQ(report.err.rfind("population fit (FOCE-I), 2 subjects", 0), 0u)
      << report.err;
  const std::string parameters = dir.read("p.parameters.tsv");
  EXPECT_NE(parameters.find("eta_v\trandom sd\t0.1\t"), std::string::npos);
  const struct {
    std::string args;
    int exit_code;
    std::string err;
  } refused[] = {
      {"p.yaml --method lm", 2,
       "identify: --method: expected foce-i for a problem with random "
       "effects, found \"lm\"\n"},
      {"p.yaml --separately", 2,
       "identify: --separately: expected no such option for a problem with "
       "random effects (fitted by foce-i on the exact model)\n"},
      {"p.yaml --model grid", 2,
       "identify: --model grid: expected no such option for a problem with "
       "random effects (fitted by foce-i on the exact model)\n"},
      {"laplace.yaml", 3,
       "identify: laplace.yaml: observable conc: expected a normal "
       "distribution in a problem with random effects, found laplace\n"},
  };
  dir.write("laplace.yaml",
            edit(kProblem, "sigma: a}", "sigma: a, distribution: laplace}"));
  for (const auto& c : refused) {
    const testing::RunResult r = dir.run(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.args;
    EXPECT_EQ(r.err, c.err) << c.args;
  }
}

}  // namespace
}  // namespace identify
