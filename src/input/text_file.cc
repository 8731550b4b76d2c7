// Whole-file reading and byte positions. The file is read in one piece by
// read_input_file (only a regular file, its size checked before it is
// read), a leading UTF-8 byte-order mark is dropped, and the offset of every
// line start is recorded once, so that the place of any byte is a binary
// search away.
#include "input/text_file.h"

#include <algorithm>

#include "input/input_text.h"

namespace identify {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

TextFile::TextFile(std::string name, std::string_view bytes)
    : name_(std::move(name)) {
  if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    bytes.remove_prefix(kByteOrderMark.size());
  }
  text_ = bytes;
  line_starts_.push_back(0);
  for (std::size_t i = 0; i < text_.size(); ++i) {
    const char c = text_[i];
    if (c == '\n' ||
        (c == '\r' && (i + 1 == text_.size() || text_[i + 1] != '\n'))) {
      line_starts_.push_back(i + 1);
    }
  }
}

SourcePos TextFile::pos(std::size_t offset) const {
  const auto after =
      std::upper_bound(line_starts_.begin(), line_starts_.end(), offset);
  const std::size_t line =
      static_cast<std::size_t>(after - line_starts_.begin());
  return SourcePos{name_, static_cast<int>(line),
                   static_cast<int>(offset - line_starts_[line - 1]) + 1};
}

SourcePos TextFile::end() const {
  std::size_t size = text_.size();
  if (size > 0 && text_[size - 1] == '\n') --size;
  if (size > 0 && text_[size - 1] == '\r') --size;
  return pos(size);
}

std::string_view TextFile::line(int line) const {
  if (line < 1 || static_cast<std::size_t>(line) > line_starts_.size()) {
    return {};
  }
  const std::size_t from = line_starts_[line - 1];
  std::size_t to = static_cast<std::size_t>(line) < line_starts_.size()
                       ? line_starts_[line]
                       : text_.size();
  while (to > from && (text_[to - 1] == '\n' || text_[to - 1] == '\r')) --to;
  return std::string_view(text_).substr(from, to - from);
}

TextFile read_text_file(const std::string& path, std::size_t max_bytes) {
  return TextFile(path, read_input_file(path, max_bytes));
}

}  // namespace identify
