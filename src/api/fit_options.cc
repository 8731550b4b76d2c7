// The checks of FitOptions: each value against its range, the first fault
// in the command line's words.
#include <charconv>
#include <cmath>
#include <limits>

#include "api/option_words.h"
#include "identify/errors.h"
#include "identify/options.h"
#include "fit/method.h"
#include "model/model_kind.h"
#include "problem/parameter.h"

namespace identify {

namespace {

constexpr std::int64_t kMost = std::numeric_limits<std::int64_t>::max();

std::string shortest(double v) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
  return ec == std::errc() ? std::string(buffer, end) : std::string("?");
}

std::string count_fault(const char* option, std::int64_t v,
                        std::int64_t lowest, std::int64_t highest) {
  if (v >= lowest && v <= highest) return "";
  return count_message(option, lowest, highest, std::to_string(v));
}



}  // namespace

std::string FitOptions::invalid_reason() const {
  const std::string faults[] = {
      method && !method_named(*method) ? method_message(*method) : "",
      model && !model_named(*model) ? model_message(*model) : "",
      starts ? count_fault("--starts", *starts, 1, kMaxStarts) : "",
      count_fault("--seed", seed, 0, kMost),
      count_fault("--threads", threads, 0, kMaxThreads),
      count_fault("--bootstrap", bootstrap, 0, kMaxBootstrap),
      count_fault("--max-iter", max_iter, 0, kMost),
      count_fault("--patience", patience, 0, kMost),
      min_improvement >= 0.0 && min_improvement < 1.0
          ? ""
          : fraction_message("--min-improvement", shortest(min_improvement)),
  };
  for (const std::string& f : faults) {
    if (!f.empty()) return f;
  }
  for (const std::string& name : profile_names) {
    if (!is_valid_name(name)) {
      std::string all;
      for (const std::string& n : profile_names) {
        all += (all.empty() ? "" : ",") + n;
      }
      return profile_names_message(all);
    }
  }
  return "";
}

void FitOptions::validate() const {
  const std::string reason = invalid_reason();
  if (!reason.empty()) throw OptionsError(reason);
}

}  // namespace identify
