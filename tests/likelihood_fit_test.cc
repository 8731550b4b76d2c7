// Maximum-likelihood fits through the built program: an estimated noise
// parameter (theophylline), a −2 ln L below 0 (which is no residual norm),
// proportional and combined errors on data made by
// tools/likelihood_reference.py against SciPy's maximisation of the same
// likelihood (numbers from that script), a log10-normal benchmark
// (Perelson 1996 on its PEtab terms), and the refusals of the noise keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "fit/objective.h"
#include "input/yaml_problem_file.h"
#include "model/model_kind.h"
#include "run_binary.h"

namespace identify::testing {
namespace {

// The estimate column of a parameters table, by parameter name (the
// columns found by their header, which --separately begins with
// experiment).
std::map<std::string, double> estimates(const std::string& table) {
  std::istringstream in(table);
  std::string line;
  const auto cells = [](const std::string& text) {
    std::vector<std::string> out;
    std::istringstream fields(text);
    for (std::string cell; std::getline(fields, cell, '\t');) {
      out.push_back(cell);
    }
    return out;
  };
  std::getline(in, line);
  const std::vector<std::string> header = cells(line);
  const auto column = [&](const char* name) {
    return std::find(header.begin(), header.end(), name) - header.begin();
  };
  const auto name = column("parameterId"), estimate = column("estimate");
  std::map<std::string, double> values;
  while (std::getline(in, line)) {
    const std::vector<std::string> row = cells(line);
    values[row.at(name)] = std::stod(row.at(estimate));
  }
  return values;
}

void expect_relative(const std::map<std::string, double>& got,
                     const std::map<std::string, double>& want, double tol) {
  for (const auto& [name, value] : want) {
    ASSERT_TRUE(got.contains(name)) << name;
    EXPECT_NEAR(got.at(name), value, tol * std::fabs(value)) << name;
  }
}

// examples/theophylline_pk with sigma: s estimated, the measurements
// divided by `divisor` (V and s then grow and shrink by it).
void write_theophylline(const ScratchDir& dir, double divisor) {
  dir.write("problem.yaml", R"(states: [gut, central]
parameters:
  ka: {lower: 0.01, upper: 20, scale: log, value: 1}
  ke: {lower: 0.001, upper: 5, scale: log, value: 0.1}
  V:  {lower: 0.01, upper: 100, scale: log, value: 0.5}
  s:  {lower: 0.001, upper: 10, scale: log, value: 1}
matrix:
  gut:     {gut: -ka}
  central: {gut: ka, central: -ke}
observables:
  concentration: {states: {central: 1/V}, sigma: s}
experiments:
  - {id: subject1, x0: {gut: 4.02}}
data: data.csv
)");
  const std::string table = example_file("theophylline_pk", "theophylline.csv");
  std::istringstream in(table);
  std::string line, out = "time,concentration\n";
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#' || line[0] == 't') continue;
    const std::size_t comma = line.find(',');
    std::ostringstream row;
    row.precision(17);
    row << line.substr(0, comma) << ','
        << std::stod(line.substr(comma + 1)) / divisor << '\n';
    out += row.str();
  }
  dir.write("data.csv", out);
}

// SciPy's maximum (tools/likelihood_reference.py): the least-squares
// estimates and s = sqrt(SS/11).
const std::map<std::string, double> kTheophylline = {
    {"ka", 1.7774137389868263},
    {"ke", 0.053954547304156227},
    {"V", 0.36926424586664203},
    {"s", 0.62420924698945834}};

// −2 ln L at the maximum: 11·ln(2π) + 11 + 22·ln s.
const double kTheophyllineM2ll =
    11.0 * std::log(2.0 * M_PI) + 11.0 + 22.0 * std::log(0.62420924698945834);

// −2 ln L of the problem in `dir` at the estimates of its parameters table.
double m2ll_at(const ScratchDir& dir, const std::map<std::string, double>& at) {
  const LoadedProblem loaded = read_yaml_problem(dir.file("problem.yaml"));
  const FitProblem& p = loaded.problem;
  std::unique_ptr<Model> model = make_model(ModelKind::kExact, p);
  std::vector<double> theta = p.values();
  for (int k = 0; k < p.parameter_count(); ++k) {
    theta[k] = at.at(p.parameters[k].name);
  }
  Objective f(p, *model, p.estimated_parameters(), theta);
  return f.evaluate_theta(theta) + f.constant();
}

TEST(LikelihoodFit, EstimatedNoiseReachesTheMaximumWithEveryMethod) {
  for (const char* args : {"problem.yaml -q", "problem.yaml -q --starts 1",
                           "problem.yaml -q --method lbfgsb",
                           "problem.yaml -q --method lbfgsb --starts 1"}) {
    SCOPED_TRACE(args);
    ScratchDir dir;
    write_theophylline(dir, 1.0);
    const RunResult r = dir.run(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.find("identify: converged: "), 0u) << r.err;
    EXPECT_NE(r.err.find(", -2 ln L 20.8487 after "), std::string::npos)
        << r.err;
    const auto got = estimates(dir.read("problem.parameters.tsv"));
    expect_relative(got, kTheophylline, 1e-6);
    EXPECT_NEAR(m2ll_at(dir, got), kTheophyllineM2ll, 1e-9 * kTheophyllineM2ll);
  }
}

// With the measurements a tenth as large, −2 ln L at the maximum is
// 11·ln(2π) + 11 + 22·ln(s/10) < 0: it is printed as it is, progress lines
// and history included, and the fit converges there (a square root of it
// called the run "diverged").
TEST(LikelihoodFit, ANegativeObjectiveIsPrintedAndConverges) {
  ScratchDir dir;
  write_theophylline(dir, 10.0);
  const RunResult r =
      dir.run("problem.yaml --starts 1 --history h.csv --report -");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err.find("identify: converged: lm: "), 0u) << r.err;
  EXPECT_NE(r.err.find(", -2 ln L -"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("diverged"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("nan"), std::string::npos) << r.err;
  EXPECT_TRUE(std::regex_search(r.err, std::regex("\n  -2 ln L +-[0-9]")))
      << r.err;
  const std::string history = dir.read("h.csv");
  const std::string last =
      history.substr(history.rfind('\n', history.size() - 2) + 1);
  EXPECT_LT(std::stod(last.substr(last.find(',') + 1)), 0.0) << history;
  EXPECT_EQ(history.find("nan"), std::string::npos);
  const auto got = estimates(dir.read("problem.parameters.tsv"));
  expect_relative(got,
                  {{"ka", kTheophylline.at("ka")},
                   {"V", 10.0 * kTheophylline.at("V")},
                   {"s", kTheophylline.at("s") / 10.0}},
                  1e-6);
  EXPECT_NEAR(m2ll_at(dir, got), kTheophyllineM2ll + 22.0 * std::log(0.1),
              1e-9);
}

// Data made by tools/likelihood_reference.py (seeds 20261208 and 20261209)
// and SciPy's maximum-likelihood estimates from the same script.
const char* const kProportionalData =
    "time,conc\n"
    "0.25,2.9055181226768618\n"
    "0.5,5.7343761171574599\n"
    "0.75,7.1127156052156453\n"
    "1,7.1913617371257841\n"
    "1.5,8.6592379812870011\n"
    "2,7.5136945040031664\n"
    "3,7.522811784366505\n"
    "4,6.5900665870030117\n"
    "5,7.426233140718157\n"
    "6,7.7410039453965789\n"
    "8,5.5379827841107216\n"
    "10,4.0216535479039655\n"
    "12,4.0806692910147726\n"
    "16,2.9588907039684003\n"
    "20,2.1552715920573231\n"
    "24,1.4800870889113049\n"
    "30,1.0052109499046522\n"
    "36,0.58794400118383516\n";
const char* const kCombinedData =
    "time,conc\n"
    "0.25,2.7289790233772466\n"
    "0.5,5.4983699003234818\n"
    "0.75,5.7233620909438248\n"
    "1,6.7717682061666276\n"
    "1.5,8.8037796698885309\n"
    "2,7.5534674082808575\n"
    "3,9.1257783753281476\n"
    "4,7.3805714906588147\n"
    "5,6.7572458518922627\n"
    "6,6.6573870834277074\n"
    "8,5.0602199788952928\n"
    "10,5.2687101652040438\n"
    "12,4.727393918240451\n"
    "16,1.9613824659828167\n"
    "20,2.4267910340153769\n"
    "24,1.4784390176269084\n"
    "30,0.99505953087661214\n"
    "36,0.45839895431332744\n";

std::string generated_problem(const std::string& noise_parameters,
                              const std::string& sigma) {
  return R"(states: [gut, central]
parameters:
  ka: {lower: 0.01, upper: 20, scale: log, value: 1.5}
  ke: {lower: 0.001, upper: 5, scale: log, value: 0.08}
  V:  {lower: 0.01, upper: 10, scale: log, value: 0.4}
)" + noise_parameters +
         R"(matrix:
  gut:     {gut: -ka}
  central: {gut: ka, central: -ke}
observables:
  conc: {states: {central: 1/V}, sigma: )" +
         sigma + R"(}
experiments:
  - {id: s1, x0: {gut: 4.02}}
data: data.csv
)";
}

