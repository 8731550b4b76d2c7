// The two ways the identified matrix leaves the program: the result file
// (row i on line i, every entry followed by four blanks) and the console
// report (heading, every entry followed by three blanks, two empty lines),
// closed by the time line. Numbers use the stream's default format: %g with
// six significant digits, classic locale.
#pragma once

#include <iosfwd>
#include <string>

#include "core/table.h"

namespace identify {

// The text of the result file for A.
std::string format_result(const Matrix& A);

// Writes A to `path` so that the file is either the complete new result or
// left as it was: the text goes to a temporary file in the same directory,
// is flushed to disk and renamed over `path` (a FIFO or a character device
// is written in place instead; see output_file.h). Returns an empty string
// on success, otherwise the reason ("Permission denied").
std::string write_result_file(const std::string& path, const Matrix& A);

// "NUMERIC SOLUTION:", the rows, two empty lines.
void print_matrix_report(std::ostream& out, const Matrix& A);

// "TIME = <seconds> sec" and an empty line.
void print_time_line(std::ostream& out, double seconds);

}  // namespace identify
