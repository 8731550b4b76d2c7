// Shared by the fuzz targets: checks of the readers' promises. A failed
// check prints what failed and aborts, which libFuzzer reports as a crash
// and saves the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "input/input_error.h"

namespace identify::fuzz {

inline void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// A message for the user names the file first and is one line.
inline void check_message(const std::string& message, const std::string& file) {
  check(message.rfind(file, 0) == 0, "a message names its file first");
  check(message.find('\n') == std::string::npos, "a message is one line");
}

inline void check_error(const InputError& e, const std::string& file) {
  check_message(e.what(), file);
}

}  // namespace identify::fuzz
