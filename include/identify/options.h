// How a problem is fitted. Unset choices take the defaults of the problem's
// input: the legacy files are fitted by the descent on the grid model from
// one start, a problem file by lm (lbfgsb for a Laplace density) on the
// exact model from 20 starts.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace identify {

struct FitOptions {
  std::optional<std::string> method;  // "descent", "lm", "lbfgsb"
  std::optional<std::string> model;   // "grid", "exact"
  std::optional<std::int64_t> starts;  // 1 to kMaxStarts
  std::int64_t seed = 1;               // 0 to 2^63-1
  std::int64_t threads = 0;            // 0: the machine's cores
  bool separately = false;             // fit each experiment on its own
  bool profile = false;                // profile-likelihood intervals
  std::int64_t bootstrap = 0;          // bootstrap replicates; 0: none
  std::vector<std::string> profile_names;  // empty: every fitted parameter
  std::int64_t max_iter = 0;               // 0: no limit
  std::int64_t patience = 10000;           // 0: off
  double min_improvement = 1e-9;           // 0 to 1
  bool verbose = false;  // progress lines of every start, not only the result
  // When another thread stores a signal number here (SIGINT, SIGTERM) the
  // fit stops as on that signal, keeping the best point so far; a callback's
  // kStop stores SIGINT here. Null: the fit has a flag of its own. It must
  // outlive the fit; the fit never clears it.
  std::atomic<int>* stop = nullptr;

  // Empty if the options are valid, else the first fault in the console
  // program's words, with the allowed range:
  // "--starts: expected a whole number from 1 to 1000000, found \"0\"".
  std::string invalid_reason() const;
  // Throws OptionsError with invalid_reason() unless it is empty.
  void validate() const;
};

// Upper ends of starts and threads: far beyond any use, low enough that the
// storage per start or thread is never a question.
inline constexpr std::int64_t kMaxStarts = 1000000;
inline constexpr std::int64_t kMaxThreads = 256;
inline constexpr std::int64_t kMaxBootstrap = 1000000;

}  // namespace identify
