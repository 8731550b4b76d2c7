// A whole input file held in memory, with the place of every byte, for the
// readers of problem files and data tables. Line breaks are LF, CR LF or a
// lone CR; lines and columns are 1-based and count bytes; a UTF-8
// byte-order mark at the start is dropped and not counted.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "input/input_error.h"

namespace identify {

class TextFile {
 public:
  // `name` is used in messages only; `bytes` is the raw content.
  TextFile(std::string name, std::string_view bytes);

  const std::string& name() const { return name_; }
  // The content without a leading byte-order mark.
  const std::string& text() const { return text_; }
  // The place of the byte at `offset` of text() (offset == size gives the
  // place just past the last byte).
  SourcePos pos(std::size_t offset) const;
  // The place just past the last byte, a final line break not opening a new
  // line: where "found end of file" is reported.
  SourcePos end() const;
  // Line `line` (1-based) without its line break; empty past the end.
  std::string_view line(int line) const;

 private:
  std::string name_;
  std::string text_;
  std::vector<std::size_t> line_starts_;  // offset of each line's first byte
};

// Reads the file at `path` whole (read only, only a regular file: see
// read_input_file). Throws InputError:
// "path: cannot open: No such file or directory" (the system's reason),
// "path: cannot read: Is a directory", "path: not a regular file", and for
// a file larger than max_bytes "path: expected a file of at most 16 MiB,
// found 1073741824 bytes" (max_bytes in MiB when a whole number of them,
// else in bytes).
TextFile read_text_file(const std::string& path, std::size_t max_bytes);

}  // namespace identify
