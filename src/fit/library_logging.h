// The numerical libraries' own logging. Ceres Solver logs through glog,
// which writes warnings and errors to standard error (and, once
// initialised, log files); the program speaks to the user only through its
// own verdict lines, so that logging is turned off.
#pragma once

namespace identify {

// Drops every library log message below FATAL for the rest of the process
// (a FATAL one still reports the crash it comes with), and creates no log
// files. Idempotent and safe to call from several threads; call before the
// first Ceres call.
void silence_library_logging();

}  // namespace identify
