// Stale temporary files: a run killed between creating its temporary file
// and renaming it leaves "<name>.tmp.<pid>.<random>" behind. Such a file is
// recognised by its exact form (the target's name, ".tmp.", a decimal pid,
// ".", six characters of mkstemp's alphabet) and is stale when kill(pid, 0)
// says that no process has that pid (ESRCH). A pid that has been reused keeps
// its file until that process ends, which errs on the side of keeping.
#include "output/stale_temps.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <limits>
#include <memory>

namespace identify {

namespace {

constexpr std::size_t kRandomLength = 6;  // the XXXXXX of mkstemp

void split(const std::string& path, std::string& dir, std::string& base) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    dir = ".";
    base = path;
  } else {
    dir = slash == 0 ? "/" : path.substr(0, slash);
    base = path.substr(slash + 1);
  }
}

// The pid in `entry` if it names a temporary file of `base`, else 0.
pid_t temp_pid(const std::string& entry, const std::string& base) {
  const std::string prefix = base + ".tmp.";
  if (entry.size() <= prefix.size() + kRandomLength + 1 ||
      entry.compare(0, prefix.size(), prefix) != 0) {
    return 0;
  }
  const std::size_t dot = entry.size() - kRandomLength - 1;
  if (entry[dot] != '.') return 0;
  for (std::size_t k = dot + 1; k < entry.size(); ++k) {
    if (!std::isalnum(static_cast<unsigned char>(entry[k]))) return 0;
  }
  long long pid = 0;
  for (std::size_t k = prefix.size(); k < dot; ++k) {
    if (!std::isdigit(static_cast<unsigned char>(entry[k]))) return 0;
    pid = pid * 10 + (entry[k] - '0');
    if (pid > std::numeric_limits<pid_t>::max()) return 0;
  }
  return static_cast<pid_t>(pid);
}

bool process_gone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

}  // namespace

std::string replacement_target(const std::string& name) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(
      realpath(name.c_str(), nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : name;
}

std::string temp_template(const std::string& target) {
  return target + ".tmp." + std::to_string(getpid()) + ".XXXXXX";
}

int remove_stale_temps(const std::string& target) {
  std::string dir, base;
  split(target, dir, base);
  if (base.empty()) return 0;
  const std::unique_ptr<DIR, DirCloser> listing(opendir(dir.c_str()));
  if (!listing) return 0;
  int removed = 0;
  while (const dirent* e = readdir(listing.get())) {
    const std::string entry = e->d_name;
    const pid_t pid = temp_pid(entry, base);
    if (pid <= 0 || !process_gone(pid)) continue;
    const std::string path = dir == "/" ? "/" + entry : dir + "/" + entry;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != geteuid()) {
      continue;
    }
    if (unlink(path.c_str()) == 0) ++removed;
  }
  return removed;
}

}  // namespace identify
