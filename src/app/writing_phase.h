// The stretch of a run in which its outputs are written. A SIGINT or
// SIGTERM there never ends the program in the middle of a file: the file
// being written is finished (each output file is replaced whole, see
// output/output_file.h), the outputs after it are not written, and the run
// says which ones it left out and ends with 130 or 143. The handlers stay
// installed when the phase is over: a signal after the last output only
// notes itself, and the run ends as it would have (a pause for the user
// gives the signals their default action back first).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace identify {

class WritingPhase {
 public:
  // Installs the writing handlers (install_writing_handlers).
  WritingPhase();
  WritingPhase(const WritingPhase&) = delete;
  WritingPhase& operator=(const WritingPhase&) = delete;

  // Whether the output `name` is to be written: true until a signal comes
  // in this phase; after that false, and `name` is noted as not written.
  bool admit(const std::string& name);
  // The signal received in this phase, 0 if none.
  int signal() const;
  // Says on `err` which outputs were not written, or that every one was,
  // when a signal came in this phase; nothing otherwise. Returns that
  // signal (0: none): a signal after this call changes nothing.
  int report(std::ostream& err) const;

 private:
  std::vector<std::string> skipped_;
};

}  // namespace identify
