// The program's exit codes. A run that reached its tolerance or an optimum
// succeeded; every other end of a fit has its own code; README.md lists
// them. The code of a fit follows from its summary alone, here.
#pragma once

#include "fit/summary.h"

namespace identify {

inline constexpr int kExitSuccess = 0;         // tolerance or optimum reached
inline constexpr int kExitInternal = 1;        // out of memory, internal error
inline constexpr int kExitUsage = 2;           // bad option; a model that
                                               // cannot serve the problem
inline constexpr int kExitInputError = 3;      // bad or unreadable input file
inline constexpr int kExitOutputError = 4;     // an output not written
inline constexpr int kExitDiverged = 5;        // residual norm not finite
inline constexpr int kExitStalled = 6;         // a step left θ unchanged
inline constexpr int kExitNoProgress = 7;      // best norm stopped improving
inline constexpr int kExitIterationLimit = 8;  // --max-iter reached
inline constexpr int kExitLibraryFailure = 9;  // a library method ended
                                               // without reaching an optimum
inline constexpr int kExitSigint = 130;        // interrupted by Ctrl-C
inline constexpr int kExitSigterm = 143;       // interrupted by SIGTERM

// The exit code of a fit that ended as `summary` says.
int exit_code(const Summary& summary);

// The exit code of a run interrupted by `signal` (SIGINT or SIGTERM): the
// shell's 128 + signal.
int interrupted_exit_code(int signal);

// An output that could not be written replaces the code of a fit that ran
// (converged, not converged, interrupted); the codes of runs that never got
// to their outputs stay.
int with_output_failure(int code);

}  // namespace identify
