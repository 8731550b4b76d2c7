// What a run fits, whichever files it came from: the problem with what its
// input adds (api/loaded_input.h), and the times at which the legacy run
// shows the fitted model (--trajectory, --plot). Each input kind has one
// loader; the stages after it see only this.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "api/loaded_input.h"
#include "api/warning_lines.h"
#include "app/options.h"

namespace identify {

struct RunInput {
  std::shared_ptr<LoadedInput> in;
  // The legacy files: the 3001 grid times over [0, T]; a problem file
  // takes a fine grid of each experiment instead.
  std::vector<double> trajectory_times;

  bool legacy() const { return in->legacy; }
};

// The two legacy files of `options`: reads input.txt and input_data.txt with
// their console lines and pauses (warnings of the token loop are printed
// even when a file then fails its checks: a skipped line is often why a file
// comes up short), anchors point 0 of every series at the initial value of
// the component it observes, and poses the problem (legacy_problem.h). Once
// both files are read (the last pause over) it installs the interrupt
// handlers (console.h) for the rest of the fit: a signal while the problem
// is posed and its model built stops the fit before its first iteration.
// Throws InputError, also for a dimension whose working memory exceeds the
// machine's.
RunInput load_legacy_input(const Options& options,
                           std::vector<std::string>& warnings,
                           std::ostream& out, std::ostream& err);

// The problem file of `options` with the tables it names, read quietly: a
// problem file run prints no "loaded" lines and never pauses. Throws
// InputError.
RunInput load_problem_file(const Options& options);

}  // namespace identify
