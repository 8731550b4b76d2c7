// Population fits by FOCE-I: the theophylline population with 20 starts,
// and the simulated 100-subject population (examples/population_simulated)
// with one start, each on T threads (Population/.../T). The problem is
// read outside the timing.
#include <benchmark/benchmark.h>

#include <string>

#include "fit/population/population_fit.h"
#include "input/yaml_problem_file.h"

namespace identify {
namespace {

void fit(benchmark::State& state, const char* example, int starts) {
  const FitProblem problem =
      read_yaml_problem(std::string(IDENTIFY_EXAMPLES_DIR) + "/" + example +
                        "/problem.yaml")
          .problem;
  PopulationSettings settings;
  settings.starts = starts;
  settings.threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const PopulationFit f = fit_population(problem, settings);
    benchmark::DoNotOptimize(f.ofv);
  }
}

void Theophylline(benchmark::State& state) {
  fit(state, "theophylline_population", 20);
}
void Simulated(benchmark::State& state) {
  fit(state, "population_simulated", 1);
}
BENCHMARK(Theophylline)
    ->Name("Population/Theophylline20Starts")
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK(Simulated)
    ->Name("Population/Simulated100")
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace
}  // namespace identify
