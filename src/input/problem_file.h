// The problem file (input.txt): a positional list of numbers read with
// brackets allowed. With E fixed entries, B bounded entries and N components
// the list holds, in order: epsilon, T, opt_par, dim, E, E × (row col value),
// B, B × (row col lower upper), N × x0, N × amp, N × rate; numbers after the
// last rate are ignored, with a warning. Counts and indices are truncated
// toward zero; row and column numbers are 1-based in the file (1.0 is
// subtracted, then the result is truncated).
#pragma once

#include <string>
#include <vector>

#include "input/number_list.h"
#include "input/records.h"

namespace identify {

// Fills a ProblemRecord from an already read list and checks it. Throws
// InputError naming the place of the offending number (or the end of the
// file for a list that is too short) with a one-line reason. Numbers after
// the last rate add "file:line: warning: 2 numbers after the last rate are
// ignored" to *warnings (when not null).
ProblemRecord parse_problem(const NumberList& list,
                            std::vector<std::string>* warnings = nullptr);

// Reads path (opened read only; see read_input_file) and parses it. Warnings
// of the token loop and of the parse are appended to *warnings (when not
// null). Throws InputError.
ProblemRecord read_problem_file(const std::string& path,
                                std::vector<std::string>* warnings);

}  // namespace identify
