// Conversion of the two legacy input files (input.txt and input_data.txt,
// read into their records) into the equivalent problem file and data table.
//
// States x1..xN. Every entry of A that is not fixed becomes a parameter
// a<row><col> (1-based; a<row>_<col> when N >= 10, so that names stay
// unambiguous), with the bounds of its bounded entry, if any, and the
// value 0 moved into them (the legacy start); fixed entries are written as
// numbers. As in the legacy methods, a fixed entry wins over a bound, the
// last fixing or bounding of an entry counts, and a bound whose interval is
// one point fixes the entry there. x0, amp and rate are written as given
// (a source only for a state whose amp or rate is not 0). Each observed
// component c gets one observable named x<c> equal to that state, unit
// sigma; the single experiment is named "legacy". The data table is in
// long form, `observable,time,measurement`, series after series, without
// the point at t = 0 that the legacy files add to each series (it is not
// data). epsilon, T and opt_par have no counterpart and are named in a
// comment. Numbers are written with 17 significant digits, so that they
// read back to the same doubles.
#pragma once

#include <string>

#include "input/records.h"

namespace identify {

struct ConvertedProblem {
  std::string problem;  // the problem file (YAML)
  std::string data;     // the data table (CSV)
};

// `data_name` is the data table's file name as the problem file gives it.
ConvertedProblem convert_legacy(const ProblemRecord& problem,
                                const ObservationRecord& observations,
                                const std::string& data_name);

}  // namespace identify
