// Test support: process runs of the built binary in scratch directories.
#include "run_binary.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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

namespace {

// In the child of run_with: connects `fd` to `file`, or to `pipe_end`.
void connect(int fd, const std::string& file, int pipe_end) {
  const int target =
      file.empty() ? pipe_end : open(file.c_str(), O_WRONLY | O_CLOEXEC);
  if (target < 0 || dup2(target, fd) < 0) _exit(96);
}

// Reads both pipes to their end; false if the deadline passed first.
bool drain(int out_fd, int err_fd, std::string& out, std::string& err) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(120);
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* texts[2] = {&out, &err};
  char buf[4096];
  const auto give_up = [&] {
    for (pollfd& p : fds) {
      if (p.fd >= 0) close(p.fd);
    }
    return false;
  };
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (std::chrono::steady_clock::now() > deadline) return give_up();
    if (poll(fds, 2, 1000) < 0 && errno != EINTR) return give_up();
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      const ssize_t got = read(fds[k].fd, buf, sizeof buf);
      if (got > 0) {
        texts[k]->append(buf, static_cast<std::size_t>(got));
      } else {
        close(fds[k].fd);
        fds[k].fd = -1;
      }
    }
  }
  return true;
}

}  // namespace

RunResult ScratchDir::run_with(const std::vector<std::string>& args,
                               const RunSetup& setup) const {
  std::vector<const char*> argv{IDENTIFY_BINARY};
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe");
  }
  // A closed standard output: the reading end is gone before the run starts.
  if (setup.stdout_closed) close(out_pipe[0]);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (chdir(path_.c_str()) != 0 || null_fd < 0 || dup2(null_fd, 0) < 0) {
      _exit(98);
    }
    connect(1, setup.stdout_file, out_pipe[1]);
    connect(2, setup.stderr_file, err_pipe[1]);
    if (setup.stdout_absent) close(1);
    if (setup.stderr_absent) close(2);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGXFSZ, SIG_DFL);
    if (setup.file_size_limit > 0) {
      const rlimit limit{setup.file_size_limit, setup.file_size_limit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (setup.address_space_limit > 0) {
      const rlimit limit{setup.address_space_limit, setup.address_space_limit};
      setrlimit(RLIMIT_AS, &limit);
    }
    execv(IDENTIFY_BINARY, const_cast<char* const*>(argv.data()));
    _exit(97);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  RunResult r;
  const bool finished =
      drain(setup.stdout_closed ? -1 : out_pipe[0], err_pipe[0], r.out, r.err);
  if (!finished) kill(pid, SIGKILL);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  r.peak_rss_kib = usage.ru_maxrss;
  r.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec +
                                      usage.ru_stime.tv_sec) +
                  1e-6 * static_cast<double>(usage.ru_utime.tv_usec +
                                             usage.ru_stime.tv_usec);
  if (WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.exit_code = 128 + WTERMSIG(status);
  return r;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string device_copy(const ScratchDir& dir, const std::string& name,
                        const std::string& system_path) {
  struct stat st {};
  if (geteuid() != 0 || stat(system_path.c_str(), &st) != 0 ||
      mknod(dir.file(name).c_str(), st.st_mode, st.st_rdev) != 0) {
    return system_path;
  }
  return name;
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

std::string svg_text(const std::string& svg) {
  std::string text;
  static const std::regex entity("&#x([0-9A-Fa-f]+);");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), entity);
       it != std::sregex_iterator(); ++it) {
    text += static_cast<char>(std::stoi((*it)[1].str(), nullptr, 16));
  }
  return text;
}

}  // namespace identify::testing
