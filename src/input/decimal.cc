// Strict decimal numbers: the text is matched against the grammar first, so
// that std::from_chars (which rounds correctly) never sees the forms it would
// also take ("inf", "nan"); an out-of-range report is split into overflow,
// an error, and underflow, which strtod resolves to 0 or a subnormal.
#include "input/decimal.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace identify {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::size_t skip_digits(std::string_view text, std::size_t at) {
  while (at < text.size() && is_digit(text[at])) ++at;
  return at;
}

bool well_formed(std::string_view text) {
  std::size_t at = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  const std::size_t int_end = skip_digits(text, at);
  std::size_t digits = int_end - at;
  at = int_end;
  if (at < text.size() && text[at] == '.') {
    const std::size_t frac_end = skip_digits(text, at + 1);
    digits += frac_end - at - 1;
    at = frac_end;
  }
  if (digits == 0) return false;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    const std::size_t exp_end = skip_digits(text, at);
    if (exp_end == at) return false;
    at = exp_end;
  }
  return at == text.size();
}

}  // namespace

Decimal parse_decimal(std::string_view text) {
  if (!well_formed(text)) return {0.0, DecimalFault::kNotANumber};
  std::string_view digits = text;
  if (digits.front() == '+') digits.remove_prefix(1);
  double value = 0.0;
  const auto [end, ec] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec == std::errc::result_out_of_range) {
    const std::string copy(digits);
    value = std::strtod(copy.c_str(), nullptr);
    if (std::isinf(value)) return {value, DecimalFault::kTooLarge};
  }
  return {value, DecimalFault::kNone};
}

}  // namespace identify
