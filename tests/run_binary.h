// Runs the built identify binary in a scratch directory, with standard input
// not a terminal, and captures its console output, diagnostics and exit code.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

namespace identify::testing {

struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// A fresh, empty directory under the system's temporary directory, removed
// when the object goes away.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  void write(const std::string& name, const std::string& text) const;
  std::string read(const std::string& name) const;
  // Copies every file of examples/<name> into this directory.
  void copy_example(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

// Runs `identify <args>` in `dir`, stdin from /dev/null.
RunResult run_identify(const std::filesystem::path& dir,
                       const std::string& args = "");

std::string read_file(const std::filesystem::path& path);

// Runs `write` in a child process whose files may grow to at most `bytes`
// (SIGXFSZ ignored, so a write past it fails with EFBIG) and returns what
// `write` returned there. Lets a test make a write fail halfway.
std::string with_file_size_limit(std::size_t bytes,
                                 const std::function<std::string()>& write);

// The console text with the elapsed seconds of the time line replaced by *.
std::string mask_time(const std::string& console);

}  // namespace identify::testing
