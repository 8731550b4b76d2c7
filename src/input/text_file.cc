// Whole-file reading and byte positions. The file is read in one piece (its
// size checked first when it is a regular file, so an oversized file is
// refused without being read), a leading UTF-8 byte-order mark is dropped,
// and the offset of every line start is recorded once, so that the place of
// any byte is a binary search away.
#include "input/text_file.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace identify {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kMiB = std::size_t{1} << 20;

std::string system_reason(int error) {
  return error != 0 ? std::generic_category().message(error) : "unknown error";
}

std::string size_text(std::size_t bytes) {
  if (bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  return std::to_string(bytes) + " bytes";
}

InputError too_big(const std::string& path, std::size_t max_bytes,
                   const std::string& found) {
  return input_error(SourcePos{path, 0, 0},
                     "a file of at most " + size_text(max_bytes), found);
}

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
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (!ec && std::filesystem::is_regular_file(status)) {
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec && size > max_bytes) {
      throw too_big(path, max_bytes, std::to_string(size) + " bytes");
    }
  }
  errno = 0;
  std::ifstream file(path, std::ios::in | std::ios::binary);
  if (!file.is_open()) {
    throw input_error(SourcePos{path, 0, 0},
                      "cannot open: " + system_reason(errno));
  }
  std::string content;
  std::string buffer(std::size_t{1} << 16, '\0');
  errno = 0;
  while (file) {
    file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    content.append(buffer.data(), static_cast<std::size_t>(file.gcount()));
    if (content.size() > max_bytes) {
      throw too_big(path, max_bytes, "more");
    }
  }
  if (file.bad()) {
    throw input_error(SourcePos{path, 0, 0},
                      "cannot read: " + system_reason(errno));
  }
  return TextFile(path, content);
}

std::string quote_text(std::string_view text, std::size_t limit) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (const char c : text.substr(0, limit)) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (byte < 0x20 || byte >= 0x7F) {
          out += "\\x";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
  if (text.size() > limit) out += "...";
  return out;
}

}  // namespace identify
