// Steady-state records need a system that has a steady state: every
// eigenvalue of A (the matrix of the record's ID at its time) with a real
// part below 0. Without one (a mode at 0, that keeps what it is given, or a
// growing one) the doses accumulate for ever and no periodic state exists,
// so such a record is refused before any fit, decided at the parameters'
// start values. During a fit, a point without a steady state is a failed
// evaluation of the model instead.
#pragma once

#include "input/event_table.h"
#include "input/text_file.h"
#include "problem/fit_problem.h"

namespace identify {

// Throws InputError at the SS field of the first steady-state dose record
// of `table` (read from `file` into `problem`) whose ID's A at the record's
// time has an eigenvalue with a real part of 0 or more at the start values.
void check_steady_records(const TextFile& file, const EventTable& table,
                          const FitProblem& problem);

}  // namespace identify
