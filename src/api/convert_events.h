// `identify --convert-events PROBLEM.yaml`: the problem with its event
// tables as data and dose tables (event_conversion.h), written beside it as
// PROBLEM.data.tsv, PROBLEM.doses.tsv (when there are doses) and
// PROBLEM.converted.yaml, which names the two tables. Nothing is written
// unless the whole problem converts; each file is replaced atomically and
// the problem file is written last, so that it never names a table that
// was not written.
#pragma once

#include <iosfwd>
#include <string>

namespace identify {

// Converts `problem` and writes the three files; one line on `out` names
// them. Returns 0; the usage code when an output would be an input; the
// output-error code when a file cannot be written. Throws InputError.
int convert_event_files(const std::string& problem, std::ostream& out,
                        std::ostream& err);

}  // namespace identify
