// The program's exit codes. Every stop of a run that does not reach its
// tolerance has its own code; README.md lists them.
#pragma once

namespace identify {

inline constexpr int kExitSuccess = 0;         // tolerance reached
inline constexpr int kExitInternal = 1;        // out of memory, internal error
inline constexpr int kExitUsage = 2;           // bad command-line option
inline constexpr int kExitInputError = 3;      // bad or unreadable input file
inline constexpr int kExitOutputError = 4;     // result file not written
inline constexpr int kExitDiverged = 5;        // residual norm not finite
inline constexpr int kExitStalled = 6;         // a step left A unchanged
inline constexpr int kExitNoProgress = 7;      // best norm stopped improving
inline constexpr int kExitIterationLimit = 8;  // --max-iter reached
inline constexpr int kExitMethodStopped = 9;   // a library method converged
                                               // above the tolerance
inline constexpr int kExitSigint = 130;        // interrupted by Ctrl-C
inline constexpr int kExitSigterm = 143;       // interrupted by SIGTERM

}  // namespace identify
