// Fuzz target: the YAML problem file with one data table. The input is the
// problem file, a line "=====", then the table (no such line: an empty
// table), written as problem.yaml and data.csv into a scratch directory made
// once per process. Either the reader refuses them with one line that names
// the file at fault, or the problem it returns keeps its promises: at least
// one experiment, every measurement of a declared observable at a finite
// time of 0 or more with a finite value, every parameter within its bounds.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "input/yaml_problem_file.h"

namespace identify::fuzz {
namespace {

void check_problem(const FitProblem& p) {
  check(!p.experiments.empty(), "at least one experiment");
  for (const Parameter& q : p.parameters) {
    check(std::isfinite(q.value) && q.lower <= q.value && q.value <= q.upper,
          "parameter values lie within their bounds");
  }
  for (const Experiment& e : p.experiments) {
    check(e.x0.size() == p.states.size(), "x0 has one entry per state");
    check(e.observables.size() == p.observables.size(),
          "every observable is bound in every experiment");
    for (const Measurement& m : e.measurements) {
      check(m.observable >= 0 &&
                m.observable < static_cast<int>(p.observables.size()),
            "measurements name a declared observable");
      check(std::isfinite(m.time) && m.time >= 0.0,
            "measurement times are finite and >= 0");
      check(std::isfinite(m.value), "measured values are finite");
    }
  }
}

}  // namespace
}  // namespace identify::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace identify;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t split = bytes.find("\n=====\n");
  const std::string dir = fuzz::scratch_dir("identify-yaml");
  fuzz::write_file(dir + "/problem.yaml", bytes.substr(0, split));
  fuzz::write_file(dir + "/data.csv", split == std::string_view::npos
                                          ? std::string_view()
                                          : bytes.substr(split + 7));
  try {
    fuzz::check_problem(read_yaml_problem(dir + "/problem.yaml").problem);
  } catch (const InputError& e) {
    const std::string message = e.what();
    fuzz::check(message.find('\n') == std::string::npos,
                "a message is one line");
    // The file at fault: the problem file or a table it names.
    const bool placed = message.rfind(dir + "/", 0) == 0;
    if (!placed) std::fprintf(stderr, "message: %s\n", message.c_str());
    fuzz::check(placed, "a message names the file at fault first");
  }
  return 0;
}
