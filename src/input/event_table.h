// The event table: one CSV or TSV file per study in the layout that
// pharmacometric tools read, a header row, then one record per dose or
// observation. Column names are matched without regard to case:
//
//   ID    the subject (an experiment): any text, not empty
//   TIME  the time of the record, 0 or more, never going backwards within
//         an ID
//   DV    the measured value; ".", "NA", "NaN" or an empty field: missing
//   AMT   a dose amount, 0 or more (missing: 0)
//   EVID  0 observation, 1 dose, 2 other (a covariate value only), 3 reset
//         (the state back to x0), 4 reset and dose
//   MDV   1: the observation of this row is not used; 0: it is
//   CMT   a 1-based compartment number or a state name (kept as text here)
//   RATE  0 a bolus, above 0 an infusion of AMT at that rate; -1 and -2
//         (a rate or duration given by the model) are refused
//   DUR   an infusion's duration, instead of RATE
//   II    the interval of repeated or steady-state doses
//   ADDL  further doses every II after this one (a whole number)
//   SS    0 none, 1 steady state (reset, then this dose as if repeated every
//         II for ever), 2 that steady state added to the current state
//   DVID  the observable of DV: a 1-based number or a name (kept as text)
//
// Only ID, TIME and DV or AMT are required. Without EVID a record with AMT
// above 0 is a dose, one with a DV an observation and any other has no
// event (EVID 2); without MDV a missing DV is simply not observed. Every
// other column must be a covariate declared by the problem (a number in
// every record) or a column the problem ignores. Every fault is an
// InputError at its field: "e.csv:4:22: expected a RATE of 0 or more (-1
// and -2, a rate or duration from the model, are not supported), found
// \"-1\"".
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "input/text_file.h"

namespace identify {

enum EventColumn {
  kEventId,
  kEventTime,
  kEventDv,
  kEventAmt,
  kEventEvid,
  kEventMdv,
  kEventCmt,
  kEventRate,
  kEventDur,
  kEventIi,
  kEventAddl,
  kEventSs,
  kEventDvid,
  kEventColumnCount
};

// The columns a problem adds to the standard ones, names as declared.
struct EventColumnNames {
  std::vector<std::string> covariates;
  std::vector<std::string> ignored;
};

struct EventRecord {
  // Offset in the file of each standard column's field (0 for a column
  // that is absent), and of the covariates' fields.
  std::array<std::size_t, kEventColumnCount> at{};
  std::vector<std::size_t> covariate_at;
  std::string id;
  double time = 0.0;
  std::optional<double> dv;  // none when missing
  double amount = 0.0;
  int evid = 0;           // as given, or as implied without an EVID column
  bool observed = false;  // EVID 0 with a DV that MDV does not skip
  std::string cmt;        // as written; empty when absent or missing
  std::string dvid;       // as written; empty when absent or missing
  double rate = 0.0, duration = 0.0, interval = 0.0;
  int additional = 0;
  int steady_state = 0;
  std::vector<double> covariates;  // in the order declared
};

struct EventTable {
  std::vector<EventRecord> records;  // in file order
  std::array<bool, kEventColumnCount> present{};
  std::vector<std::string> ids;  // distinct, in order of first appearance
};

// The standard name of a column ("RATE").
const char* event_column_name(EventColumn column);

// Reads and checks `file`. Throws InputError at the first fault.
EventTable read_event_table(const TextFile& file,
                            const EventColumnNames& names);

}  // namespace identify
