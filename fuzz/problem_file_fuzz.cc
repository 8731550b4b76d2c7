// Fuzz target: the problem file on any bytes. Either the reader rejects the
// file with a one-line message, or the record keeps every invariant that
// records.h promises to the later stages.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "input/problem_file.h"

namespace identify::fuzz {
namespace {

bool finite(const Vector& v) {
  for (const double x : v) {
    if (!std::isfinite(x)) return false;
  }
  return true;
}

void check_entries(const std::vector<EntryIndex>& entries, std::int32_t dim) {
  for (const EntryIndex& e : entries) {
    check(e.row >= 0 && e.row < dim && e.col >= 0 && e.col < dim,
          "entries lie within the matrix");
  }
}

void check_record(const ProblemRecord& r) {
  check(std::isfinite(r.epsilon) && r.epsilon >= 0.0, "epsilon >= 0");
  check(std::isfinite(r.T) && r.T > 0.0, "T > 0");
  check(std::isfinite(r.opt_par) && r.opt_par > 0.0, "opt_par > 0");
  check(r.dim >= 0, "dim >= 0");
  const auto n = static_cast<std::size_t>(r.dim);
  check(
      r.init_val.size() == n && r.exp_coef.size() == n && r.exp_par.size() == n,
      "the three vectors have dim entries");
  check(finite(r.init_val) && finite(r.exp_coef) && finite(r.exp_par),
        "the vectors are finite");
  check(r.fix_par_num.size() == static_cast<std::size_t>(r.fix_par_dim) &&
            r.fix_par_val.size() == r.fix_par_num.size(),
        "fixed entries match their count");
  check(finite(r.fix_par_val), "fixed values are finite");
  check(
      r.par_borders_num.size() == static_cast<std::size_t>(r.par_borders_dim) &&
          r.par_borders_val.size() == r.par_borders_num.size(),
      "bounded entries match their count");
  for (const EntryBounds& b : r.par_borders_val) {
    check(
        std::isfinite(b.lower) && std::isfinite(b.upper) && b.lower <= b.upper,
        "bounds are finite and ordered");
  }
  check_entries(r.fix_par_num, r.dim);
  check_entries(r.par_borders_num, r.dim);
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
        read_number_list(bytes, true, "input.txt", &warnings);
    fuzz::check_record(parse_problem(list, &warnings));
  } catch (const InputError& e) {
    fuzz::check_error(e, "input.txt");
  }
  for (const std::string& w : warnings) fuzz::check_message(w, "input.txt");
  return 0;
}
