// Numbers as data tables and problem files write them: an optional sign,
// digits with at most one decimal point (".5" and "5." included) and an
// optional exponent ("e" or "E", optional sign, digits). Nothing else is a
// number: no "inf", "nan", hexadecimal, blanks or thousands separators.
#pragma once

#include <string_view>

namespace identify {

enum class DecimalFault {
  kNone,
  kNotANumber,  // the text is not of the form above
  kTooLarge,    // beyond the range of a double ("1e999")
};

struct Decimal {
  double value = 0.0;
  DecimalFault fault = DecimalFault::kNone;
};

// Reads `text` whole, correctly rounded; a number too small for a double
// ("1e-999") reads as 0 or a subnormal.
Decimal parse_decimal(std::string_view text);

}  // namespace identify
