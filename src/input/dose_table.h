// The dose table: doses of the problem's experiments, one CSV or TSV file
// (delimiter as for data tables) with a header row and one dose per record.
// Columns: `experiment` (may be left out when the problem has one
// experiment), `time`, `state`, `amount` and optionally `duration`; a
// duration makes the dose an infusion of amount/duration per unit time, and
// a missing duration (empty, NA, NaN, ".") a bolus. Times and amounts are
// numbers >= 0; a duration is above 0.
#pragma once

#include <cstddef>

#include "input/text_file.h"
#include "problem/problem_builder.h"

namespace identify {

// Adds the doses of `file`, in row order, to `builder`, whose states and
// experiments are declared already; returns how many. Throws InputError at
// the first fault, e.g.
//   "doses.csv:3:9: expected a state (gut, central), found \"blood\""
//   "doses.csv:4:13: expected an infusion duration above 0 (for a dose given
//    at once, use a bolus: no duration), found 0"
std::size_t add_dose_table(const TextFile& file, ProblemBuilder& builder);

}  // namespace identify
