// Time per descent iteration of the grid model on θ: adjoint sweep and N²
// gradient quadratures (model.gradient), the step θ ← θ − opt_par·g, then
// the forward sweep and the sampling (model.evaluate), once with the fast
// kernels and once with the plain reference code, for N = 2, 8, 32, 80. A
// summary of the plain/fast ratios follows the usual table. Further groups
// time the parts of a fast iteration, and whole fast iterations with one
// and with two gradient threads, which set the thread threshold.
//
// --fixed_iterations=K runs every benchmark exactly K times instead of for
// a minimum time, so that instruction counts (valgrind --tool=callgrind)
// of plain and fast runs can be compared.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "input/legacy_problem.h"
#include "input/records.h"
#include "model/grid/adjoint_sweep.h"
#include "model/grid/fast_kernels.h"
#include "model/grid/grid_model.h"

namespace identify {
namespace {

// N components, one series per component with 12 samples over [0, 5], the
// measurements taken from a stable random matrix. The descent starts from
// a perturbed copy with a small step, so that A stays near the truth and
// every iteration does the same work.
struct BenchCase {
  explicit BenchCase(int n) : start(make_matrix(n)), truth(make_matrix(n)) {
    std::mt19937_64 rng(static_cast<unsigned>(n));
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    problem.dim = n;
    problem.T = 5.0;
    problem.opt_par = 1e-4;
    problem.init_val.resize(n);
    problem.exp_coef.resize(n);
    problem.exp_par.resize(n);
    for (int i = 0; i < n; ++i) {
      problem.init_val[i] = unit(rng);
      problem.exp_coef[i] = unit(rng);
      problem.exp_par[i] = 0.5 * unit(rng);
      for (int j = 0; j < n; ++j) truth[i][j] = 0.5 / n * unit(rng);
      truth[i][i] = -1.0 + 0.3 * unit(rng);
    }
    for (std::size_t q = 0; q < truth.size(); ++q) {
      start.data()[q] = truth.data()[q] * (1.0 + 0.1 * unit(rng));
    }
    const int points = 12;
    obs.data_num = n;
    obs.data_dim.assign(n, points);
    obs.data_time = Table(n, points);
    obs.add_data = Table(n, points);
    for (int k = 0; k < n; ++k) {
      obs.is_data_exist.push_back(k);
      for (int p = 0; p < points; ++p) {
        obs.data_time[k][p] = problem.T * p / (points - 1);
      }
    }
    for (int k = 0; k < n; ++k) {
      for (int p = 0; p < points; ++p) {
        components.push_back(k);
        times.push_back(obs.data_time[k][p]);
      }
    }
    GridModel model(legacy_problem(problem, obs).problem, Kernels::kPlain);
    Evaluation at;
    model.evaluate(
        std::vector<double>(truth.data(), truth.data() + truth.size()), at);
    std::copy(at.y.begin(), at.y.end(), obs.add_data.data());
    fit = legacy_problem(problem, obs).problem;
  }
  ProblemRecord problem;
  ObservationRecord obs;
  FitProblem fit;
  Matrix start, truth;
  std::vector<int> components;  // of each sample, series after series
  std::vector<double> times;
};

void run_iterations(benchmark::State& state, int n, Kernels kernels) {
  const BenchCase c(n);
  GridModel model(c.fit, kernels);
  const Table& data = c.obs.add_data;
  std::vector<double> theta(c.start.data(), c.start.data() + c.start.size());
  std::vector<double> w(data.size()), g(theta.size());
  Evaluation at;
  model.evaluate(theta, at);
  for (auto _ : state) {
    for (std::size_t q = 0; q < w.size(); ++q) {
      w[q] = (at.y[q] - data.data()[q]) * 2.0;
    }
    model.gradient(at, w, g);
    for (std::size_t q = 0; q < theta.size(); ++q) {
      theta[q] = theta[q] - g[q] * c.problem.opt_par;
    }
    model.evaluate(theta, at);
    benchmark::DoNotOptimize(at.y.data());
  }
}

enum class Part { kForward, kAdjoint, kQuadrature };

void run_part(benchmark::State& state, int n, Part part) {
  const BenchCase c(n);
  const double dt = c.problem.T / 3000.0;
  FastKernels fast(n, c.problem.T, dt, c.problem.exp_coef, c.problem.exp_par);
  Trajectory X = make_trajectory(n), Psi = make_trajectory(n);
  Matrix G = make_matrix(n);
  Table H(1, c.obs.add_data.size(), 0.01);
  const std::vector<Jump> jumps =
      make_jump_schedule(c.components, c.times, c.problem.T);
  const Vector terminal(n, 0.0);
  fast.forward(c.problem.init_val.data(), c.start, X);
  fast.adjoint(terminal.data(), c.start, H, jumps, Psi);
  for (auto _ : state) {
    switch (part) {
      case Part::kForward:
        fast.forward(c.problem.init_val.data(), c.start, X);
        break;
      case Part::kAdjoint:
        fast.adjoint(terminal.data(), c.start, H, jumps, Psi);
        break;
      case Part::kQuadrature:
        fast.gradient(Psi, G);
        break;
    }
    benchmark::DoNotOptimize(X.data());
    benchmark::DoNotOptimize(Psi.data());
    benchmark::DoNotOptimize(G.data());
  }
}

// A whole fast iteration on FastKernels directly, with the number of
// gradient threads forced: the worker sleeps through both sweeps, as it does
// in a real run, so its wake-up cost is part of the time.
void run_threaded_iteration(benchmark::State& state, int n, int threads) {
  const BenchCase c(n);
  const double dt = c.problem.T / 3000.0;
  FastKernels fast(n, c.problem.T, dt, c.problem.exp_coef, c.problem.exp_par,
                   {VectorIsa::kAvx512, threads});
  Trajectory X = make_trajectory(n), Psi = make_trajectory(n);
  Matrix A = c.start, G = make_matrix(n);
  Table H(1, c.obs.add_data.size(), 0.01);
  const std::vector<Jump> jumps =
      make_jump_schedule(c.components, c.times, c.problem.T);
  const Vector terminal(n, 0.0);
  fast.forward(c.problem.init_val.data(), A, X);
  for (auto _ : state) {
    fast.adjoint(terminal.data(), A, H, jumps, Psi);
    fast.gradient(Psi, G);
    for (std::size_t q = 0; q < A.size(); ++q) {
      A.data()[q] = A.data()[q] - G.data()[q] * 1e-9;
    }
    fast.forward(c.problem.init_val.data(), A, X);
    benchmark::DoNotOptimize(X.data());
  }
}

// Passes every line through to the console and keeps each benchmark's real
// time per iteration for the summary: the median aggregate when the runs
// are repeated, else the median of the single runs.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const std::string& name = run.run_name.function_name;
      if (run.run_type == Run::RT_Iteration) {
        times_[name].push_back(run.GetAdjustedRealTime());
      } else if (run.aggregate_name == "median") {
        medians_[name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Real time per iteration of `name` in microseconds; 0 if it did not run.
  double time_of(const std::string& name) const {
    if (auto m = medians_.find(name); m != medians_.end()) return m->second;
    auto it = times_.find(name);
    if (it == times_.end() || it->second.empty()) return 0.0;
    std::vector<double> t = it->second;
    std::nth_element(t.begin(), t.begin() + t.size() / 2, t.end());
    return t[t.size() / 2];
  }

 private:
  std::map<std::string, std::vector<double>> times_;
  std::map<std::string, double> medians_;
};

std::string name_of(const char* group, const char* variant, int n) {
  return std::string(group) + "/" + variant + "/" + std::to_string(n);
}

}  // namespace
}  // namespace identify

int main(int argc, char** argv) {
  using identify::Kernels;
  using identify::Part;
  std::int64_t fixed = 0;
  std::vector<char*> args;
  for (int a = 0; a < argc; ++a) {
    const char* flag = "--fixed_iterations=";
    if (std::strncmp(argv[a], flag, std::strlen(flag)) == 0) {
      fixed = std::atoll(argv[a] + std::strlen(flag));
    } else {
      args.push_back(argv[a]);
    }
  }
  auto shape = [fixed](benchmark::internal::Benchmark* b) {
    b->UseRealTime()->Unit(benchmark::kMicrosecond);
    if (fixed > 0) b->Iterations(fixed);
  };

  const int sizes[] = {2, 8, 32, 80};
  for (int n : sizes) {
    for (auto [variant, kernels] : {std::pair{"plain", Kernels::kPlain},
                                    std::pair{"fast", Kernels::kFast}}) {
      const std::string name = identify::name_of("Iteration", variant, n);
      shape(benchmark::RegisterBenchmark(
          name.c_str(), [n, kernels = kernels](benchmark::State& s) {
            identify::run_iterations(s, n, kernels);
          }));
    }
  }
  for (int n : sizes) {
    for (auto [variant, part] : {std::pair{"forward", Part::kForward},
                                 std::pair{"adjoint", Part::kAdjoint},
                                 std::pair{"quadrature", Part::kQuadrature}}) {
      const std::string name = identify::name_of("FastPart", variant, n);
      shape(benchmark::RegisterBenchmark(name.c_str(),
                                         [n, part = part](benchmark::State& s) {
                                           identify::run_part(s, n, part);
                                         }));
    }
  }
  for (int n : {16, 32, 48, 64, 80, 96, 112, 128, 160}) {
    for (int threads : {1, 2}) {
      const std::string name =
          identify::name_of("GradientThreads", threads == 1 ? "1" : "2", n);
      shape(benchmark::RegisterBenchmark(
          name.c_str(), [n, threads](benchmark::State& s) {
            identify::run_threaded_iteration(s, n, threads);
          }));
    }
  }

  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  identify::SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const identify::VectorIsa isa = identify::best_vector_isa();
  std::printf(
      "\nPer-iteration real time, plain reference vs fast kernels\n"
      "(fast path: %s, gradient on two threads from N = %d)\n",
      isa == identify::VectorIsa::kAvx512 ? "AVX-512"
      : isa == identify::VectorIsa::kAvx2 ? "AVX2"
                                          : "SSE2",
      identify::kGradientThreadThreshold);
  std::printf("%6s %14s %14s %10s\n", "N", "plain [us]", "fast [us]",
              "speed-up");
  for (int n : sizes) {
    const double plain =
        reporter.time_of(identify::name_of("Iteration", "plain", n));
    const double fast =
        reporter.time_of(identify::name_of("Iteration", "fast", n));
    if (plain > 0.0 && fast > 0.0) {
      std::printf("%6d %14.1f %14.1f %9.2fx\n", n, plain, fast, plain / fast);
    }
  }
  return 0;
}
