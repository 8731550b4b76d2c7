// The whole run of the program, once: read the problem file and the
// measurement file, anchor point 0 of every series at the initial value of
// the component it observes, start from the zero matrix, identify, write the
// result file, print the report and the elapsed time.
#pragma once

#include <iosfwd>

namespace identify {

// Returns the exit code (driver/exit_codes.h). Console output goes to `out`,
// diagnostics (prefixed "identify: ") to `err`.
int run(int argc, const char* const* argv, std::ostream& out,
        std::ostream& err);

}  // namespace identify
