// Translating event records into a problem. A record's dose is the
// schedule t_k = TIME + k·II, k = 0 .. ADDL, each of amount AMT, and an
// infusion at rate R delivers AMT over AMT/R; the times and amounts go to
// the builder as the shortest text that reads back as each double, so that
// the problem holds exactly the numbers of the table.
#include "input/event_translation.h"

#include <charconv>
#include <optional>
#include <unordered_map>

#include "input/number_syntax.h"
#include "input/table_fields.h"
#include "problem/parameter.h"

namespace identify {

namespace {

class Translator {
 public:
  Translator(const TextFile& file, const EventTable& table,
             const EventSettings& settings, const std::vector<bool>& lagged,
             ProblemBuilder& builder, EventTrace* trace)
      : file_(file),
        table_(table),
        settings_(settings),
        lagged_(lagged),
        builder_(builder),
        trace_(trace) {}

  EventSummary run() {
    for (const EventRecord& r : table_.records) take(r);
    return summary_;
  }

 private:
  [[noreturn]] void fail(std::size_t offset, const std::string& expected,
                         const std::string& found) const {
    throw input_error(file_.pos(offset), expected, found);
  }
  template <class Step>
  void placed(std::size_t offset, Step step) const {
    try {
      step();
    } catch (const ProblemError& e) {
      throw input_error(file_.pos(offset), e.what());
    }
  }

  void take(const EventRecord& r) {
    const int e = builder_.experiment_index(event_experiment_id(r.id));
    State& s = states_[e];
    set_covariates(r, e, s);
    s.last_time = r.time;
    const int state = r.cmt.empty() ? -1 : compartment(r);
    if (r.evid >= 3 && s.started) {
      fail(r.at[kEventEvid],
           "a reset (EVID 3 or 4) only before the first dose and observation "
           "of ID " +
               r.id,
           "one at TIME " + shortest_text(r.time));
    }
    if (r.evid == 1 || r.evid == 4) {
      // The first dose of an ID at 0 without a lag starts the experiment
      // from its steady state; any other is a steady-state dose.
      add_dose(r, e, state, !s.started && r.time == 0.0 && !lagged_[e]);
      s.started = true;
    } else if (r.observed) {
      add_measurement(r, e);
      s.started = true;
    }
  }

  struct State {
    bool started = false;     // a dose or an observation taken
    bool covariates = false;  // its covariate values set
    std::vector<double> values;
    double last_time = 0.0;  // of the ID's record before
  };

  // Notes the first record that a dose or data table cannot express.
  void refuse_conversion(std::size_t offset, const std::string& reason) {
    if (trace_ == nullptr || trace_->refused_at) return;
    trace_->refused_at = file_.pos(offset);
    trace_->refusal = reason;
  }

  void set_covariates(const EventRecord& r, int e, State& s) {
    if (r.covariates.empty()) return;
    if (!s.covariates) {
      s.covariates = true;
      s.values = r.covariates;
      if (trace_ != nullptr) {
        trace_->covariates.push_back(
            {builder_.experiment_ids()[e], r.covariates});
      }
      for (std::size_t c = 0; c < r.covariates.size(); ++c) {
        const std::string& name = builder_.covariate_names()[c];
        placed(r.covariate_at[c],
               [&] { builder_.set_covariate(e, name, r.covariates[c]); });
      }
      return;
    }
    // A new value holds from this record on (locf) or from the record
    // before (nocb).
    const double from = settings_.next_observation ? s.last_time : r.time;
    for (std::size_t c = 0; c < r.covariates.size(); ++c) {
      if (r.covariates[c] == s.values[c]) continue;
      if (lagged_[e]) {
        fail(r.covariate_at[c],
             "covariate " + builder_.covariate_names()[c] +
                 " constant within ID " + r.id + " (" +
                 shortest_text(s.values[c]) +
                 "), which has a lag: a value that changes is supported "
                 "without a lag only",
             shortest_text(r.covariates[c]));
      }
      refuse_conversion(
          r.covariate_at[c],
          "covariate " + builder_.covariate_names()[c] + " changes within ID " +
              r.id + " (from " + shortest_text(s.values[c]) + " to " +
              shortest_text(r.covariates[c]) +
              "): an experiment of a dose table has one value of it");
      s.values[c] = r.covariates[c];
      placed(r.covariate_at[c], [&] {
        builder_.change_covariate(e, builder_.covariate_names()[c], from,
                                  r.covariates[c]);
      });
    }
  }

  // The state a CMT names.
  int compartment(const EventRecord& r) const {
    const std::vector<std::string>& order = settings_.compartments.empty()
                                                ? builder_.states()
                                                : settings_.compartments;
    int number = 0;
    const char* end = r.cmt.data() + r.cmt.size();
    const auto [p, ec] = std::from_chars(r.cmt.data(), end, number);
    const bool numbered = ec == std::errc() && p == end;
    const int state =
        numbered ? (number >= 1 && number <= static_cast<int>(order.size())
                        ? builder_.state_index(order[number - 1])
                        : -1)
                 : builder_.state_index(r.cmt);
    if (state < 0) {
      fail(r.at[kEventCmt],
           "a CMT from 1 to " + std::to_string(order.size()) + " (" +
               short_name_list(order) + ") or a state name",
           quote_text(r.cmt));
    }
    return state;
  }

