// How a fit ended, in one record that every method fills the same way, and
// the one line that tells the user (the verdict), built from it in one
// place. The exit code follows from the termination alone (src/app).
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "fit/objective.h"

namespace identify {

enum class Termination {
  kToleranceReached,  // residual norm <= epsilon
  kOptimumReached,    // a library's convergence test: a (local) optimum
  kDiverged,          // residual norm not finite
  kStalled,           // a descent step left θ unchanged to the last bit
  kNoProgress,        // best norm flat for `patience` iterations
  kIterationLimit,    // --max-iter reached
  kLibraryFailure,    // a library run ended without reaching an optimum
  kInterrupted,       // SIGINT or SIGTERM
};

struct Summary {
  Termination termination = Termination::kToleranceReached;
  std::string method;  // "descent", "lm", "lbfgsb"
  // A library method: its verdicts name it and end with the model calls.
  bool library = false;
  // The library's test that fired, or why it failed, with its numbers
  // ("function tolerance reached: |cost_change|/cost: 3.5e-13 <= 1e-12");
  // empty where the monitor or the method itself ended the run, except
  // that a method may add what it found at an iteration limit or no-progress
  // stop (lbfgsb: what a Gauss–Newton step would still give).
  std::string message;
  std::int64_t iterations = 0;  // progress lines printed
  bool has_best = false;        // some iteration finished
  // Residual norm sqrt(S) of the result θ (NaN: not known), or −2 ln L
  // when `likelihood`, and the iteration it belongs to (0 also when no
  // iteration finished).
  double norm = std::numeric_limits<double>::quiet_NaN();
  std::int64_t best_iteration = 0;
  double start_norm = std::numeric_limits<double>::quiet_NaN();
  bool likelihood = false;    // `norm` and `start_norm` are −2 ln L
  ObjectiveCounts counts;     // model calls and the time spent in them
  double seconds = 0.0;       // wall time of the fit
  int signal = 0;             // of kInterrupted
  std::vector<double> theta;  // the result: one value per parameter
  // The settings the wording names.
  double epsilon = 0.0;
  double min_improvement = 0.0;
  // Iterations since the best norm last improved enough (kNoProgress).
  std::int64_t stale_iterations = 0;
  double step = 0.0;  // the descent's step; 0 for the library methods
  // What θ is called ("the start matrix", "left the matrix unchanged") and
  // what to check when the start's norm is not finite.
  std::string subject = "matrix";
  std::string overflow_hint = "T, x0, amp and rate";
};

// The verdict line for stderr (without the program name); empty when the
// run reached its tolerance. Numbers in the console's %g, zeros without
// sign, counts agreeing with their nouns:
//   "no progress: the best residual norm 0.441766 (iteration 567) has not
//    improved by a relative 1e-09 in 10000 iterations; epsilon 0.001 not
//    reached"
//   "converged: lm: function tolerance reached: ..., sum of squares 4.28601
//    after 17 iterations; 19 model evaluations, 14 Jacobians"
std::string verdict(const Summary& summary);

// Why the run stopped, for the fit report: the verdict, or for a run that
// reached its tolerance "converged: residual norm <norm> <= epsilon <e> at
// iteration <i>".
std::string stop_text(const Summary& summary);

// "; 19 model evaluations, 1 Jacobian, 2 gradients": the model calls of a
// fit, each count agreeing with its noun; gradients only when there were
// any.
std::string counts_text(const ObjectiveCounts& counts);

// "ITERATION NUMBER = " block that closes every run.
void print_iteration_count(std::ostream& out, std::int64_t iterations);

}  // namespace identify
