// Runs the built identify binary in a scratch directory, with standard input
// not a terminal, and captures its console output, diagnostics and exit code.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace identify::testing {

struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
  // Of run_with: the child's peak resident set in KiB and its CPU time
  // (user and system) in seconds.
  long peak_rss_kib = 0;
  double cpu_seconds = 0.0;
};

// Where the standard streams of a run go, and the limits it runs under, for
// ScratchDir::run_with. Streams not redirected are captured through pipes.
// The child starts with SIGPIPE and SIGXFSZ at their default action (ending
// the process), as from a shell.
struct RunSetup {
  std::string stdout_file;              // e.g. "/dev/full"; empty: captured
  std::string stderr_file;              // the same for standard error
  bool stdout_closed = false;           // standard output: a pipe nobody reads
  bool stdout_absent = false;           // descriptor 1 closed, as by `>&-`
  bool stderr_absent = false;           // descriptor 2 closed, as by `2>&-`
  std::size_t file_size_limit = 0;      // RLIMIT_FSIZE in bytes; 0: none
  std::size_t address_space_limit = 0;  // RLIMIT_AS in bytes; 0: none
};

// A fresh directory under the system's temporary directory, removed when the
// object goes away.
class ScratchDir {
 public:
  // Starts with a copy of every file of examples/<example>, if one is named.
  explicit ScratchDir(const std::string& example = "");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const {
    return (path_ / name).string();
  }
  void write(const std::string& name, const std::string& text) const;
  std::string read(const std::string& name) const;
  // The names of the entries of this directory, sorted.
  std::vector<std::string> names() const;
  // Runs `identify <args>` here, standard input from /dev/null.
  RunResult run(const std::string& args = "") const;
  // Runs `identify <args>` here as `setup` says, standard input from
  // /dev/null. A run killed by a signal gets the shell's exit code 128 + the
  // signal number; one that takes over 120 s is killed (SIGKILL).
  RunResult run_with(const std::vector<std::string>& args,
                     const RunSetup& setup) const;

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);

// A device for a test to write to: as root, a node `name` in `dir` for the
// same device as `system_path` (so that a faulty program that replaced it
// would replace only the copy), returned as `name`; otherwise `system_path`
// itself, which a user cannot replace.
std::string device_copy(const ScratchDir& dir, const std::string& name,
                        const std::string& system_path);

// The stored file examples/<example>/<name>.
std::string example_file(const std::string& example, const std::string& name);

// Starts `identify <args>` in `dir` with standard input from `stdin_fd` and
// standard output and error to the files "out" and "err" there; returns the
// child's process id.
pid_t start_identify(const std::filesystem::path& dir,
                     const std::vector<const char*>& args, int stdin_fd);

// Runs `write` in a child process whose files may grow to at most `bytes`
// (SIGXFSZ ignored, so a write past it fails with EFBIG) and returns what
// `write` returned there. Lets a test make a write fail halfway.
std::string with_file_size_limit(std::size_t bytes,
                                 const std::function<std::string()>& write);

// The console text with the elapsed seconds of the time line replaced by *.
std::string mask_time(const std::string& console);

// The text of an SVG file's labels: PLplot writes each character as an
// entity (&#x41;).
std::string svg_text(const std::string& svg);

}  // namespace identify::testing
