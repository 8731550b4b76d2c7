// The messages of option values out of range, built in one place for the
// command line and for FitOptions: the option, what was expected with the
// allowed range, and what was found.
#pragma once

#include <cstdint>
#include <string>

namespace identify {

// "--starts: expected a whole number from 1 to 1000000, found \"0\"".
std::string count_message(const std::string& option, std::int64_t lowest,
                          std::int64_t highest, const std::string& found);

// "--min-improvement: expected a number from 0 up to (not including) 1,
// found \"2\"".
std::string fraction_message(const std::string& option,
                             const std::string& found);

// "--method: expected one of descent, lm, lbfgsb, found \"x\"" (the
// methods of method_named), and the same for --model.
std::string method_message(const std::string& found);
std::string model_message(const std::string& found);

// "--profile: expected parameter names separated by commas, found \"a b\"".
std::string profile_names_message(const std::string& found);

}  // namespace identify
