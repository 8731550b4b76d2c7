// Result file and console report. The file is written as an OutputFile (see
// output_file.h): a regular file is replaced atomically, so a crash or a full
// disk at any point leaves either the old file or the new one, never a
// half-written one; a device or a FIFO is written in place.
#include "output/result_file.h"

#include <locale>
#include <ostream>
#include <sstream>

#include "output/output_file.h"

namespace identify {

namespace {

void write_rows(std::ostream& out, const Matrix& A, const char* separator) {
  for (std::size_t i = 0; i < A.rows(); ++i) {
    for (std::size_t j = 0; j < A.cols(); ++j) out << A[i][j] << separator;
    out << std::endl;
  }
}

}  // namespace

std::string format_result(const Matrix& A) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  write_rows(text, A, "    ");
  return text.str();
}

std::string write_result_file(const std::string& path, const Matrix& A) {
  return write_output_file(path, format_result(A));
}

void print_matrix_report(std::ostream& out, const Matrix& A) {
  out << "NUMERIC SOLUTION:" << std::endl;
  write_rows(out, A, "   ");
  out << std::endl << std::endl;
}

void print_time_line(std::ostream& out, double seconds) {
  out << "TIME = " << seconds << " sec" << std::endl << std::endl;
}

}  // namespace identify