  void add_dose(const EventRecord& r, int e, int state, bool at_start) {
    if (state < 0) {
      state = settings_.dose_state.empty()
                  ? 0
                  : builder_.state_index(settings_.dose_state);
    }
    const std::string& name = builder_.states()[state];
    const std::string amount = shortest_text(r.amount);
    std::optional<std::string> duration;
    if (r.rate > 0.0) duration = shortest_text(r.amount / r.rate);
    if (r.duration > 0.0) duration = shortest_text(r.duration);
    const std::size_t at =
        r.at[kEventAmt] != 0 ? r.at[kEventAmt] : r.at[kEventTime];
    int first = 0;
    if (r.steady_state > 0) {
      refuse_conversion(r.at[kEventSs],
                        "a steady-state record (SS " +
                            std::to_string(r.steady_state) +
                            ") has no equivalent in a dose table");
    }
    const auto duration_view = [&] {
      return duration ? std::optional<std::string_view>(*duration)
                      : std::nullopt;
    };
    if (r.steady_state > 0 && !at_start) {
      placed(r.at[kEventSs], [&] {
        builder_.add_steady_dose(e, name, shortest_text(r.time), amount,
                                 duration_view(), r.interval,
                                 r.steady_state == 2);
      });
      ++summary_.doses;
      first = 1;
    } else if (r.steady_state > 0) {
      placed(r.at[kEventSs], [&] {
        builder_.set_steady_start(
            e, name, amount,
            duration ? std::optional<std::string_view>(*duration)
                     : std::nullopt,
            r.interval, r.steady_state == 2);
      });
      // A bolus is part of the steady state; an infusion still runs.
      if (!duration) first = 1;
    }
    for (int k = first; k <= r.additional; ++k) {
      const double time = r.time + k * r.interval;
      placed(at, [&] {
        if (time == 0.0 && !duration && !lagged_[e]) {
          builder_.add_to_x0(e, name, amount);
        } else {
          builder_.add_dose(e, name, shortest_text(time), amount,
                            duration
                                ? std::optional<std::string_view>(*duration)
                                : std::nullopt);
        }
      });
      if (trace_ != nullptr) {
        trace_->doses.push_back({builder_.experiment_ids()[e],
                                 shortest_text(time), name, amount, duration});
      }
      ++summary_.doses;
    }
  }

  int observable(const EventRecord& r) const {
    const std::vector<std::string>& names = builder_.observables();
    if (r.dvid.empty()) {
      if (names.size() == 1) return 0;
      fail(r.at[kEventDv],
           "a DVID naming one of the observables (" + short_name_list(names) +
               ")",
           "none");
    }
    int number = 0;
    const char* end = r.dvid.data() + r.dvid.size();
    const auto [p, ec] = std::from_chars(r.dvid.data(), end, number);
    const int o = ec == std::errc() && p == end
                      ? (number >= 1 && number <= static_cast<int>(names.size())
                             ? number - 1
                             : -1)
                      : builder_.observable_index(r.dvid);
    if (o < 0) {
      fail(r.at[kEventDvid],
           "a DVID from 1 to " + std::to_string(names.size()) + " (" +
               short_name_list(names) + ") or an observable name",
           quote_text(r.dvid));
    }
    return o;
  }

  void add_measurement(const EventRecord& r, int e) {
    const int o = observable(r);
    placed(r.at[kEventDv],
           [&] { builder_.add_measurement(e, o, r.time, *r.dv); });
    if (trace_ != nullptr) {
      trace_->measurements.push_back({builder_.experiment_ids()[e],
                                      builder_.observables()[o], r.time,
                                      *r.dv});
    }
    ++summary_.measurements;
  }

  const TextFile& file_;
  const EventTable& table_;
  const EventSettings& settings_;
  const std::vector<bool>& lagged_;
  ProblemBuilder& builder_;
  EventTrace* trace_;                      // may be null
  std::unordered_map<int, State> states_;  // by experiment
  EventSummary summary_;
};

}  // namespace

std::string event_experiment_id(std::string_view id) {
  return is_valid_name(id) ? std::string(id) : "ID" + std::string(id);
}

void add_event_experiments(const TextFile& file, const EventTable& table,
                           ProblemBuilder& builder) {
  for (const std::string& id : table.ids) {
    const std::string name = event_experiment_id(id);
    if (builder.experiment_index(name) >= 0) continue;
    if (!is_valid_name(name)) {
      std::size_t at = 0;
      for (const EventRecord& r : table.records) {
        if (r.id == id) {
          at = r.at[kEventId];
          break;
        }
      }
      throw input_error(file.pos(at),
                        "an ID of letters, digits and \"_\" (an experiment)",
                        quote_text(id));
    }
    builder.add_experiment(name);
  }
}

EventSummary add_events(const TextFile& file, const EventTable& table,
                        const EventSettings& settings,
                        const std::vector<bool>& lagged,
                        ProblemBuilder& builder, EventTrace* trace) {
  return Translator(file, table, settings, lagged, builder, trace).run();
}

}  // namespace identify
