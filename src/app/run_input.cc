// The two front doors. The legacy files are read in their fixed order, each
// followed by its console line and a pause, then converted to a FitProblem
// whose parameters are the entries of A (row-major) and whose descent rules
// are the file's own; the records go no further than this file. A problem
// file goes through the library's one reader of problem files.
#include "app/run_input.h"

#include <ostream>
#include <utility>

#include "app/console.h"
#include "input/input_error.h"
#include "input/legacy_problem.h"
#include "input/measurement_file.h"
#include "input/problem_file.h"
#include "output/trajectory_file.h"

namespace identify {

RunInput load_legacy_input(const Options& options,
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
  LegacyProblem legacy =
      pose_legacy_files(options.input, problem, std::move(obs));
  auto in = std::make_shared<LoadedInput>();
  in->legacy = true;
  in->name = options.input;
  in->loaded.problem = std::move(legacy.problem);
  in->descent = {std::move(legacy.descent), legacy.step};
  in->epsilon = legacy.epsilon;
  RunInput input;
  input.in = std::move(in);
  input.trajectory_times = grid_times(legacy.T);
  return input;
}

RunInput load_problem_file(const Options& options) {
  RunInput input;
  input.in = read_problem_input(options.problem);
  return input;
}

}  // namespace identify
