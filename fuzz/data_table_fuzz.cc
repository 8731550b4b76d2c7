// Fuzz target: a data table on any bytes, for a problem with experiments s1
// and s2 and observables y and z. Either the table is refused with one line
// that names it, or every measurement it adds is of a declared experiment
// and observable at a finite time of 0 or more with a finite value, and the
// counts it reports agree with the problem built from it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "input/data_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace identify;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ProblemBuilder builder({"a", "b"});
  builder.add_observable("y", {{"a", "1"}});
  builder.add_observable("z", {{"b", "1"}});
  builder.add_experiment("s1");
  builder.add_experiment("s2");
  try {
    const DataTableSummary summary =
        add_data_table(TextFile("data.csv", bytes), builder);
    const FitProblem p = builder.build();
    fuzz::check(p.measurement_count() == summary.measurements,
                "the measurements reported are the measurements added");
    for (const Experiment& e : p.experiments) {
      for (const Measurement& m : e.measurements) {
        fuzz::check(m.observable == 0 || m.observable == 1,
                    "measurements name a declared observable");
        fuzz::check(std::isfinite(m.time) && m.time >= 0.0,
                    "times are finite and >= 0");
        fuzz::check(std::isfinite(m.value), "values are finite");
      }
    }
  } catch (const InputError& e) {
    fuzz::check_error(e, "data.csv");
  }
  return 0;
}
