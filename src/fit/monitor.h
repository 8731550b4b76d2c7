// What every fit method does once per iteration, in one place: the progress
// line "<norm>:   COUNT = <c>" on the console, the --history line, the
// plot's NormTrace, the tolerance test (norm <= epsilon), the best θ seen,
// and the stops that end a run short of its tolerance (iteration limit, no
// progress, interrupt). The norm is the residual norm sqrt(S), or, for an
// objective that is −2 ln L (see objective.h), that objective itself: it
// may be negative, and then there is no tolerance to reach. A method
// calls the monitor once per iteration and ends when it says so; the
// methods add the stops only they can see (a norm that is not finite, a
// step that changes nothing). Storage for θ is sized in the constructor;
// no call allocates.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fit/norm_trace.h"
#include "fit/summary.h"

namespace identify {

struct MonitorSettings {
  double epsilon = 0.0;             // tolerance on the residual norm
  std::int64_t max_iter = 0;        // 0: no limit
  std::int64_t patience = 10000;    // iterations without improvement; 0: off
  double min_improvement = 1e-9;    // relative improvement that counts
  bool quiet = false;               // no progress lines
  std::ostream* history = nullptr;  // "iteration,residual_norm" lines
  NormTrace* trace = nullptr;       // residual norm per iteration, for plots
  // Set asynchronously by a signal handler: 0 none, else the signal number.
  const std::atomic<int>* interrupt = nullptr;
  // Told of every closed iteration, before the stops are tested: the label
  // below, the iteration's count (from 0, as in the progress line), the
  // value shown and whether it is −2 ln L. It may be called from several
  // threads at once; a hook that wants the fit to stop sets `interrupt`.
  const std::function<void(const std::string& label, std::int64_t count,
                           double shown, bool likelihood)>* on_iteration =
      nullptr;
  const std::string* label = nullptr;  // the fit's name for on_iteration
  // What the directions of the unknowns are named in the words about what
  // the data determine: "A" (the legacy files' matrix), "the parameters".
  std::string unknowns = "A";
};

class Monitor {
 public:
  // `parameters`: the size of θ.
  Monitor(const MonitorSettings& settings, std::ostream& out,
          std::size_t parameters);

  const MonitorSettings& settings() const { return settings_; }

  // The values given are −2 ln L, not residual norms: the tolerance test
  // never fires, and the summary says which it is.
  void set_likelihood(bool likelihood) { likelihood_ = likelihood; }
  bool likelihood() const { return likelihood_; }

  // The θ the run starts from and its residual norm (NaN: not known).
  // Until an iteration is observed this is what the run returns, so a run
  // that ends before any iteration finished returns its start.
  void set_start(std::span<const double> theta, double norm);

  // The tolerance test of the current iterate: true when norm <= epsilon
  // (never for −2 ln L), and then the run has ended with θ as its result
  // (no progress line).
  bool tolerance_reached(double norm, std::span<const double> theta);

  // Notes the current iterate; keeps a copy of θ when its norm is the
  // lowest so far (a finite norm beats NaN).
  void observe(double norm, std::span<const double> theta);

  // Closes the current iteration: the progress line and the history line
  // show `shown`, the trace records it, the count goes up, and unless the
  // run has already ended the stops are tested in the order interrupt,
  // iteration limit, no progress. False once the run has ended.
  bool end_iteration(double shown);

  // All of one library iteration: tolerance_reached, then observe and
  // end_iteration showing the norm, or the lowest norm so far when
  // `show_best`. False once the run has ended.
  bool iterate(double norm, std::span<const double> theta, bool show_best);

  // A line of its own among the progress lines (unless quiet): something
  // the method found out during the run.
  void note(const std::string& line);

  // Ends the run for `reason` unless it has ended already.
  void stop(Termination reason);

  bool stopped() const { return reason_.has_value(); }
  const std::optional<Termination>& reason() const { return reason_; }
  // Iterations closed: the progress lines printed.
  std::int64_t iterations() const { return count_; }
  bool has_best() const { return has_best_; }
  double best_norm() const { return best_norm_; }
  std::int64_t best_iteration() const { return best_iteration_; }
  double start_norm() const { return start_norm_; }
  // The signal number of an interrupt, 0 if none.
  int signal() const;

  // The summary of the run as far as the monitor saw it: its own reason,
  // or when it did not end the run, `method_end` with its `message`; the
  // result θ is the iterate that reached the tolerance, otherwise the best
  // one seen (the start if none was). The method adds its name, its model
  // calls and its times.
  Summary summary(Termination method_end, std::string message) const;

 private:
  // The stop of the rules after `count_` iterations, if any.
  std::optional<Termination> check() const;

  const MonitorSettings& settings_;
  std::ostream& out_;
  std::int64_t count_ = 0;
  std::optional<Termination> reason_;
  bool likelihood_ = false;
  std::vector<double> best_;  // the best θ, or the start
  bool has_best_ = false;
  double start_norm_ = std::numeric_limits<double>::quiet_NaN();
  double best_norm_ = 0.0;
  std::int64_t best_iteration_ = 0;
  std::vector<double> converged_;  // θ that reached the tolerance
  double converged_norm_ = 0.0;
  // The no-progress window: the best norm when it last improved by the
  // relative min_improvement, and the iteration of that improvement.
  double window_norm_ = 0.0;
  std::int64_t window_start_ = 0;
};

}  // namespace identify
