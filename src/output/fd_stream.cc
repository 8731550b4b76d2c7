// A put area over a fixed array, emptied with write(2) on overflow and sync;
// short writes are continued, EINTR retried. After a failure the put area is
// dropped and every operation reports failure, which std::ostream turns into
// badbit.
#include "output/fd_stream.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace identify {

FdStreamBuf::FdStreamBuf(int fd) : fd_(fd) {
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

FdStreamBuf::~FdStreamBuf() { write_out(); }

bool FdStreamBuf::write_out() {
  const char* p = pbase();
  const char* const end = pptr();
  while (error_ == 0 && p < end) {
    const ssize_t w = ::write(fd_, p, static_cast<std::size_t>(end - p));
    if (w > 0) {
      p += w;
    } else if (w == 0 || errno != EINTR) {
      error_ = w == 0 ? EIO : errno;
    }
  }
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return error_ == 0;
}

FdStreamBuf::int_type FdStreamBuf::overflow(int_type ch) {
  if (!write_out()) return traits_type::eof();
  if (traits_type::eq_int_type(ch, traits_type::eof())) {
    return traits_type::not_eof(ch);
  }
  *pptr() = traits_type::to_char_type(ch);
  pbump(1);
  return ch;
}

int FdStreamBuf::sync() { return write_out() ? 0 : -1; }

int write_error_of(const std::ostream& stream) {
  if (const auto* fd_buffer = dynamic_cast<const FdStreamBuf*>(stream.rdbuf());
      fd_buffer != nullptr && fd_buffer->error() != 0) {
    return fd_buffer->error();
  }
  return stream.bad() ? EIO : 0;
}

StreamedOutput::StreamedOutput(const std::string& name)
    : file_(name, OutputFile::Mode::kStream),
      buffer_(file_.fd()),
      stream_(&buffer_) {}

std::string StreamedOutput::finish() {
  stream_.flush();
  if (buffer_.error() != 0) file_.record_error(buffer_.error());
  return file_.commit();
}

}  // namespace identify
