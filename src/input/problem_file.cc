// Reading of the problem file: the positional number list is walked in file
// order and every value is checked as it is taken, so the first fault in the
// file is the one reported. The list length is checked as soon as the counts
// that fix it are known (first the six numbers every file needs, then after
// the fixed-entry count, then after the bounded-entry count), and before
// anything is sized from those counts, so a huge count in a short file is a
// clean "expected N numbers" error rather than a huge allocation. Numbers
// past the layout are ignored with a warning.
#include "input/problem_file.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace identify {
namespace {

constexpr std::int32_t kMaxCount = std::numeric_limits<std::int32_t>::max();

// A 1-based row or column number: 1.0 is subtracted from number k, then the
// result is truncated toward zero; it must lie within 0 .. dim - 1.
std::int32_t entry_index(const NumberList& list, std::size_t k,
                         std::int32_t dim, const std::string& what) {
  const double index = std::trunc(finite_number(list, k) - 1.0);
  if (dim == 0) {
    throw input_error(list.pos(k), "no " + what + " numbers for dim 0",
                      list.written(k));
  }
  if (!(index >= 0.0 && index <= dim - 1.0)) {
    throw input_error(list.pos(k),
                      "a " + what + " number from 1 to " + std::to_string(dim),
                      list.written(k));
  }
  return static_cast<std::int32_t>(index);
}

EntryIndex entry(const NumberList& list, std::size_t k, std::int32_t dim) {
  return EntryIndex{entry_index(list, k, dim, "row"),
                    entry_index(list, k + 1, dim, "column")};
}

Vector vector_at(const NumberList& list, std::size_t first, std::int32_t n) {
  Vector v(static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < v.size(); ++i)
    v[i] = finite_number(list, first + i);
  return v;
}

}  // namespace

ProblemRecord parse_problem(const NumberList& list,
                            std::vector<std::string>* warnings) {
  require_numbers(
      list, 6,
      "at least 6 numbers (epsilon, T, opt_par, dim and the two entry "
      "counts)");
  ProblemRecord r;
  r.epsilon = finite_number(list, 0);
  if (r.epsilon < 0.0) {
    throw input_error(list.pos(0), "epsilon of 0 or more", list.written(0));
  }
  r.T = finite_number(list, 1);
  if (!(r.T > 0.0)) {
    throw input_error(list.pos(1), "T above 0", list.written(1));
  }
  r.opt_par = finite_number(list, 2);
  if (!(r.opt_par > 0.0)) {
    throw input_error(list.pos(2), "opt_par above 0", list.written(2));
  }
  r.dim = count_number(list, 3, "a dimension", kMaxCount);
  r.fix_par_dim = count_number(list, 4, "a number of fixed entries", kMaxCount);

  const std::int64_t n = r.dim;
  const std::int64_t fixed = r.fix_par_dim;
  const std::string layout = " numbers for dim " + std::to_string(n) +
                             " with " + std::to_string(fixed) + " fixed";
  const std::int64_t before_bounded = 3 * fixed + 6;
  require_numbers(list, before_bounded,
                  "at least " + std::to_string(before_bounded) + layout +
                      " entries and the count of bounded entries");
  for (std::int64_t i = 0; i < fixed; ++i) {
    const auto at = static_cast<std::size_t>(5 + 3 * i);
    r.fix_par_num.push_back(entry(list, at, r.dim));
    r.fix_par_val.push_back(finite_number(list, at + 2));
  }

  const auto bounded_at = static_cast<std::size_t>(3 * fixed + 5);
  r.par_borders_dim =
      count_number(list, bounded_at, "a number of bounded entries", kMaxCount);
  const std::int64_t bounded = r.par_borders_dim;
  const std::int64_t total = 3 * fixed + 4 * bounded + 3 * n + 6;
  require_numbers(list, total,
                  std::to_string(total) + layout + " and " +
                      std::to_string(bounded) + " bounded entries");
  for (std::int64_t i = 0; i < bounded; ++i) {
    const auto at = static_cast<std::size_t>(bounded_at + 1 + 4 * i);
    r.par_borders_num.push_back(entry(list, at, r.dim));
    const EntryBounds bounds{finite_number(list, at + 2),
                             finite_number(list, at + 3)};
    if (bounds.lower > bounds.upper) {
      throw input_error(
          list.pos(at + 2),
          "a lower bound not above its upper bound " + list.written(at + 3),
          list.written(at + 2));
    }
    r.par_borders_val.push_back(bounds);
  }

  const auto vectors_at = static_cast<std::size_t>(3 * fixed + 4 * bounded + 6);
  r.init_val = vector_at(list, vectors_at, r.dim);
  r.exp_coef = vector_at(list, vectors_at + r.init_val.size(), r.dim);
  r.exp_par = vector_at(list, vectors_at + 2 * r.init_val.size(), r.dim);
  warn_unused_numbers(list, static_cast<std::size_t>(total), "rate", warnings);
  return r;
}

ProblemRecord read_problem_file(const std::string& path,
                                std::vector<std::string>* warnings) {
  const NumberList list =
      read_number_list_file(path, /*allow_open_bracket=*/true, warnings);
  return parse_problem(list, warnings);
}

}  // namespace identify
