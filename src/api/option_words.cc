// Option messages: each names the option, the allowed values and the value
// found, in quotes as it was written.
#include "api/option_words.h"

namespace identify {

std::string count_message(const std::string& option, std::int64_t lowest,
                          std::int64_t highest, const std::string& found) {
  return option + ": expected a whole number from " + std::to_string(lowest) +
         " to " + std::to_string(highest) + ", found \"" + found + "\"";
}

std::string fraction_message(const std::string& option,
                             const std::string& found) {
  return option +
         ": expected a number from 0 up to (not including) 1, found \"" +
         found + "\"";
}

std::string method_message(const std::string& found) {
  return "--method: expected one of descent, lm, lbfgsb, found \"" + found +
         "\"";
}

std::string model_message(const std::string& found) {
  return "--model: expected one of grid, exact, found \"" + found + "\"";
}

std::string profile_names_message(const std::string& found) {
  return "--profile: expected parameter names separated by commas, found \"" +
         found + "\"";
}

}  // namespace identify
