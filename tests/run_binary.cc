// Test support: process runs of the built binary in scratch directories.
#include "run_binary.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace identify::testing {

ScratchDir::ScratchDir() {
  std::string tmpl =
      (std::filesystem::temp_directory_path() / "identify-test-XXXXXX")
          .string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = tmpl;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

void ScratchDir::write(const std::string& name, const std::string& text) const {
  std::ofstream(path_ / name, std::ios::binary) << text;
}

std::string ScratchDir::read(const std::string& name) const {
  return read_file(path_ / name);
}

void ScratchDir::copy_example(const std::string& name) const {
  for (const auto& entry : std::filesystem::directory_iterator(
           std::filesystem::path(IDENTIFY_EXAMPLES_DIR) / name)) {
    std::filesystem::copy_file(entry.path(), path_ / entry.path().filename(),
                               std::filesystem::copy_options::overwrite_existing);
  }
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

RunResult run_identify(const std::filesystem::path& dir,
                       const std::string& args) {
  const std::string out = (dir / ".stdout").string();
  const std::string err = (dir / ".stderr").string();
  const std::string command = "cd '" + dir.string() + "' && timeout 300 '" +
                              IDENTIFY_BINARY + "' " + args + " </dev/null >'" +
                              out + "' 2>'" + err + "'";
  const int status = std::system(command.c_str());
  RunResult r;
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = read_file(out);
  r.err = read_file(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return r;
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
