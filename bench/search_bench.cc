// Multi-start fits and profiles on the theophylline example
// (examples/theophylline_pk: ka, ke, V on a log scale; the exact model and
// lm), through the stages the program runs, quietly:
//   Search/Starts/1        the single fit (the usual start), for reference;
//   Search/Starts/100      100 starts on two worker threads, the result's
//                          start fitted again;
//   Search/Profiles        the profiles of ka, ke and V at the optimum
//                          (both sides of each on two threads);
// and whole runs of the program on the legacy theophylline example
// (examples/theophylline, --model exact --method lm, -q), as a user times
// them:
//   Search/Run/1, Search/Run/100   --starts 1 and --starts 100 --threads 2.
// The counter per_single_start of the 100-start benchmarks is their time
// over that of the single start (run in the same process just before).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "api/fit_task.h"
#include "app/options.h"
#include "api/multistart_stage.h"
#include "api/profile_stage.h"
#include "input/yaml_problem_file.h"
#include "model/model_kind.h"
#include "problem/descent_rules.h"

namespace identify {
namespace {

// A problem with the descent set-up the fit stages take.
struct Posed {
  FitProblem problem;
  DescentSetup descent;
  FitTask task() const { return {problem, descent}; }
};

Posed theophylline() {
  Posed input;
  input.problem = read_yaml_problem(std::string(IDENTIFY_EXAMPLES_DIR) +
                                    "/theophylline_pk/problem.yaml")
                      .problem;
  input.descent.rules = descent_rules(input.problem);
  return input;
}

// Seconds of one fit of `starts` starts.
double fit_seconds(const Posed& input, Model& model, int starts) {
  Options opt;
  opt.starts = starts;
  opt.threads = 2;
  const RunChoice choice{ModelKind::kExact, Method::kLm, starts};
  MonitorSettings settings;
  settings.quiet = true;
  std::ostringstream out;
  SearchResults results;
  const auto begin = std::chrono::steady_clock::now();
  const Summary s = fit_with_starts(fit_plan(opt, choice), input.task(), model,
                                    settings, out, results);
  benchmark::DoNotOptimize(s.norm);
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - begin;
  return took.count();
}

double single_start_seconds = 0.0;

void Starts(benchmark::State& state) {
  const Posed input = theophylline();
  const std::unique_ptr<Model> model =
      make_model(ModelKind::kExact, input.problem);
  const int starts = static_cast<int>(state.range(0));
  double total = 0.0;
  for (auto _ : state) {
    const double seconds = fit_seconds(input, *model, starts);
    state.SetIterationTime(seconds);
    total += seconds;
  }
  const double mean = total / static_cast<double>(state.iterations());
  if (starts == 1) single_start_seconds = mean;
  if (starts > 1 && single_start_seconds > 0.0) {
    state.counters["per_single_start"] = mean / single_start_seconds;
  }
}
BENCHMARK(Starts)
    ->Name("Search/Starts")
    ->Arg(1)
    ->Arg(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void Profiles(benchmark::State& state) {
  const Posed input = theophylline();
  const std::unique_ptr<Model> model =
      make_model(ModelKind::kExact, input.problem);
  Options opt;
  opt.profile = true;
  opt.threads = 2;
  const RunChoice choice{ModelKind::kExact, Method::kLm, 1};
  MonitorSettings settings;
  settings.quiet = true;
  std::ostringstream out, err;
  SearchResults fitted;
  const FitPlan plan = fit_plan(opt, choice);
  const Summary optimum =
      fit_with_starts(plan, input.task(), *model, settings, out, fitted);
  for (auto _ : state) {
    Summary summary = optimum;
    SearchResults results;
    profile_result(plan, input.task(), *model, settings, summary, results, out,
                   err);
    benchmark::DoNotOptimize(results.curves.data());
  }
}
BENCHMARK(Profiles)->Name("Search/Profiles")->Unit(benchmark::kMillisecond);

// Seconds of one run of the program in `dir` with `args`, its console to
// /dev/null.
double run_seconds(const std::filesystem::path& dir,
                   const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::string binary = IDENTIFY_BINARY;
  argv.push_back(binary.data());
  std::vector<std::string> copies = args;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const std::string where = dir.string();
  posix_spawn_file_actions_addchdir_np(&actions, where.c_str());
  const auto begin = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(),
                  environ) != 0) {
    return 0.0;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - begin;
  posix_spawn_file_actions_destroy(&actions);
  return took.count();
}

double single_run_seconds = 0.0;

void Run(benchmark::State& state) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / "identify_search_bench";
  std::filesystem::create_directories(dir);
  for (const char* name : {"input.txt", "input_data.txt"}) {
    std::filesystem::copy_file(
        std::string(IDENTIFY_EXAMPLES_DIR) + "/theophylline/" + name,
        dir / name, std::filesystem::copy_options::overwrite_existing);
  }
  const std::string starts = std::to_string(state.range(0));
  const std::vector<std::string> args = {
      "--no-pause", "-q",       "--model", "exact",     "--method",
      "lm",         "--starts", starts,    "--threads", "2"};
  double total = 0.0;
  for (auto _ : state) {
    const double seconds = run_seconds(dir, args);
    state.SetIterationTime(seconds);
    total += seconds;
  }
  const double mean = total / static_cast<double>(state.iterations());
  if (state.range(0) == 1) single_run_seconds = mean;
  if (state.range(0) > 1 && single_run_seconds > 0.0) {
    state.counters["per_single_start"] = mean / single_run_seconds;
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(Run)
    ->Name("Search/Run")
    ->Arg(1)
    ->Arg(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace identify
