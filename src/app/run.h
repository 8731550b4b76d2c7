// The whole run of the program, once for every input: load the problem
// (the two legacy files, or a problem file with its tables), plan and
// build its fits, fit, write the outputs its input needs, and map the
// verdict to an exit code; --convert converts the legacy files instead
// (convert_files.h).
#pragma once

#include <iosfwd>

namespace identify {

// Returns the exit code (app/exit_codes.h). Console output goes to `out`,
// diagnostics (prefixed "identify: ") to `err`. Closed standard descriptors
// are filled with /dev/null and SIGPIPE and SIGXFSZ are ignored from the
// start, so failed writes come back as errors; `out` is
// checked after the last console text, and a failure there is reported once
// and turns the code of a finished run into the output-error code.
int run(int argc, const char* const* argv, std::ostream& out,
        std::ostream& err);

}  // namespace identify
