// The whole matrix A (every entry free, start 0) of the well-posed cases of
// ../shared/data/whole_matrix_wellposed: identify (--method lm --model
// exact, one start) and SciPy's least_squares (tools/whole_matrix_scipy.py)
// run alternately in the same benchmark iteration, so that both see the same
// load on a shared machine. Each is a child process; its CPU time comes
// from getrusage(RUSAGE_CHILDREN) around it. The counters give both CPU
// times, both wall times and the ratios SciPy/identify of each
// (scipy_over_identify of CPU time, wall_ratio of wall time: identify runs
// its large products on two threads, SciPy's script on one); the label
// names the CPU. WholeMatrix/wp40 runs only when IDENTIFY_BENCH_WP40 is set
// (SciPy takes minutes there). The data directory is
// IDENTIFY_WHOLE_MATRIX_DIR, by default ../shared/data/whole_matrix_wellposed
// next to the source tree.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string cpu_name() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0) {
      return line.substr(line.find(':') + 2);
    }
  }
  return "unknown CPU";
}

double children_cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return double(usage.ru_utime.tv_sec) + double(usage.ru_stime.tv_sec) +
         1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// Runs `command`; its CPU seconds, or a negative value if it failed.
double child_cpu(const std::string& command) {
  const double before = children_cpu_seconds();
  if (std::system(command.c_str()) != 0) return -1.0;
  return children_cpu_seconds() - before;
}

fs::path data_directory() {
  const char* set = std::getenv("IDENTIFY_WHOLE_MATRIX_DIR");
  return set != nullptr ? fs::path(set)
                        : fs::path(IDENTIFY_SOURCE_DIR) /
                              "../shared/data/whole_matrix_wellposed";
}

void WholeMatrix(benchmark::State& state, const std::string& name) {
  const fs::path source = data_directory() / name;
  if (!fs::exists(source / "problem.yaml")) {
    state.SkipWithError(("no data in " + source.string()).c_str());
    return;
  }
  const fs::path work = fs::temp_directory_path() / ("whole_matrix_" + name);
  fs::create_directories(work);
  for (const char* file : {"problem.yaml", "data.csv"}) {
    fs::copy_file(source / file, work / file,
                  fs::copy_options::overwrite_existing);
    fs::permissions(work / file, fs::perms::owner_write, fs::perm_options::add);
  }
  const std::string identify =
      std::string(IDENTIFY_BINARY) + " " + (work / "problem.yaml").string() +
      " --method lm --model exact --starts 1 >/dev/null 2>&1";
  const std::string scipy =
      "/usr/bin/python3 " + std::string(IDENTIFY_SOURCE_DIR) +
      "/tools/whole_matrix_scipy.py " + source.string() + " >/dev/null 2>&1";
  double identify_cpu = 0.0, scipy_cpu = 0.0;
  double identify_wall = 0.0, scipy_wall = 0.0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const double ours = child_cpu(identify);
    const auto middle = std::chrono::steady_clock::now();
    const double theirs = child_cpu(scipy);
    identify_wall += std::chrono::duration<double>(middle - start).count();
    scipy_wall +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - middle)
            .count();
    if (ours < 0.0 || theirs < 0.0) {
      state.SkipWithError("identify or the SciPy script failed");
      break;
    }
    identify_cpu += ours;
    scipy_cpu += theirs;
  }
  const double n = double(state.iterations());
  state.counters["identify_cpu_s"] = identify_cpu / n;
  state.counters["identify_wall_s"] = identify_wall / n;
  state.counters["scipy_cpu_s"] = scipy_cpu / n;
  state.counters["scipy_wall_s"] = scipy_wall / n;
  state.counters["scipy_over_identify"] =
      identify_cpu > 0.0 ? scipy_cpu / identify_cpu : 0.0;
  state.counters["wall_ratio"] =
      identify_wall > 0.0 ? scipy_wall / identify_wall : 0.0;
  state.SetLabel(cpu_name());
  fs::remove_all(work);
}

void WholeMatrix20(benchmark::State& state) { WholeMatrix(state, "wp20"); }
void WholeMatrix40(benchmark::State& state) {
  if (std::getenv("IDENTIFY_BENCH_WP40") == nullptr) {
    state.SkipWithError("set IDENTIFY_BENCH_WP40 to run it");
    return;
  }
  WholeMatrix(state, "wp40");
}
BENCHMARK(WholeMatrix20)
    ->Name("WholeMatrix/wp20")
    ->Iterations(3)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK(WholeMatrix40)
    ->Name("WholeMatrix/wp40")
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
