// The gate of the writing phase: the signal handlers of this phase only
// note a signal (console.h), and each output asks admit() before it is
// begun, so a signal stops the writing between two files.
#include "app/writing_phase.h"

#include <ostream>

#include "app/console.h"

namespace identify {

WritingPhase::WritingPhase() {
  writing_signal().store(0);
  install_writing_handlers();
}

bool WritingPhase::admit(const std::string& name) {
  if (signal() == 0) return true;
  skipped_.push_back(name);
  return false;
}

int WritingPhase::signal() const { return writing_signal().load(); }

int WritingPhase::report(std::ostream& err) const {
  const int sig = signal();
  if (sig == 0) return 0;
  err << "identify: interrupted by signal " << sig
      << " while the outputs were written; ";
  if (skipped_.empty()) {
    err << "every output was written" << std::endl;
    return sig;
  }
  err << "not written: ";
  for (std::size_t k = 0; k < skipped_.size(); ++k) {
    err << (k == 0 ? "" : ", ") << skipped_[k];
  }
  err << " (an older file of that name is left as it was)" << std::endl;
  return sig;
}

}  // namespace identify
