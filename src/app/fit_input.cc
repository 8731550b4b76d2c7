// The legacy front door: the two files read in their fixed order, each
// followed by its console line and a pause, then converted to a FitProblem
// whose parameters are the entries of A (row-major) and whose descent rules
// are the file's own. The records go no further than this file.
#include "app/fit_input.h"

#include <unistd.h>

#include <ostream>
#include <sstream>

#include "app/console.h"
#include "input/input_error.h"
#include "input/legacy_problem.h"
#include "input/measurement_file.h"
#include "input/problem_file.h"
#include "output/trajectory_file.h"

namespace identify {

namespace {

// Working memory of a legacy run for N components, in bytes: the two
// trajectories with the fast kernels' node-major copies and source table,
// a handful of N×N matrices, and the problem itself (a parameter and a
// matrix term per entry, about 300 bytes).
double working_bytes(double n) {
  return 8.0 * (5.0 * n * kNodeCount + 8.0 * n * n) + 300.0 * n * n;
}

double physical_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page <= 0) return 0.0;
  return static_cast<double>(pages) * static_cast<double>(page);
}

void check_memory(const std::string& file, int dim) {
  const double need = working_bytes(dim);
  const double have = physical_bytes();
  if (have <= 0.0 || need <= have) return;
  std::ostringstream s;
  s << file << ": dim " << dim << " needs about " << need / (1u << 30)
    << " GiB of working memory, more than this machine has ("
    << have / (1u << 30) << " GiB)";
  throw InputError(s.str());
}

}  // namespace

void flush_warnings(std::ostream& err, std::vector<std::string>& warnings) {
  for (const std::string& line : warnings) {
    err << "identify: " << line << std::endl;
  }
  warnings.clear();
}

FitInput load_legacy_input(const Options& options,
                           std::vector<std::string>& warnings,
                           std::ostream& out, std::ostream& err) {
  const ProblemRecord problem = read_problem_file(options.input, &warnings);
  flush_warnings(err, warnings);
  out << "File was successfully loaded!" << std::endl << std::endl;
  pause_for_user(!options.no_pause, out);

  ObservationRecord obs =
      read_measurement_file(options.data, problem.dim, problem.T, &warnings);
  flush_warnings(err, warnings);
  out << std::endl
      << "Data file was successfully loaded!" << std::endl
      << std::endl;
  pause_for_user(!options.no_pause, out);

  // From here on Ctrl-C stops the fit instead of ending the program: posing
  // a large problem and building its model take a while, and a signal then
  // ends the run with its start (the fit sees the flag at once).
  install_interrupt_handlers();
  check_memory(options.input, problem.dim);
  for (int k = 0; k < obs.data_num; ++k) {
    obs.add_data[k][0] = problem.init_val[obs.is_data_exist[k]];
  }
  LegacyProblem legacy = legacy_problem(problem, obs);
  FitInput input;
  input.kind = InputKind::kLegacyFiles;
  input.problem = std::move(legacy.problem);
  input.descent = {std::move(legacy.descent), legacy.step};
  input.epsilon = legacy.epsilon;
  input.trajectory_times = grid_times(legacy.T);
  return input;
}

}  // namespace identify
