// Test support: process runs of the built binary in scratch directories.
#include "run_binary.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace identify::testing {

namespace fs = std::filesystem;

ScratchDir::ScratchDir(const std::string& example) {
  std::string tmpl =
      (fs::temp_directory_path() / "identify-test-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = tmpl;
  if (example.empty()) return;
  for (const auto& entry :
       fs::directory_iterator(fs::path(IDENTIFY_EXAMPLES_DIR) / example)) {
    fs::copy_file(entry.path(), path_ / entry.path().filename());
  }
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

void ScratchDir::write(const std::string& name, const std::string& text) const {
  std::ofstream(path_ / name, std::ios::binary) << text;
}

std::string ScratchDir::read(const std::string& name) const {
  return read_file(path_ / name);
}

std::vector<std::string> ScratchDir::names() const {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(path_)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

RunResult ScratchDir::run(const std::string& args) const {
  const std::string out = file(".stdout");
  const std::string err = file(".stderr");
  const std::string command = "cd '" + path_.string() + "' && timeout 300 '" +
                              IDENTIFY_BINARY + "' " + args + " </dev/null >'" +
                              out + "' 2>'" + err + "'";
  const int status = std::system(command.c_str());
  RunResult r;
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = read_file(out);
  r.err = read_file(err);
  fs::remove(out);
  fs::remove(err);
  return r;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string example_file(const std::string& example, const std::string& name) {
  return read_file(fs::path(IDENTIFY_EXAMPLES_DIR) / example / name);
}

pid_t start_identify(const fs::path& dir, const std::vector<const char*>& args,
                     int stdin_fd) {
  std::vector<const char*> argv{IDENTIFY_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (chdir(dir.c_str()) != 0 || dup2(stdin_fd, 0) < 0 ||
      !freopen("out", "w", stdout) || !freopen("err", "w", stderr)) {
    _exit(98);
  }
  execv(IDENTIFY_BINARY, const_cast<char* const*>(argv.data()));
  _exit(97);
}

std::string mask_time(const std::string& console) {
  static const std::regex time_line("TIME = [^\n]* sec\n");
  return std::regex_replace(console, time_line, "TIME = * sec\n");
}

std::string with_file_size_limit(std::size_t bytes,
                                 const std::function<std::string()>& write) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    close(fds[0]);
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
    const std::string result = write();
    const ssize_t w = ::write(fds[1], result.data(), result.size());
    _exit(w == static_cast<ssize_t>(result.size()) ? 0 : 1);
  }
  close(fds[1]);
  std::string result;
  char buf[256];
  ssize_t got = 0;
  while ((got = read(fds[0], buf, sizeof buf)) > 0) result.append(buf, got);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed";
  return result;
}

}  // namespace identify::testing
