// Fuzz target: the SBML reader's own checks on whatever libSBML parses. The
// input is an SBML document. Either it is refused with one line that names
// the model first, or the linear model read keeps its promises: N states,
// an N×N matrix, N inputs and N initial values, each entry empty or an
// expression that parses and names only the model's parameters and
// compartments declared to it (the others stand there as numbers).
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "fuzz_check.h"
#include "input/petab/sbml_model.h"
#include "problem/expression.h"

namespace identify::fuzz {
namespace {

void check_entry(const std::string& text, const std::set<std::string>& names) {
  if (text.empty()) return;
  try {
    for (const std::string& n : Expression::parse(text).names()) {
      check(names.count(n) > 0, "entries name only declared constants");
    }
  } catch (const ExpressionError& e) {
    // Depth beyond the parser's limit is the only refusal allowed.
    check(e.expected().find("nesting") != std::string::npos,
          "entries are expressions");
  }
}

}  // namespace
}  // namespace identify::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace identify;
  const std::string text(reinterpret_cast<const char*>(data), size);
  // Parameter names the fuzzer can hit: those of the seed models.
  const std::set<std::string> declared = {"k1", "k2", "a0", "b0",
                                          "compartment"};
  try {
    const SbmlModel m = read_sbml_text(text, "model.xml", declared);
    const std::size_t n = m.states.size();
    fuzz::check(m.matrix.size() == n * n && m.inputs.size() == n &&
                    m.x0.size() == n && m.amount.size() == n,
                "the model's parts have one entry per state");
    std::set<std::string> names;
    for (const auto& [id, value] : m.constants) {
      static_cast<void>(value);
      if (declared.count(id) > 0) names.insert(id);
    }
    for (const std::string& e : m.matrix) fuzz::check_entry(e, names);
    for (const std::string& e : m.inputs) fuzz::check_entry(e, names);
    for (const std::string& e : m.x0) fuzz::check_entry(e, names);
  } catch (const InputError& e) {
    fuzz::check_message(e.what(), "model.xml");
  }
  return 0;
}