TEST(LikelihoodFit, ProportionalAndCombinedErrorsAgreeWithScipy) {
  const struct {
    const char* what;
    std::string problem;
    const char* data;
    std::map<std::string, double> scipy;
  } cases[] = {
      {"proportional",
       generated_problem(
           "  b: {lower: 1e-4, upper: 1, scale: log10, value: 0.1}\n",
           "b*conc"),
       kProportionalData,
       {{"ka", 1.5945376369578614},
        {"ke", 0.079299434709694416},
        {"V", 0.40936748749233648},
        {"b", 0.084265681493729566}}},
      {"combined",
       generated_problem(
           "  a: {lower: 1e-4, upper: 10, scale: log10, value: 0.2}\n"
           "  b: {lower: 1e-4, upper: 1, scale: log10, value: 0.1}\n",
           "sqrt(a*a + b*b*conc*conc)"),
       kCombinedData,
       {{"ka", 1.3209754632092148},
        {"ke", 0.082670248678279115},
        {"V", 0.39549805835554536},
        {"a", 0.059822676321843279},
        {"b", 0.12162940926824908}}},
  };
  for (const auto& c : cases) {
    for (const char* method : {"lm", "lbfgsb"}) {
      SCOPED_TRACE(std::string(c.what) + ", " + method);
      ScratchDir dir;
      dir.write("problem.yaml", c.problem);
      dir.write("data.csv", c.data);
      const RunResult r =
          dir.run(std::string("problem.yaml -q --method ") + method);
      ASSERT_EQ(r.exit_code, 0) << r.err;
      expect_relative(estimates(dir.read("problem.parameters.tsv")), c.scipy,
                      1e-6);
    }
  }
}

