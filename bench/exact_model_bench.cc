// The closed-form model's Jacobian for N = 5, 10, 20, 40 and 80 with all N²
// entries of A free: a random stable A, three observed states, 20 sample
// times over (0, 5]. ExactTheta/Jacobian/N is the model on θ (one
// parameter per entry, one Fréchet derivative of m×m per (time,
// observable)), and ExactTheta/Evaluate/N one evaluation (one m×m
// exponential per time). The counter per_pair is the real time per (time,
// observable) pair: it grows like N³ (×8 per doubling of N), the cost of
// one Fréchet derivative. ExactChain/… is the same on a chain x1 -> x2 ->
// ... -> xN (rates k_i out of x_i, N parameters): a matrix without a
// cycle, exponentiated in triangular form.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "core/table.h"
#include "model/exact/exact_model.h"
#include "problem/expression.h"
#include "problem/problem_builder.h"

namespace identify {
namespace {

constexpr int kTimes = 20;
constexpr double kEnd = 5.0;

// Off-diagonal entries of size 0.5/N, diagonal −1 ± 0.3: stable.
Matrix random_stable_matrix(int n) {
  std::mt19937_64 rng(static_cast<unsigned>(n));
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  Matrix A(n, n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) A[i][j] = 0.5 / n * unit(rng);
    A[i][i] = -1.0 + 0.3 * unit(rng);
  }
  return A;
}

// prefix followed by the number i (appended, which keeps GCC 12's
// -Wrestrict false positive on string concatenation away).
std::string numbered(const char* prefix, int i) {
  std::string name(prefix);
  name.append(std::to_string(i));
  return name;
}

std::vector<int> observed_states(int n) { return {0, n / 2, n - 1}; }

double x0_of(int i) { return 1.0 / (1.0 + i); }

FitProblem theta_problem(int n) {
  const Matrix A = random_stable_matrix(n);
  std::vector<std::string> states;
  for (int i = 1; i <= n; ++i) states.push_back(numbered("x", i));
  ProblemBuilder b(states);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      Parameter p;
      p.name = numbered("a", i).append(numbered("_", j));
      p.value = A[i][j];
      b.add_parameter(p);
      b.set_entry(i, j, p.name);
    }
  }
  const int e = b.add_experiment("bench");
  for (int i = 0; i < n; ++i) {
    b.set_x0(e, states[i], Expression::number(x0_of(i)).text());
  }
  for (const int c : observed_states(n)) {
    const int o = b.add_observable(numbered("y", c), {{states[c], "1"}});
    for (int q = 1; q <= kTimes; ++q) {
      b.add_measurement(e, o, kEnd * q / kTimes, 0.0);
    }
  }
  return b.build();
}

// x1 -> x2 -> ... -> xN, dx_i/dt = k_{i−1}·x_{i−1} − k_i·x_i, the rates
// 0.5 + 0.1·i, x0 = (1, 0, ..., 0), the three states of theta_problem
// observed at its 20 times.
FitProblem chain_problem(int n) {
  std::vector<std::string> states;
  for (int i = 1; i <= n; ++i) states.push_back(numbered("x", i));
  ProblemBuilder b(states);
  for (int i = 0; i < n; ++i) {
    Parameter p;
    p.name = numbered("k", i);
    p.value = 0.5 + 0.1 * i;
    b.add_parameter(p);
    b.set_entry(i, i, "-" + p.name);
    if (i + 1 < n) b.set_entry(i + 1, i, p.name);
  }
  const int e = b.add_experiment("bench");
  b.set_x0(e, states[0], "1");
  for (const int c : observed_states(n)) {
    const int o = b.add_observable(numbered("y", c), {{states[c], "1"}});
    for (int q = 1; q <= kTimes; ++q) {
      b.add_measurement(e, o, kEnd * q / kTimes, 0.0);
    }
  }
  return b.build();
}

void set_counters(benchmark::State& state) {
  const double pairs = 3.0 * kTimes;
  state.counters["per_pair"] =
      benchmark::Counter(pairs, benchmark::Counter::kIsIterationInvariantRate |
                                    benchmark::Counter::kInvert);
}

template <FitProblem (*Make)(int)>
void theta_jacobian(benchmark::State& state) {
  const FitProblem problem = Make(static_cast<int>(state.range(0)));
  ExactModel model(problem);
  Evaluation at;
  model.evaluate(problem.values(), at);
  Table J;
  for (auto _ : state) {
    model.jacobian(at, J);
    benchmark::DoNotOptimize(J.data());
  }
  set_counters(state);
}

template <FitProblem (*Make)(int)>
void theta_evaluate(benchmark::State& state) {
  const FitProblem problem = Make(static_cast<int>(state.range(0)));
  ExactModel model(problem);
  Evaluation at;
  const std::vector<double> theta = problem.values();
  for (auto _ : state) {
    model.evaluate(theta, at);
    benchmark::DoNotOptimize(at.y.data());
  }
}

BENCHMARK(theta_jacobian<theta_problem>)
    ->Name("ExactTheta/Jacobian")
    ->Arg(5)
    ->Arg(10)
    ->Arg(20)
    ->Arg(40)
    ->Arg(80)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(theta_evaluate<theta_problem>)
    ->Name("ExactTheta/Evaluate")
    ->Arg(5)
    ->Arg(10)
    ->Arg(20)
    ->Arg(40)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(theta_jacobian<chain_problem>)
    ->Name("ExactChain/Jacobian")
    ->Arg(3)
    ->Arg(5)
    ->Arg(10)
    ->Arg(20)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(theta_evaluate<chain_problem>)
    ->Name("ExactChain/Evaluate")
    ->Arg(3)
    ->Arg(5)
    ->Arg(10)
    ->Arg(20)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace identify
