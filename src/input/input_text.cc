// Reading an input file: the file is opened with O_NONBLOCK, so that opening
// a FIFO without a writer returns at once, and the opened descriptor is
// checked with fstat (not the name, which another process could swap in
// between). Only a regular file is read, to its end: a buffer of the size
// that fstat reported and one byte more, grown while the file holds more (a
// file of /proc reports 0 bytes), up to the size limit. Line-end normalization
// is one forward pass that copies each kept byte down over the dropped ones.
#include "input/input_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <system_error>

namespace identify {
namespace {

std::string system_reason(int error) {
  return error != 0 ? std::generic_category().message(error) : "unknown error";
}

// Closes the descriptor when the read ends, by return or by throw.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

InputError file_too_large(const std::string& file, std::size_t max_bytes,
                          std::size_t size) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  const std::string most = max_bytes % kMiB == 0
                               ? std::to_string(max_bytes / kMiB) + " MiB"
                               : std::to_string(max_bytes) + " bytes";
  return input_error(SourcePos{file, 0, 0}, "a file of at most " + most,
                     std::to_string(size) + " bytes");
}

std::string read_input_file(const std::string& path, std::size_t max_bytes) {
  const SourcePos whole{path, 0, 0};
  const Descriptor fd(
      ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) {
    throw input_error(whole, "cannot open: " + system_reason(errno));
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) {
    throw input_error(whole, "cannot read: " + system_reason(errno));
  }
  if (S_ISDIR(info.st_mode)) {
    throw input_error(whole, "cannot read: " + system_reason(EISDIR));
  }
  if (!S_ISREG(info.st_mode)) throw input_error(whole, "not a regular file");
  const auto size = static_cast<std::size_t>(info.st_size);
  if (size > max_bytes) throw file_too_large(path, max_bytes, size);
  // Read to the end of the file, not to the size fstat reported: a file of
  // /proc reports 0 bytes and holds more. One byte beyond the reported size
  // sees the end in one pass; past max_bytes the file is refused.
  std::string bytes(size + 1, '\0');
  std::size_t got = 0;
  for (;;) {
    if (got == bytes.size()) {
      if (got > max_bytes) throw file_too_large(path, max_bytes, got);
      bytes.resize(
          std::min(max_bytes + 1, std::max<std::size_t>(2 * got, 4096)));
    }
    const ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw input_error(whole, "cannot read: " + system_reason(errno));
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

void normalize_line_ends(std::string& text) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  std::size_t from = std::string_view(text).starts_with(kByteOrderMark)
                         ? kByteOrderMark.size()
                         : 0;
  std::size_t to = 0;
  for (; from < text.size(); ++from) {
    if (text[from] == '\r' && from + 1 < text.size() && text[from + 1] == '\n')
      continue;
    text[to++] = text[from];
  }
  text.resize(to);
}

}  // namespace identify
