// Scanning and conversion of one number. The scan follows the greedy rule of
// formatted extraction: a sign, then digits and at most one point, then an
// exponent only after a mantissa digit. The conversion is strtod on a
// NUL-terminated copy of exactly the scanned bytes: strtod on the file's
// text itself would read on past them ("0x10" as hexadecimal 16 where the
// scan took "0"). Copies of up to 63 bytes stay on the stack.
#include "input/number_syntax.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace identify {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_sign(char c) { return c == '+' || c == '-'; }

}  // namespace

std::size_t number_end(std::string_view text, std::size_t start) {
  std::size_t end = start;
  const auto at = [&](auto predicate) {
    return end < text.size() && predicate(text[end]);
  };
  if (at(is_sign)) ++end;
  bool mantissa_digit = false;
  bool point = false;
  while (true) {
    if (at(is_digit)) {
      mantissa_digit = true;
    } else if (!point && at([](char c) { return c == '.'; })) {
      point = true;
    } else {
      break;
    }
    ++end;
  }
  if (!mantissa_digit) return std::string_view::npos;
  if (!at([](char c) { return c == 'e' || c == 'E'; })) return end;
  ++end;
  if (at(is_sign)) ++end;
  if (!at(is_digit)) return std::string_view::npos;
  while (at(is_digit)) ++end;
  return end;
}

double number_value(std::string_view number) {
  char small[64];
  if (number.size() < sizeof small) {
    std::memcpy(small, number.data(), number.size());
    small[number.size()] = '\0';
    return std::strtod(small, nullptr);
  }
  const std::string copy(number);
  return std::strtod(copy.c_str(), nullptr);
}

std::string shortest_text(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace identify
