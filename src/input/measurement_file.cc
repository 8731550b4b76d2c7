// Reading of the measurement file: the positional number list is walked in
// file order and every value is checked as it is taken, so the first fault in
// the file is the one reported. The list length is checked as soon as the
// counts that fix it are known (after the series count, then after the sample
// count) and before the sample tables are sized from them. Numbers past the
// layout are ignored with a warning.
#include "input/measurement_file.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "input/number_syntax.h"

namespace identify {
namespace {

// A 1-based component number: number k is truncated toward zero, then 1 is
// subtracted; the result must lie within 0 .. dim - 1.
std::int32_t component(const NumberList& list, std::size_t k,
                       std::int32_t dim) {
  const double index = std::trunc(finite_number(list, k)) - 1.0;
  if (dim <= 0) {
    throw input_error(list.pos(k), "no component numbers for dim 0",
                      list.written(k));
  }
  if (!(index >= 0.0 && index <= dim - 1.0)) {
    throw input_error(list.pos(k),
                      "a component number from 1 to " + std::to_string(dim),
                      list.written(k));
  }
  return static_cast<std::int32_t>(index);
}

}  // namespace

ObservationRecord parse_measurements(const NumberList& list, std::int32_t dim,
                                     double T,
                                     std::vector<std::string>* warnings) {
  constexpr std::int32_t kMaxCount = std::numeric_limits<std::int32_t>::max();
  require_numbers(list, 2,
                  "at least 2 numbers (the number of series and the number of "
                  "samples)");
  ObservationRecord r;
  r.data_num = count_number(list, 0, "a number of series", kMaxCount);
  const std::int64_t series = r.data_num;
  const std::string layout =
      " numbers for " + std::to_string(series) + " series";
  require_numbers(list, series + 2,
                  "at least " + std::to_string(series + 2) + layout +
                      " (their component numbers and the number of samples)");
  for (std::int64_t c = 0; c < series; ++c) {
    r.is_data_exist.push_back(
        component(list, static_cast<std::size_t>(1 + c), dim));
  }

  // P + 1 points per series must still fit the 32-bit point counts.
  const auto samples_at = static_cast<std::size_t>(series + 1);
  const std::int32_t samples =
      count_number(list, samples_at, "a number of samples", kMaxCount - 1);
  const std::int64_t total = series + 2 * series * samples + 2;
  require_numbers(list, total,
                  std::to_string(total) + layout + " of " +
                      std::to_string(samples) + " samples");

  const auto points = static_cast<std::size_t>(samples) + 1;
  r.data_dim.assign(static_cast<std::size_t>(dim > 0 ? dim : 0), samples + 1);
  r.data_time = Table(static_cast<std::size_t>(series), points);
  r.add_data = Table(static_cast<std::size_t>(series), points);
  std::size_t at = samples_at + 1;
  for (std::size_t c = 0; c < r.data_time.rows(); ++c) {
    for (std::size_t k = 1; k < points; ++k, at += 2) {
      const double time = finite_number(list, at);
      if (!(time >= 0.0 && time <= T)) {
        throw input_error(list.pos(at), "a time from 0 to " + shortest_text(T),
                          list.written(at));
      }
      r.data_time[c][k] = time;
      r.add_data[c][k] = finite_number(list, at + 1);
    }
  }
  warn_unused_numbers(list, static_cast<std::size_t>(total), "sample",
                      warnings);
  return r;
}

ObservationRecord read_measurement_file(const std::string& path,
                                        std::int32_t dim, double T,
                                        std::vector<std::string>* warnings) {
  const NumberList list =
      read_number_list_file(path, /*allow_open_bracket=*/false, warnings);
  return parse_measurements(list, dim, T, warnings);
}

}  // namespace identify
