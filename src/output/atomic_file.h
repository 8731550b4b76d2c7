// Replacing a file so that it is either its complete new content or left as
// it was: the content goes to a temporary file in the same directory, is
// flushed to disk and renamed over the target. A crash, a full disk or a
// failed write at any point never leaves a half-written file and never
// destroys the previous one.
#pragma once

#include <string>

namespace identify {

// Writes `text` to `path` atomically. Returns an empty string on success,
// otherwise the system's reason ("Permission denied").
std::string write_file_atomically(const std::string& path,
                                  const std::string& text);

// A temporary file beside a target path, for content that a library writes
// by file name. Create it, let the writer fill `path()`, then commit(): the
// file is flushed to disk, given the permissions of an ordinary new file
// and renamed over the target. A file never committed is removed when the
// object goes away.
class TempFileBeside {
 public:
  explicit TempFileBeside(const std::string& target);
  ~TempFileBeside();
  TempFileBeside(const TempFileBeside&) = delete;
  TempFileBeside& operator=(const TempFileBeside&) = delete;

  // Empty if the temporary file could not be created; error() says why.
  const std::string& path() const { return path_; }
  const std::string& error() const { return error_; }

  // Moves the finished temporary file over the target. Returns an empty
  // string on success, otherwise the reason; the target is then unchanged.
  std::string commit();

 private:
  std::string target_;
  std::string path_;
  std::string error_;
  bool committed_ = false;
};

}  // namespace identify
