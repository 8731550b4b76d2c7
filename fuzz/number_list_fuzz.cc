// Fuzz target: the token loop on any bytes, as the problem file (brackets
// allowed) and as the measurement file. Besides not crashing: every number
// lies inside the file, after the one before it, and its written text reads
// back as the very same double; the warnings stay capped; every message is
// one line that names the file.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "input/number_list.h"
#include "input/number_syntax.h"

namespace identify::fuzz {
namespace {

bool before(const SourcePos& a, const SourcePos& b) {
  return a.line < b.line || (a.line == b.line && a.column < b.column);
}

void check_list(const NumberList& list,
                const std::vector<std::string>& warnings) {
  SourcePos last{list.file(), 0, 0};
  for (std::size_t k = 0; k < list.size(); ++k) {
    const double again = number_value(list.written(k));
    check(again == list[k] && std::signbit(again) == std::signbit(list[k]),
          "the written text reads back as the number");
    check(std::isfinite(list[k]), "every number is finite");
    const SourcePos at = list.pos(k);
    check(at.line >= 1 && at.column >= 1, "a number has a place");
    check(before(last, at), "numbers come in file order");
    check(before(at, list.end()), "a number lies before the end of the file");
    last = at;
  }
  check(warnings.size() <= kMaxWarnings + 1, "warnings are capped");
  for (const std::string& w : warnings) check_message(w, list.file());
}

void read_as(const std::string& bytes, bool brackets) {
  const std::string file = brackets ? "input.txt" : "input_data.txt";
  std::vector<std::string> warnings;
  try {
    const NumberList list = read_number_list(bytes, brackets, file, &warnings);
    check(list.size() <= bytes.size(), "at most one number a byte");
    check_list(list, warnings);
  } catch (const InputError& e) {
    check_error(e, file);
  }
}

}  // namespace
}  // namespace identify::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  identify::fuzz::read_as(bytes, true);
  identify::fuzz::read_as(bytes, false);
  return 0;
}
