// A problem ready to be fitted, whichever files it came from: the problem,
// what the descent needs, the tolerance, and the times at which the
// fitted model is shown (--trajectory, --plot). Each input kind has one
// loader; the rest of the run sees only this.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "api/fit_task.h"
#include "app/options.h"
#include "fit/method.h"
#include "problem/fit_problem.h"

namespace identify {

struct FitInput {
  InputKind kind = InputKind::kLegacyFiles;
  FitProblem problem;
  DescentSetup descent;
  double epsilon = 0.0;  // tolerance on the residual norm
  std::vector<double> trajectory_times;

  // The problem and descent set-up as the fit stages take them.
  FitTask task() const { return {problem, descent}; }
};

// The two legacy files of `options`: reads input.txt and input_data.txt with
// their console lines and pauses (warnings of the token loop are printed
// even when a file then fails its checks: a skipped line is often why a file
// comes up short), anchors point 0 of every series at the initial value of
// the component it observes, and poses the problem (legacy_problem.h); the
// trajectory times are the 3001 grid times over [0, T]. Once both files
// are read (the last pause over) it installs the interrupt handlers
// (console.h) for the rest of the fit: a signal while the problem is posed
// and its model built stops the fit before its first iteration. Throws
// InputError, also for a dimension whose working memory exceeds the
// machine's.
FitInput load_legacy_input(const Options& options,
                           std::vector<std::string>& warnings,
                           std::ostream& out, std::ostream& err);

// Prints the collected warnings (after "identify: ") and forgets them.
void flush_warnings(std::ostream& err, std::vector<std::string>& warnings);

}  // namespace identify
