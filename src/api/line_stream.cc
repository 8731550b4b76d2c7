// Text is gathered up to each line break and handed on whole.
#include "api/line_stream.h"

namespace identify {

LineBuffer::~LineBuffer() {
  if (!line_.empty()) emit();
}

void LineBuffer::emit() {
  if (sink_) {
    const std::lock_guard<std::mutex> hold(lock_);
    sink_(line_);
  }
  line_.clear();
}

LineBuffer::int_type LineBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return 0;
  const char ch = traits_type::to_char_type(c);
  if (ch == '\n') {
    emit();
  } else {
    line_ += ch;
  }
  return c;
}

std::streamsize LineBuffer::xsputn(const char* s, std::streamsize n) {
  for (std::streamsize k = 0; k < n; ++k) {
    overflow(traits_type::to_int_type(s[k]));
  }
  return n;
}

}  // namespace identify
