// The list of a file's numbers and the field access of the two file layouts.
// A place is recovered from a byte offset by counting the line feeds before
// it: messages are rare, so the list keeps no table of line starts.
#include "input/number_list.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <utility>

#include "input/input_text.h"
#include "input/number_syntax.h"

namespace identify {

NumberList::NumberList(std::string file, std::string text)
    : file_(std::move(file)), text_(std::move(text)) {}

void NumberList::append(double value, std::uint32_t offset) {
  values_.push_back(value);
  offsets_.push_back(offset);
}

SourcePos NumberList::place(std::size_t offset) const {
  const auto first = text_.begin();
  const auto at = first + static_cast<std::ptrdiff_t>(offset);
  const auto line = 1 + std::count(first, at, '\n');
  const std::size_t line_start =
      offset == 0 ? 0 : text_.find_last_of('\n', offset - 1) + 1;
  return SourcePos{file_, static_cast<int>(line),
                   static_cast<int>(offset - line_start) + 1};
}

SourcePos NumberList::pos(std::size_t k) const {
  if (k >= offsets_.size()) return end();
  return place(offsets_[k]);
}

SourcePos NumberList::end() const {
  const bool final_line_feed = !text_.empty() && text_.back() == '\n';
  return place(text_.size() - (final_line_feed ? 1 : 0));
}

std::string NumberList::written(std::size_t k) const {
  const std::size_t start = offsets_[k];
  const std::size_t stop =
      start < text_.size() ? number_end(text_, start) : std::string_view::npos;
  if (stop == std::string_view::npos) return shortest_text(values_[k]);
  return text_.substr(start, stop - start);
}

NumberList read_number_list_file(const std::string& path,
                                 bool allow_open_bracket,
                                 std::vector<std::string>* warnings) {
  return read_number_list(read_input_file(path), allow_open_bracket, path,
                          warnings);
}

void require_numbers(const NumberList& list, std::int64_t count,
                     const std::string& expected) {
  if (static_cast<std::int64_t>(list.size()) >= count) return;
  throw input_error(list.end(), expected, std::to_string(list.size()));
}

double finite_number(const NumberList& list, std::size_t k) {
  const double value = list[k];
  if (!std::isfinite(value)) {
    throw input_error(list.pos(k), "a finite number",
                      "\"" + list.written(k) + "\"");
  }
  return value;
}

std::int32_t count_number(const NumberList& list, std::size_t k,
                          const std::string& what, std::int32_t max) {
  const double value = std::trunc(finite_number(list, k));
  if (value < 0.0) {
    throw input_error(list.pos(k), what + " of 0 or more", list.written(k));
  }
  if (value > max) {
    throw input_error(list.pos(k), what + " of at most " + std::to_string(max),
                      list.written(k));
  }
  return static_cast<std::int32_t>(value);
}

void warn_unused_numbers(const NumberList& list, std::size_t used,
                         const std::string& what,
                         std::vector<std::string>* warnings) {
  if (warnings == nullptr || list.size() <= used) return;
  const std::size_t unused = list.size() - used;
  warnings->push_back(
      list.file() + ":" + std::to_string(list.pos(used).line) +
      ": warning: " + std::to_string(unused) +
      (unused == 1 ? " number after the last " + what + " is ignored"
                   : " numbers after the last " + what + " are ignored"));
}

}  // namespace identify
