// Fits of every experiment on its own (--separately) on one and on two
// threads: the twelve subjects of examples/theophylline_12, exact model and
// lm, models built once outside the timing as the program builds them
// before its fits. Separately/Threads/T fits all twelve on T threads.
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>

#include "api/pipeline.h"
#include "api/problem_fits.h"
#include "input/yaml_problem_file.h"

namespace identify {
namespace {

void Threads(benchmark::State& state) {
  const LoadedProblem loaded = read_yaml_problem(
      std::string(IDENTIFY_EXAMPLES_DIR) + "/theophylline_12/problem.yaml");
  MonitorSettings settings;
  settings.quiet = true;
  settings.epsilon = 0.0;
  const int threads = static_cast<int>(state.range(0));
  FitOptions options;
  options.starts = 1;
  options.threads = threads;
  const FitPlan plan =
      plan_of(options, RunChoice{ModelKind::kExact, Method::kLm, 1});
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<ProblemFit> fits =
        plan_fits(loaded.problem, ModelKind::kExact, true);
    std::ostringstream out;
    state.ResumeTiming();
    run_fits(fits, plan, settings, false, threads, out, out);
    benchmark::DoNotOptimize(fits.back().summary.norm);
  }
}
BENCHMARK(Threads)->Name("Separately/Threads")->Arg(1)->Arg(2)->UseRealTime();

}  // namespace
}  // namespace identify
