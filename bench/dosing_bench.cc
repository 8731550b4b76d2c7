// The closed-form model with doses: an oral two-compartment model in
// amounts (gut → central ⇄ peripheral, clearance from central; ka, CL, V,
// Q, V2 and a lag tlag, six parameters), 20 oral doses of 100 every 12 h,
// 100 concentrations. Two sampling designs: "regular", five samples at
// 0.5, 1, 2, 4 and 8 h after every dose (the step lengths repeat, so
// exponentials and directional derivatives are shared), and "irregular",
// 100 times drawn uniformly over the 240 h (seed 1; every length
// distinct). Dosing/EvaluateJacobian/… is one evaluate() followed by one
// jacobian(), what a Gauss-Newton iteration asks of the model;
// Dosing/Evaluate/… and Dosing/Gradient/… the parts alone.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "model/exact/exact_model.h"
#include "problem/problem_builder.h"

namespace identify {
namespace {

constexpr int kDoses = 20;
constexpr double kInterval = 12.0;

std::vector<double> sample_times(bool regular) {
  std::vector<double> times;
  if (regular) {
    for (int d = 0; d < kDoses; ++d) {
      for (const double after : {0.5, 1.0, 2.0, 4.0, 8.0}) {
        times.push_back(kInterval * d + after);
      }
    }
    return times;
  }
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> uniform(0.0, kDoses * kInterval);
  for (int q = 0; q < 100; ++q) times.push_back(uniform(rng));
  std::sort(times.begin(), times.end());
  return times;
}

FitProblem two_compartment(bool regular) {
  ProblemBuilder b({"gut", "central", "periph"});
  for (const auto& [name, value] :
       std::vector<std::pair<std::string, double>>{{"ka", 1.3},
                                                   {"CL", 0.9},
                                                   {"V", 8.0},
                                                   {"Q", 1.1},
                                                   {"V2", 15.0},
                                                   {"tlag", 0.37}}) {
    Parameter p;
    p.name = name;
    p.value = value;
    b.add_parameter(p);
  }
  b.set_entry("gut", "gut", "-ka");
  b.set_entry("central", "gut", "ka");
  b.set_entry("central", "central", "-(CL + Q) / V");
  b.set_entry("central", "periph", "Q / V2");
  b.set_entry("periph", "central", "Q / V");
  b.set_entry("periph", "periph", "-Q / V2");
  const int conc = b.add_observable("conc", {{"central", "1/V"}});
  const int e = b.add_experiment("subject");
  b.set_lag(e, "tlag");
  for (int d = 0; d < kDoses; ++d) {
    b.add_dose(e, "gut", std::to_string(kInterval * d), "100");
  }
  for (const double t : sample_times(regular)) b.add_measurement(e, conc, t, 1);
  return b.build();
}

void evaluate_jacobian(benchmark::State& state) {
  const FitProblem problem = two_compartment(state.range(0) == 1);
  ExactModel model(problem);
  const std::vector<double> theta = problem.values();
  Evaluation at;
  Table J;
  for (auto _ : state) {
    model.evaluate(theta, at);
    model.jacobian(at, J);
    benchmark::DoNotOptimize(J.data());
  }
}

void evaluate(benchmark::State& state) {
  const FitProblem problem = two_compartment(state.range(0) == 1);
  ExactModel model(problem);
  const std::vector<double> theta = problem.values();
  Evaluation at;
  for (auto _ : state) {
    model.evaluate(theta, at);
    benchmark::DoNotOptimize(at.y.data());
  }
}

void gradient(benchmark::State& state) {
  const FitProblem problem = two_compartment(state.range(0) == 1);
  ExactModel model(problem);
  Evaluation at;
  model.evaluate(problem.values(), at);
  const std::vector<double> w(problem.measurement_count(), 1.0);
  std::vector<double> g(problem.parameter_count());
  for (auto _ : state) {
    model.gradient(at, w, g);
    benchmark::DoNotOptimize(g.data());
  }
}

void designs(benchmark::internal::Benchmark* b) {
  b->ArgName("regular")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
}

BENCHMARK(evaluate_jacobian)->Name("Dosing/EvaluateJacobian")->Apply(designs);
BENCHMARK(evaluate)->Name("Dosing/Evaluate")->Apply(designs);
BENCHMARK(gradient)->Name("Dosing/Gradient")->Apply(designs);

}  // namespace
}  // namespace identify