// Perelson et al. (1996), HIV-1 decay, log10-normal with sd estimated, as
// in the PEtab benchmark collection; estimates as SciPy maximises the
// PEtab objective, given to 1e-6.
TEST(LikelihoodFit, Log10NormalBenchmarkReachesItsEstimates) {
  ScratchDir dir;
  dir.write("problem.yaml", R"(states: [Tstar, V, Vin, Vni]
parameters:
  NN: {value: 480.000000026982, estimate: false}
  T0: {value: 11000.0000010581, estimate: false}
  c: {lower: 1e-05, upper: 100000.0, scale: log10, value: 2.06000000014632}
  delta: {lower: 1e-05, upper: 100000.0, scale: log10, value: 0.529999999999037}
  K0: {value: 3.89999999976204e-07, estimate: false}
  sd: {lower: 1e-05, upper: 100000.0, scale: log10, value: 1}
matrix:
  Tstar: {Tstar: -delta, Vin: K0*T0}
  V: {Tstar: NN*delta, Vin: -c, Vni: -c}
  Vin: {Vin: -c}
  Vni: {Tstar: NN*delta, Vni: -c}
observables:
  V: {states: {V: 1.0}, sigma: sd, transformation: log10}
experiments:
  - {id: condition1, x0: {Tstar: 15061.32075, V: 1860000.0, Vin: 1860000.0}}
data: data.csv
)");
  dir.write("data.csv",
            "time,V\n0,1029000\n0.105,1087000\n0.169,2158000\n0.282,1860000\n"
            "0.492,2195000\n0.757,1567000\n1.029,3208000\n1.253,2293000\n"
            "1.533,1342000\n1.75,1197000\n2.038,987100\n3.013,697300\n"
            "3.987,503800\n4.968,282200\n5.972,172700\n6.973,91618.242\n");
  // --separately poses each experiment's own problem: its noise model too.
  for (const char* method : {"lm", "lbfgsb", "lbfgsb --separately"}) {
    SCOPED_TRACE(method);
    const RunResult r =
        dir.run(std::string("problem.yaml -q --method ") + method);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    // The fit table: the standardised residual on the log10 scale.
    std::istringstream fit(dir.read("problem.fit.tsv"));
    std::string header, first;
    std::getline(fit, header);
    std::getline(fit, first);
    EXPECT_EQ(header.substr(header.find("weightedResidual")),
              "weightedResidual\ttransformation\ttransformedMeasurement\t"
              "transformedSimulation");
    std::vector<std::string> cells;
    std::istringstream row(first);
    for (std::string cell; std::getline(row, cell, '\t');)
      cells.push_back(cell);
    ASSERT_EQ(cells.size(), 11u) << first;
    EXPECT_EQ(cells[8], "log10");
    EXPECT_NEAR(std::stod(cells[7]),
                (std::log10(std::stod(cells[4])) - std::log10(1029000.0)) /
                    std::stod(cells[5]),
                1e-12);
    const auto got = estimates(dir.read("problem.parameters.tsv"));
    EXPECT_NEAR(got.at("c"), 1.8606254, 1e-6);
    EXPECT_NEAR(got.at("delta"), 0.54733817, 1e-6);
    EXPECT_NEAR(got.at("sd"), 0.122832, 1e-6);
  }
}

