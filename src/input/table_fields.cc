// Field checks of the tables. A text that is not a number but becomes one
// when its commas are read as decimal points is reported as a decimal
// comma, the usual cause in tables written with a European locale.
#include "input/table_fields.h"

#include "input/decimal.h"

namespace identify {

bool is_missing_value(std::string_view text) {
  return text.empty() || text == "NA" || text == "NaN" || text == ".";
}

std::string found_field(const CsvField& field) {
  return field.text.empty() ? "an empty field" : quote_text(field.text);
}

std::string short_name_list(const std::vector<std::string>& names) {
  std::string list;
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (k == 8) return list + ", ...";
    list += (k == 0 ? "" : ", ") + names[k];
  }
  return list;
}

double field_number(const TextFile& file, const CsvField& field) {
  const Decimal d = parse_decimal(field.text);
  if (d.fault == DecimalFault::kTooLarge) {
    throw input_error(file.pos(field.offset), "a finite number",
                      quote_text(field.text));
  }
  if (d.fault == DecimalFault::kNotANumber) {
    std::string point(field.text);
    for (char& c : point) c = c == ',' ? '.' : c;
    const bool comma = point != field.text &&
                       parse_decimal(point).fault == DecimalFault::kNone;
    throw input_error(file.pos(field.offset),
                      comma ? "a number with a decimal point" : "a number",
                      found_field(field));
  }
  return d.value;
}

double field_nonnegative(const TextFile& file, const CsvField& field,
                         const std::string& what) {
  if (is_missing_value(field.text)) {
    throw input_error(file.pos(field.offset), what, found_field(field));
  }
  const double v = field_number(file, field);
  if (!(v >= 0.0)) {
    throw input_error(file.pos(field.offset), what + " of 0 or more",
                      quote_text(field.text));
  }
  return v;
}

}  // namespace identify
