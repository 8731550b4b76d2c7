// Exit codes from the termination of a fit: the tolerance and a library's
// optimum are success, every other end its own code, an interrupt the
// shell's 128 + signal.
#include "api/exit_codes.h"

#include <csignal>

namespace identify {

int exit_code(const Summary& summary) {
  switch (summary.termination) {
    case Termination::kToleranceReached:
    case Termination::kOptimumReached:
      return kExitSuccess;
    case Termination::kDiverged:
      return kExitDiverged;
    case Termination::kStalled:
      return kExitStalled;
    case Termination::kNoProgress:
      return kExitNoProgress;
    case Termination::kIterationLimit:
      return kExitIterationLimit;
    case Termination::kLibraryFailure:
      return kExitLibraryFailure;
    case Termination::kInterrupted:
      return interrupted_exit_code(summary.signal);
  }
  return kExitInternal;
}

int interrupted_exit_code(int signal) {
  return signal == SIGTERM ? kExitSigterm : kExitSigint;
}

int with_output_failure(int code) {
  const bool fit_ran = code == kExitSuccess || code >= kExitDiverged;
  return fit_ran ? kExitOutputError : code;
}

}  // namespace identify
