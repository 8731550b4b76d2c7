// Console interaction of the run: the pause after each loaded file and at the
// end, and the interrupt flag that Ctrl-C and SIGTERM set.
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

// Gives SIGINT and SIGTERM back their default action (end the program at
// once), for the stretches where there is no iteration to finish.
void restore_interrupt_defaults();

}  // namespace identify
