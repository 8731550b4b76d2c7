// From an event table to a problem's experiments, doses and measurements.
//
// Every ID is an experiment, in order of first appearance; its id is the ID
// itself when that is a valid name, else "ID" followed by it ("ID12"). In
// each record:
//   - covariates: the values of the ID's first record become numbers of
//     that experiment (never parameters);
//   - EVID 1 (and 4) doses: AMT into the state named by CMT (a 1-based
//     number in the order of `compartments`, else of the states, or a state
//     name; without CMT the dose state), as a bolus, or an infusion of
//     duration AMT/RATE or DUR, repeated ADDL times every II. A bolus at
//     t = 0 in an experiment without a lag is part of its x0 (x0 and a dose
//     at 0 add up, and the exact model then sees one state at 0);
//   - EVID 0 records with MDV 0: a measurement of DV of the observable DVID
//     names (a 1-based number or a name), or of the only observable;
//   - SS 1 (2): as the first dose of an ID, at TIME 0 and without a lag,
//     the experiment starts at the periodic steady state of the dose
//     repeated every II instead of x0 (added to x0); at any other dose the
//     state becomes (gains) that steady state at its time (a steady-state
//     Dose). A bolus is part of that state; an infusion still runs from
//     its time; ADDL doses follow every II;
//   - a covariate that changes within an ID holds from its record's time
//     until the next change (locf), or back to the ID's record before
//     (nocb): the matrix changes there (ProblemBuilder::change_covariate);
//     an ID with a lag keeps its covariates constant;
//   - EVID 3 and 4 reset the state to x0: before the ID's first dose or
//     observation this is what the experiment starts from anyway, and a
//     reset later is refused.
// Every refusal is an InputError at the field concerned.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input/event_table.h"
#include "input/text_file.h"
#include "problem/problem_builder.h"

namespace identify {

struct EventSettings {
  std::vector<std::string> compartments;  // CMT numbering; empty: the states
  std::string dose_state;                 // doses without CMT; empty: first
  // A covariate that changes within an ID holds back to the record before
  // (nocb) rather than on to the next (locf).
  bool next_observation = false;
};

struct EventSummary {
  std::size_t measurements = 0;
  std::size_t doses = 0;  // as given, each ADDL repetition counted
};

// What the records of the event tables became, row by row, for writing
// them out as the data and dose tables of the same problem. A bolus at
// t = 0 that went into x0 is kept as a dose at 0 (x0 and such a dose add).
struct EventTrace {
  struct DoseRow {
    std::string experiment, time, state, amount;
    std::optional<std::string> duration;  // none: a bolus
  };
  struct MeasurementRow {
    std::string experiment, observable;
    double time = 0.0, value = 0.0;
  };
  struct CovariateValues {
    std::string experiment;
    std::vector<double> values;  // in the order of the covariates declared
  };
  std::vector<DoseRow> doses;
  std::vector<MeasurementRow> measurements;
  std::vector<CovariateValues> covariates;
  // The first record that a dose or data table cannot express (a steady
  // state, a covariate changing within an ID), with the reason.
  std::optional<SourcePos> refused_at;
  std::string refusal;
};

std::string event_experiment_id(std::string_view id);

// Declares the experiment of every ID of `table` not declared yet, in
// order; throws InputError at the first record of an ID whose experiment id
// is not a valid name.
void add_event_experiments(const TextFile& file, const EventTable& table,
                           ProblemBuilder& builder);

// Adds the doses, measurements and covariate values of `table`.
// `lagged[e]`: experiment e has a lag (its doses at 0 are then doses).
// With a `trace`, also records there what each record became.
EventSummary add_events(const TextFile& file, const EventTable& table,
                        const EventSettings& settings,
                        const std::vector<bool>& lagged,
                        ProblemBuilder& builder, EventTrace* trace = nullptr);

}  // namespace identify