// Least squares cannot take a Laplace density: by default lbfgsb fits it,
// and an explicit lm is refused before the fit.
TEST(LikelihoodFit, LaplaceIsFittedByLbfgsbAndRefusedByLm) {
  ScratchDir dir;
  write_theophylline(dir, 1.0);
  std::string problem = dir.read("problem.yaml");
  problem.replace(problem.find("sigma: s}"), 9,
                  "sigma: s, distribution: laplace}");
  dir.write("problem.yaml", problem);
  const RunResult fitted =
      dir.run("problem.yaml -q --starts 1 --history h.csv");
  EXPECT_NE(fitted.err.find("lbfgsb: "), std::string::npos) << fitted.err;
  EXPECT_NE(fitted.err.find("-2 ln L "), std::string::npos) << fitted.err;
  EXPECT_EQ(dir.read("h.csv").substr(0, 23), "iteration,minus_2_ln_L\n");
  const RunResult refused = dir.run("problem.yaml -q --method lm");
  EXPECT_EQ(refused.exit_code, 2);
  EXPECT_EQ(refused.err,
            "identify: --method: expected lbfgsb with a laplace distribution "
            "(lm fits sums of squares), found \"lm\"\n");
}

// The noise keys' faults, each at its place, exit 3.
TEST(LikelihoodFit, RefusesBadNoiseModelsWithTheirPlace) {
  const struct {
    std::string from, to;  // an edit of the problem file
    std::string data;
    std::string message;
  } cases[] = {
      {"sigma: b*conc}", "sigma: b*conc, transformation: log2}", "",
       "problem.yaml:11:65: expected a transformation lin, log or log10, "
       "found \"log2\""},
      {"sigma: b*conc}", "sigma: b*conc, distribution: cauchy}", "",
       "problem.yaml:11:63: expected a distribution normal or laplace, found "
       "\"cauchy\""},
      {"sigma: b*conc}", "sigma: b*concx}", "",
       "problem.yaml:11:43: expected a declared parameter, found \"concx\""},
      {"sigma: b*conc}", "sigma: b*conc, transformation: log}",
       "time,conc\n1,2.5\n2,0\n",
       "data.csv:3:3: expected a measurement above 0 (observable conc is "
       "compared on a log scale), found 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.to);
    ScratchDir dir;
    std::string problem = generated_problem(
        "  b: {lower: 1e-4, upper: 1, scale: log10, value: 0.1}\n", "b*conc");
    problem.replace(problem.find(c.from), c.from.size(), c.to);
    dir.write("problem.yaml", problem);
    dir.write("data.csv", c.data.empty() ? kProportionalData : c.data);
    const RunResult r = dir.run("problem.yaml -q");
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.err, "identify: " + c.message + "\n");
  }
}

}  // namespace
}  // namespace identify::testing
