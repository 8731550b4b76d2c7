// Fuzz target: the measurement file on any bytes, for systems of 0, 2 and 5
// components on [0, 10] and [0, 1e5]. Either the reader rejects the file
// with a one-line message, or the record keeps every invariant that
// records.h promises to the later stages.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "input/measurement_file.h"

namespace identify::fuzz {
namespace {

void check_record(const ObservationRecord& r, std::int32_t dim, double T) {
  check(r.data_num >= 0, "K >= 0");
  const auto series = static_cast<std::size_t>(r.data_num);
  check(r.is_data_exist.size() == series, "one component for each series");
  for (const std::int32_t c : r.is_data_exist) {
    check(c >= 0 && c < dim, "components lie within the system");
  }
  check(r.data_dim.size() == static_cast<std::size_t>(dim),
        "one point count for each component");
  const std::size_t points = r.data_time.cols();
  check(points >= 1, "every series has the point t = 0");
  for (const std::int32_t d : r.data_dim) {
    check(static_cast<std::size_t>(d) == points, "point counts are P + 1");
  }
  check(r.data_time.rows() == series && r.add_data.rows() == series &&
            r.add_data.cols() == points,
        "the tables are K x (P + 1)");
  for (std::size_t c = 0; c < series; ++c) {
    check(r.data_time[c][0] == 0.0, "point 0 is at t = 0");
    for (std::size_t k = 0; k < points; ++k) {
      check(r.data_time[c][k] >= 0.0 && r.data_time[c][k] <= T,
            "times lie within [0, T]");
      check(std::isfinite(r.add_data[c][k]), "values are finite");
    }
  }
}

}  // namespace
}  // namespace identify::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace identify;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> warnings;
  try {
    const NumberList list =
        read_number_list(bytes, false, "input_data.txt", &warnings);
    for (const std::int32_t dim : {0, 2, 5}) {
      for (const double T : {10.0, 1e5}) {
        try {
          fuzz::check_record(parse_measurements(list, dim, T, &warnings), dim,
                             T);
        } catch (const InputError& e) {
          fuzz::check_error(e, "input_data.txt");
        }
      }
    }
  } catch (const InputError& e) {
    fuzz::check_error(e, "input_data.txt");
  }
  for (const std::string& w : warnings) {
    fuzz::check_message(w, "input_data.txt");
  }
  return 0;
}
