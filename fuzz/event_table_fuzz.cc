// Fuzz target: an event table on any bytes, for a problem with states gut
// and central, one observable, the covariate WT and the ignored column AGE.
// Either the table is refused with one line that names it, or the problem
// built from it has one experiment per ID, measurements of finite values at
// finite times of 0 or more (as many as reported), and doses of finite
// times and amounts of 0 or more into a declared state.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "input/event_translation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace identify;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ProblemBuilder builder({"gut", "central"});
  Parameter volume;
  volume.name = "V";
  volume.value = 1.0;
  builder.add_parameter(volume);
  builder.add_covariate("WT");
  builder.set_entry("central", "central", "-0.1 * (WT / 70)^0.75");
  builder.add_observable("conc", {{"central", "1/V"}});
  const EventColumnNames names{{"WT"}, {"AGE"}};
  try {
    const TextFile file("events.csv", bytes);
    const EventTable table = read_event_table(file, names);
    add_event_experiments(file, table, builder);
    const std::vector<bool> lagged(builder.experiment_ids().size(), false);
    const EventSummary summary =
        add_events(file, table, EventSettings{}, lagged, builder);
    if (table.ids.empty()) return 0;
    const FitProblem p = builder.build();
    fuzz::check(p.experiments.size() == table.ids.size(),
                "one experiment per ID");
    fuzz::check(p.measurement_count() == summary.measurements,
                "the measurements reported are the measurements added");
    std::vector<double> scratch;
    for (const Experiment& e : p.experiments) {
      for (const Measurement& m : e.measurements) {
        fuzz::check(std::isfinite(m.time) && m.time >= 0.0,
                    "times are finite and >= 0");
        fuzz::check(std::isfinite(m.value), "values are finite");
      }
      for (const Dose& d : e.doses) {
        const double t = d.time.value({}, scratch);
        const double a = d.amount.value({}, scratch);
        fuzz::check(d.state == 0 || d.state == 1, "doses into a state");
        fuzz::check(std::isfinite(t) && t >= 0.0, "dose times >= 0");
        fuzz::check(std::isfinite(a) && a >= 0.0, "dose amounts >= 0");
      }
    }
  } catch (const InputError& e) {
    fuzz::check_error(e, "events.csv");
  } catch (const ProblemError& e) {
    fuzz::check(std::string(e.what()).find('\n') == std::string::npos,
                "a problem message is one line");
  }
  return 0;
}
