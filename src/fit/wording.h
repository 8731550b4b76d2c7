// Numbers and counts in the sentences the program writes for people: the
// verdicts, the warnings and the fit report.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace identify {

// v in the stream's default format (%g, six significant digits, classic
// locale), but a zero of either sign is "0": a tolerance read as -0 or an
// entry that ended at -0 reads as the zero it is.
std::string number_text(double v);

// "1 iteration", "2 iterations", "0 iterations": the count and the noun in
// the form that agrees with it.
std::string count_text(std::int64_t count, std::string_view one,
                       std::string_view many);

}  // namespace identify
