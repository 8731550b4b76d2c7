// The writers of the legacy files' run: output.txt with the fitted matrix,
// the matrix and the elapsed time on the console, the verdict and the
// warnings of entries off their fixed values or bounds; the report of the
// matrix entries, and the trajectory and the plot at the 3001 grid times.
#pragma once

#include <memory>

#include "app/run_outputs.h"

namespace identify {

// The writers of `outcome`, a run of the legacy files (one fit, the
// matrix A of its only experiment as the result).
std::unique_ptr<InputWriters> legacy_writers(RunOutcome& outcome);

}  // namespace identify
