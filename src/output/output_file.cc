// Output files: atomic replacement of regular files and in-place writing of
// FIFOs and character devices. Replacement creates a unique temporary file
// beside the target (mkstemp), writes it, fsyncs it, renames it over the
// target and fsyncs the directory: rename() within one directory is atomic,
// so readers see the old file or the new one, never a mixture. rename() would
// also replace a device or a FIFO by a regular file, so those are opened and
// written where they are; O_NONBLOCK on open makes a FIFO without a reader
// fail with ENXIO instead of blocking, and is cleared before writing.
#include "output/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "output/stale_temps.h"

namespace identify {

namespace {

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Why a file of this type is not written, for the types that are refused.
std::string refusal(mode_t mode) {
  if (S_ISDIR(mode)) return std::strerror(EISDIR);
  if (S_ISBLK(mode)) return "a block device is not written over";
  if (S_ISSOCK(mode)) return "a socket is not a file to write";
  return "not a regular file, a FIFO or a character device";
}

}  // namespace

OutputFile::OutputFile(const std::string& name, Mode mode) {
  struct stat st {};
  if (stat(name.c_str(), &st) != 0 || S_ISREG(st.st_mode)) {
    // A name that cannot be looked at is left to open() or mkstemp() to
    // explain ("No such file or directory" for a missing directory).
    if (mode == Mode::kReplace) {
      open_replacement(name);
    } else {
      fd_ =
          ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      if (fd_ < 0) fail(std::strerror(errno));
    }
  } else if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
    open_in_place(name, S_ISFIFO(st.st_mode));
  } else {
    fail(refusal(st.st_mode));
  }
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_.empty() && !committed_) unlink(temp_.c_str());
}

// mkstemp gives mode 0600; the result gets the permissions of an ordinary
// new file instead.
void OutputFile::open_replacement(const std::string& name) {
  target_ = replacement_target(name);
  const std::string pattern = temp_template(target_);
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  fd_ = mkstemp(buffer.data());
  if (fd_ < 0) {
    fail(std::strerror(errno));
    return;
  }
  temp_.assign(buffer.data());
  const mode_t mask = umask(0);
  umask(mask);
  if (fchmod(fd_, 0666 & ~mask) != 0) fail(std::strerror(errno));
}

void OutputFile::open_in_place(const std::string& name, bool is_fifo) {
  fd_ = ::open(name.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) {
    fail(is_fifo && errno == ENXIO ? "no process has the FIFO open for reading"
                                   : std::strerror(errno));
    return;
  }
  const int flags = fcntl(fd_, F_GETFL);
  if (flags < 0 || fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    fail(std::strerror(errno));
  }
}

void OutputFile::fail(const std::string& reason) {
  if (error_.empty()) error_ = reason;
}

void OutputFile::record_error(int error_number) {
  fail(std::strerror(error_number));
}

std::string OutputFile::write(std::string_view text) {
  if (!error_.empty()) return error_;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t w = ::write(fd_, text.data() + done, text.size() - done);
    if (w <= 0) {
      if (w < 0 && errno == EINTR) continue;
      fail(std::strerror(w == 0 ? EIO : errno));
      return error_;
    }
    done += static_cast<std::size_t>(w);
  }
  return "";
}

std::string OutputFile::commit() {
  if (fd_ < 0) return error_;
  if (!temp_.empty() && error_.empty() && fsync(fd_) != 0) {
    fail(std::strerror(errno));
  }
  const int closed = ::close(fd_);
  fd_ = -1;
  if (closed != 0) fail(std::strerror(errno));
  if (temp_.empty()) return error_;
  if (error_.empty() && rename(temp_.c_str(), target_.c_str()) != 0) {
    fail(std::strerror(errno));
  }
  if (!error_.empty()) {
    unlink(temp_.c_str());
    temp_.clear();
    return error_;
  }
  committed_ = true;
  // Failure to sync the directory loses nothing already done.
  const int dir =
      ::open(directory_of(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    ::close(dir);
  }
  return "";
}

std::string write_output_file(const std::string& name, std::string_view text) {
  OutputFile file(name);
  file.write(text);
  return file.commit();
}

}  // namespace identify
