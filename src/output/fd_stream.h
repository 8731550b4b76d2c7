// Text streams onto file descriptors that remember why a write failed. An
// std::ofstream or std::cout only turns bad; these keep the errno of the
// first failed write, so that the message can give the system's reason.
#pragma once

#include <array>
#include <ostream>
#include <streambuf>
#include <string>

#include "output/output_file.h"

namespace identify {

// A buffered std::streambuf that writes to `fd` (not owned). The first write
// that fails is remembered and every later one fails at once, so the stream
// on top of it turns bad and stays bad. Flushing (std::endl, std::flush)
// writes the buffer out; the destructor flushes what is left.
class FdStreamBuf : public std::streambuf {
 public:
  explicit FdStreamBuf(int fd);
  ~FdStreamBuf() override;
  FdStreamBuf(const FdStreamBuf&) = delete;
  FdStreamBuf& operator=(const FdStreamBuf&) = delete;

  // errno of the first failed write, 0 if none.
  int error() const { return error_; }

 protected:
  int_type overflow(int_type ch) override;
  int sync() override;

 private:
  bool write_out();

  int fd_;
  int error_ = 0;
  std::array<char, 4096> buffer_{};
};

// The errno of the first failed write of `stream`: FdStreamBuf's own record,
// or EIO for a bad stream on any other buffer; 0 if the stream is good.
int write_error_of(const std::ostream& stream);

// An output file written as a stream while the run goes on (OutputFile in
// Mode::kStream): each flush makes the text so far visible to readers.
class StreamedOutput {
 public:
  explicit StreamedOutput(const std::string& name);
  StreamedOutput(const StreamedOutput&) = delete;
  StreamedOutput& operator=(const StreamedOutput&) = delete;

  // Empty if the file was opened; otherwise the reason, and nothing is
  // written.
  const std::string& open_error() const { return file_.error(); }
  std::ostream& stream() { return stream_; }

  // Flushes and closes the file. Returns "" or the reason of the first
  // failure of any write, the flush or the close.
  std::string finish();

 private:
  OutputFile file_;
  FdStreamBuf buffer_;
  std::ostream stream_;
};

}  // namespace identify
