// The form of a number in the input files and its value. A number is what
// formatted extraction of a double takes in the classic locale: an optional
// sign, digits with at most one decimal point, and, only after a digit of
// the mantissa, an optional exponent (e or E, an optional sign, digits).
// Hexadecimal, "inf" and "nan" are not numbers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace identify {

// Where the longest number that starts at text[start] ends (one past its
// last byte), or std::string_view::npos when the text there is no complete
// number: no mantissa digit ("-", ".", "x"), or an exponent without a digit
// ("1e", "1e+").
std::size_t number_end(std::string_view text, std::size_t start);

// The value of a whole number as number_end delimits it, correctly rounded;
// ±infinity when it is beyond the range of a double ("1e999"), 0 or a
// subnormal when it is too small for it ("1e-999").
double number_value(std::string_view number);

// The shortest text that reads back as `value` ("0.1", "1e+300", "inf").
std::string shortest_text(double value);

}  // namespace identify
