// Result file and console report. The file is replaced atomically: write to
// a temporary file beside it, fsync, rename. A crash or a full disk at any
// point leaves either the old file or the new one, never a half-written one.
#include "output/result_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <locale>
#include <ostream>
#include <sstream>
#include <vector>

namespace identify {

namespace {

void write_rows(std::ostream& out, const Matrix& A, const char* separator) {
  for (std::size_t i = 0; i < A.rows(); ++i) {
    for (std::size_t j = 0; j < A.cols(); ++j) out << A[i][j] << separator;
    out << std::endl;
  }
}

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string format_result(const Matrix& A) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  write_rows(text, A, "    ");
  return text.str();
}

std::string write_result_file(const std::string& path, const Matrix& A) {
  const std::string text = format_result(A);
  std::string tmp = path + ".tmp.XXXXXX";
  std::vector<char> name(tmp.begin(), tmp.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) return std::strerror(errno);
  tmp.assign(name.data());
  const auto fail = [&](int err) {
    close(fd);
    unlink(tmp.c_str());
    return std::string(std::strerror(err));
  };
  // mkstemp creates the file with mode 0600; a result file is an ordinary
  // file, readable as the umask allows.
  const mode_t mask = umask(0);
  umask(mask);
  if (fchmod(fd, 0666 & ~mask) != 0) return fail(errno);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t w = write(fd, text.data() + done, text.size() - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    done += static_cast<std::size_t>(w);
  }
  if (fsync(fd) != 0) return fail(errno);
  if (close(fd) != 0) {
    const int err = errno;
    unlink(tmp.c_str());
    return std::strerror(err);
  }
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    unlink(tmp.c_str());
    return std::strerror(err);
  }
  // Make the rename itself durable; failure here loses nothing already done.
  const int dir = open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return "";
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
