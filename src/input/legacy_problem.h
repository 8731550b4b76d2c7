// The two legacy input files as a FitProblem. Every entry of A is a
// parameter, named a11, a12, ... (a10_11 from N = 10 on), row-major: an entry
// named among the fixed entries is not estimated and keeps its last fixed
// value; a bounded entry keeps its last interval (a one-point interval holds
// it there); every other entry is estimated without bounds, starting at 0
// moved into its interval. The states are x1..xN; one observable per
// observed component c reads x_c as it is (named like the state); one
// experiment holds x0, the sources amp·exp(rate·t) of the nonzero amplitudes,
// and the measurements series after series, point 0 of each series first:
// the anchored point t = 0 whose value is x0 of the observed component and
// which is simulated but not counted as data. Sigma is 1.
//
// The descent keeps its own rules for these files (DescentRules): it starts
// from the zero matrix, and after each step sets the fixed entries and puts
// back bounded entries in file order, every interval named.
#pragma once

#include <string>
#include <vector>

#include "input/records.h"
#include "problem/descent_rules.h"
#include "problem/fit_problem.h"

namespace identify {

struct LegacyProblem {
  FitProblem problem;
  DescentRules descent;
  double epsilon = 0.0;  // tolerance on the residual norm
  double step = 0.0;     // the descent's step, opt_par
  double T = 0.0;        // end of the time interval (problem.horizon too)
};

// The name of entry (row, col), 0-based, of an N×N matrix.
std::string legacy_entry_name(int row, int col, int n);

// The name of component i (0-based): x1, x2, ...
std::string legacy_state_name(int i);

// The entries of A as parameters, row-major, under the legacy rules: the
// fixed ones not estimated at their last value, the bounded ones in their
// last interval, values at 0 moved into the interval. The one place these
// rules are written (the problem and the conversion use it).
std::vector<Parameter> legacy_entry_parameters(const ProblemRecord& record);

// The components that have a series in `obs`, ascending, each once: each is
// observed as it is, by an observable named after it. The problem and the
// conversion both take their observables from here.
std::vector<int> legacy_observed_components(const ObservationRecord& obs);

// Builds the problem from records the readers have checked, with point 0 of
// every series already anchored at x0 (the driver's step).
LegacyProblem legacy_problem(const ProblemRecord& problem,
                             const ObservationRecord& obs);

// The driver's step from the two records as read to the problem: refuses
// a dimension whose working memory exceeds the machine's (InputError
// naming `input_name`), anchors point 0 of every series at the initial
// value of the component it observes, and poses the problem.
LegacyProblem pose_legacy_files(const std::string& input_name,
                                const ProblemRecord& problem,
                                ObservationRecord obs);

}  // namespace identify
