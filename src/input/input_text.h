// The bytes of an input file as the token loop sees them. A file is read
// only when it is a regular file, and never past the size it had when it
// was opened, so that a FIFO, a terminal or a device such as /dev/zero can
// neither block the program nor fill its memory. Windows line ends and a
// UTF-8 byte-order mark are then taken out, so that the loop sees the same
// bytes on every platform.
#pragma once

#include <cstddef>
#include <string>

#include "input/input_error.h"

namespace identify {

// The largest input read, in bytes (2 GiB − 1): byte offsets, lines and
// columns of every place in a file then fit 32-bit integers.
inline constexpr std::size_t kMaxInputBytes = 2147483647;

// The raw bytes of the file at path, opened read only and without blocking;
// max_bytes is at most kMaxInputBytes. Throws InputError, each naming the
// path as given:
//   "path: cannot open: No such file or directory" (the system's reason),
//   "path: cannot read: Is a directory",
//   "path: not a regular file" (a FIFO, a device, a socket),
//   "path: expected a file of at most 16 MiB, found 1073741824 bytes" (see
//   file_too_large), before anything is read when the file's size says so,
//   and once max_bytes + 1 bytes are read from one that grows or reports no
//   size (a file of /proc: read to its end, not to the size it reports),
//   "path: cannot read: REASON" for a failed read.
std::string read_input_file(const std::string& path,
                            std::size_t max_bytes = kMaxInputBytes);

// "file: expected a file of at most MAX, found SIZE bytes", MAX in MiB when a
// whole number of them ("16 MiB"), else in bytes ("2147483647 bytes").
InputError file_too_large(const std::string& file, std::size_t max_bytes,
                          std::size_t size);

// In place: drops a UTF-8 byte-order mark at the start and every CR that is
// immediately followed by LF; a lone CR stays.
void normalize_line_ends(std::string& text);

}  // namespace identify
