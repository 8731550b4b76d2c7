// An output stream whose text goes, line by line, to a callback: how the
// library hands the console lines of a fit to its caller. Each complete
// line is passed without its line break, under the caller's lock; text
// after the last line break is passed when the stream is destroyed.
#pragma once

#include <functional>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>

namespace identify {

class LineBuffer : public std::streambuf {
 public:
  using Sink = std::function<void(const std::string& line)>;
  LineBuffer(Sink sink, std::mutex& lock) : sink_(std::move(sink)), lock_(lock) {}
  ~LineBuffer() override;

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;

 private:
  void emit();
  Sink sink_;
  std::mutex& lock_;
  std::string line_;
};

class LineStream : public std::ostream {
 public:
  LineStream(LineBuffer::Sink sink, std::mutex& lock)
      : std::ostream(nullptr), buffer_(std::move(sink), lock) {
    rdbuf(&buffer_);
  }

 private:
  LineBuffer buffer_;
};

}  // namespace identify
