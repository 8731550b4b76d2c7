// File identity: a file is its (st_dev, st_ino) pair, which stat() gives for
// every spelling, hard link and symbolic link of it. A name that does not
// exist yet has no inode; it is known by its resolved absolute path
// (std::filesystem::weakly_canonical: the longest existing prefix with links
// resolved, then the rest lexically normalised), which is compared with the
// resolved path of every other name.
#include "output/distinct_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <vector>

#include "output/stale_temps.h"

namespace identify {

namespace {

struct FileIdentity {
  bool exists = false;
  bool regular = false;
  bool character_device = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::string resolved;  // empty if the path could not be resolved
};

FileIdentity identity_of(const struct stat& st) {
  FileIdentity id;
  id.exists = true;
  id.regular = S_ISREG(st.st_mode);
  id.character_device = S_ISCHR(st.st_mode);
  id.device = st.st_dev;
  id.inode = st.st_ino;
  return id;
}

FileIdentity identity_of(const std::string& name) {
  struct stat st {};
  FileIdentity id;
  if (stat(name.c_str(), &st) == 0) id = identity_of(st);
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(name, ec);
  if (ec) return id;
  const std::filesystem::path resolved =
      std::filesystem::weakly_canonical(absolute, ec);
  if (!ec) id.resolved = resolved.string();
  return id;
}

bool same_file(const FileIdentity& a, const FileIdentity& b) {
  if (a.exists && b.exists) {
    return a.device == b.device && a.inode == b.inode &&
           !(a.character_device && b.character_device);
  }
  return !a.resolved.empty() && a.resolved == b.resolved;
}

struct NamedFile {
  std::string option;  // "--output", or "standard output"
  std::string name;
  FileIdentity id;
};

// Standard output or error, when it is a regular file that an output could
// overwrite; other kinds (a terminal, a pipe) are written in place.
void add_console_file(int fd, const char* what, std::vector<NamedFile>& taken) {
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    taken.push_back({what, "", identity_of(st)});
  }
}

std::string conflict(const NamedFile& output, const NamedFile& other) {
  return output.option + ": expected a file other than " + other.option +
         ", found \"" + output.name + "\"";
}

}  // namespace

std::string check_distinct_files(const std::vector<RunFile>& inputs,
                                 const std::vector<RunFile>& outputs) {
  std::vector<NamedFile> taken;
  add_console_file(STDOUT_FILENO, "standard output", taken);
  add_console_file(STDERR_FILENO, "standard error", taken);
  for (const RunFile& in : inputs) {
    taken.push_back({in.label, in.name, identity_of(in.name)});
  }
  for (const RunFile& out : outputs) {
    if (out.name.empty() || (out.name == "-" && out.label == "--report")) {
      continue;
    }
    const NamedFile output{out.label, out.name, identity_of(out.name)};
    for (const NamedFile& other : taken) {
      if (same_file(output.id, other.id)) return conflict(output, other);
    }
    taken.push_back(output);
  }
  return "";
}

void clear_stale_temps(const std::string& name, std::ostream& err) {
  const int removed = remove_stale_temps(replacement_target(name));
  if (removed == 0) return;
  err << "identify: removed " << removed << " stale temporary file"
      << (removed == 1 ? "" : "s") << " of " << name
      << " left by a run that ended while writing it" << std::endl;
}

}  // namespace identify
