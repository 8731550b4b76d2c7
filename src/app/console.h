// Console interaction of the run: the pause after each loaded file and at the
// end, the interrupt flag that Ctrl-C and SIGTERM set, and the signals that
// failed writes would raise.
#pragma once

#include <atomic>
#include <iosfwd>

namespace identify {

// Waits for Enter with a prompt on `out`, but only when standard input is a
// terminal and pausing is enabled; never waits otherwise, so that scripts and
// CI never hang. On Windows hands "pause" to the command processor.
void pause_for_user(bool enabled, std::ostream& out);

// The signal number of the first SIGINT or SIGTERM received, 0 before.
std::atomic<int>& interrupt_flag();

// Installs handlers for SIGINT and SIGTERM: the first one sets
// interrupt_flag() and lets the current iteration finish; a second one ends
// the program at once with the signal's default action.
void install_interrupt_handlers();

// The signal number of the last SIGINT or SIGTERM received while the
// writing handlers were installed, 0 if none.
std::atomic<int>& writing_signal();

// Installs the handlers of the writing phase: every SIGINT or SIGTERM is
// noted in writing_signal() (and in interrupt_flag() if it is the run's
// first) and none ends the program, so that the file being written is
// finished and the run can say which outputs it did not write.
void install_writing_handlers();

// Gives SIGINT and SIGTERM back their default action (end the program at
// once), for the stretches where there is no iteration to finish.
void restore_interrupt_defaults();

// Opens /dev/null, read-only, on each of the descriptors 0, 1 and 2 that is
// closed. Otherwise the first files the run opens would get those numbers,
// and the console text or the diagnostics would be written into them; this
// way such writes fail (EBADF) and are reported as failed writes.
void reserve_standard_descriptors();

// Ignores SIGPIPE and SIGXFSZ for the whole run, so that a closed pipe on
// standard output or a file-size limit makes a write fail with EPIPE or
// EFBIG, which the run reports, instead of ending the program before its
// result file is written.
void ignore_write_signals();

}  // namespace identify
