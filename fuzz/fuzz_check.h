// Shared by the fuzz targets: checks of the readers' promises. A failed
// check prints what failed and aborts, which libFuzzer reports as a crash
// and saves the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

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

// A scratch directory made once per process under the system's temporary
// directory, named after `prefix` ("identify-yaml").
inline const std::string& scratch_dir(const char* prefix) {
  static const std::string dir = [prefix] {
    std::string path = (std::filesystem::temp_directory_path() /
                        (std::string(prefix) + "-XXXXXX"))
                           .string();
    check(mkdtemp(path.data()) != nullptr, "a scratch directory");
    return path;
  }();
  return dir;
}

// Writes `text` as the whole of the file `path`.
inline void write_file(const std::string& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  check(static_cast<bool>(out), "the input file is written");
}

}  // namespace identify::fuzz
