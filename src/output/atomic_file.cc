// Atomic replacement of a file: create a unique temporary file beside the
// target (mkstemp), write it, fsync it, rename it over the target, fsync the
// directory. rename() within one directory is atomic, so readers see the old
// file or the new one, never a mixture.
#include "output/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace identify {

namespace {

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates "<target>.tmp.XXXXXX" with the permissions of an ordinary new
// file (mkstemp gives 0600). Returns the descriptor, or -1 with errno set.
int create_temp(const std::string& target, std::string& tmp) {
  std::string pattern = target + ".tmp.XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) return -1;
  tmp.assign(name.data());
  const mode_t mask = umask(0);
  umask(mask);
  if (fchmod(fd, 0666 & ~mask) != 0) {
    const int err = errno;
    close(fd);
    unlink(tmp.c_str());
    errno = err;
    return -1;
  }
  return fd;
}

// fsync and close `fd` (the file `tmp`), rename it to `target` and make the
// rename durable. On failure removes `tmp` and returns the reason.
std::string finish(int fd, const std::string& tmp, const std::string& target) {
  if (fsync(fd) != 0) {
    const int err = errno;
    close(fd);
    unlink(tmp.c_str());
    return std::strerror(err);
  }
  if (close(fd) != 0 || rename(tmp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    unlink(tmp.c_str());
    return std::strerror(err);
  }
  // Failure to sync the directory loses nothing already done.
  const int dir = open(directory_of(target).c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return "";
}

}  // namespace

std::string write_file_atomically(const std::string& path,
                                  const std::string& text) {
  std::string tmp;
  const int fd = create_temp(path, tmp);
  if (fd < 0) return std::strerror(errno);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t w = write(fd, text.data() + done, text.size() - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      close(fd);
      unlink(tmp.c_str());
      return std::strerror(err);
    }
    done += static_cast<std::size_t>(w);
  }
  return finish(fd, tmp, path);
}

TempFileBeside::TempFileBeside(const std::string& target) : target_(target) {
  std::string tmp;
  const int fd = create_temp(target, tmp);
  if (fd < 0) {
    error_ = std::strerror(errno);
    return;
  }
  close(fd);
  path_ = tmp;
}

TempFileBeside::~TempFileBeside() {
  if (!path_.empty() && !committed_) unlink(path_.c_str());
}

std::string TempFileBeside::commit() {
  if (path_.empty()) return error_;
  const int fd = open(path_.c_str(), O_RDONLY);
  if (fd < 0) return std::strerror(errno);
  const std::string err = finish(fd, path_, target_);
  if (err.empty()) committed_ = true;
  return err;
}

}  // namespace identify
