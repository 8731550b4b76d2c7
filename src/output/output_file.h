// One output file of a run, opened so that writing it can destroy nothing and
// no failure goes unnoticed. What happens depends on what the name denotes
// when it is opened:
//  - nothing yet, or a regular file (symbolic links followed): the content
//    goes to a temporary file beside the target (see stale_temps.h), which
//    commit() flushes to disk and renames over it. The target is then either
//    its complete old or its complete new content, and a link stays a link.
//  - a FIFO or a character device (/dev/null, a terminal): written in place
//    and never replaced. A FIFO that no process reads is an error at once,
//    not a wait.
//  - anything else (a directory, a block device, a socket): refused.
// In Mode::kStream a regular file is instead truncated and written in place,
// for content that another program may read while it grows.
#pragma once

#include <string>
#include <string_view>

namespace identify {

class OutputFile {
 public:
  enum class Mode { kReplace, kStream };

  explicit OutputFile(const std::string& name, Mode mode = Mode::kReplace);
  // Closes the file; a temporary file never committed is removed.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // The descriptor to write to; -1 if the file could not be opened.
  int fd() const { return fd_; }
  // The first failure so far (the system's reason), empty if none.
  const std::string& error() const { return error_; }

  // Writes all of `text`. Returns "" or the reason, which error() keeps.
  std::string write(std::string_view text);

  // Records a failure of a writer that used fd() directly (errno value).
  void record_error(int error_number);

  // Finishes the file: a temporary file is flushed to disk, closed and
  // renamed over the target; a file written in place is closed. Returns ""
  // or the first failure of the file's whole life (open, write, flush,
  // close, rename); a replaced target is then left as it was.
  std::string commit();

 private:
  void open_replacement(const std::string& name);
  void open_in_place(const std::string& name, bool is_fifo);
  void fail(const std::string& reason);

  std::string target_;  // the file that commit() renames the temporary over
  std::string temp_;    // the temporary file; empty when written in place
  std::string error_;
  int fd_ = -1;
  bool committed_ = false;
};

// Writes `text` to `name` as above. Returns "" or the system's reason
// ("Permission denied", "No space left on device").
std::string write_output_file(const std::string& name, std::string_view text);

}  // namespace identify
