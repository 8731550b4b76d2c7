// Pauses and interrupt handling. The handlers only store to lock-free
// atomics or restore the default action and re-raise, all safe in a signal
// handler.
#include "app/console.h"

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace identify {

namespace {

std::atomic<int> g_interrupt{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void on_interrupt(int sig) {
  if (g_interrupt.load() != 0) {
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    return;
  }
  g_interrupt.store(sig);
}

std::atomic<int> g_writing{0};

extern "C" void on_writing_interrupt(int sig) {
  int none = 0;
  g_interrupt.compare_exchange_strong(none, sig);
  g_writing.store(sig);
}

void install(void (*handler)(int)) {
#ifdef _WIN32
  std::signal(SIGINT, handler);
  std::signal(SIGTERM, handler);
#else
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
#endif
}

}  // namespace

std::atomic<int>& interrupt_flag() { return g_interrupt; }

std::atomic<int>& writing_signal() { return g_writing; }

void install_interrupt_handlers() { install(on_interrupt); }

void install_writing_handlers() { install(on_writing_interrupt); }

void restore_interrupt_defaults() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
}

void reserve_standard_descriptors() {
#ifndef _WIN32
  // open() returns the lowest free descriptor, so going up from 0 fills
  // exactly the closed ones.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      const int opened = open("/dev/null", O_RDONLY);
      if (opened >= 0 && opened != fd) close(opened);
    }
  }
#endif
}

void ignore_write_signals() {
#ifndef _WIN32
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

void pause_for_user(bool enabled, std::ostream& out) {
  if (!enabled) return;
#ifdef _WIN32
  if (!_isatty(_fileno(stdin))) return;
  out.flush();
  static_cast<void>(std::system("pause"));
#else
  if (!isatty(STDIN_FILENO)) return;
  out << "Press Enter to continue . . . " << std::flush;
  std::string line;
  std::getline(std::cin, line);
#endif
}

}  // namespace identify
