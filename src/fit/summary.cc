// The verdict of a run, from its Summary alone. A run that did not reach its
// tolerance names the stop that fired and what is written: the best residual
// norm and its iteration compared with epsilon, or, when no iteration
// finished, the start. A library method's verdict starts with its name and
// ends with its model calls; one whose convergence test fired has reached a
// (local) optimum and says so first ("converged: lm: ...").
#include "fit/summary.h"

#include <cmath>
#include <ostream>
#include <sstream>

#include "fit/wording.h"

namespace identify {

namespace {

// What the run measured its iterates by.
std::string measure_name(const Summary& s) {
  return s.likelihood ? "-2 ln L" : "residual norm";
}

// "best residual norm X (iteration k)", or what is written when no
// iteration finished.
std::string best_text(const Summary& s) {
  if (s.has_best) {
    return "best " + measure_name(s) + " " + number_text(s.norm) +
           " (iteration " + std::to_string(s.best_iteration) + ")";
  }
  std::string text = "no iteration finished; the start " + s.subject;
  if (std::isfinite(s.start_norm)) {
    text += " (" + measure_name(s) + " " + number_text(s.start_norm) + ")";
  }
  return text;
}

// What is written, and how it compares with the tolerance (−2 ln L has
// none).
std::string short_of(const Summary& s) {
  return s.has_best && !s.likelihood
             ? best_text(s) + " > epsilon " + number_text(s.epsilon)
             : best_text(s) + " is written";
}

// A norm that is not finite after `iterations` progress lines.
std::string diverged_text(const Summary& s) {
  if (s.iterations <= 1) {
    // The start itself: no step was taken, so none can be blamed.
    return "diverged: the " + measure_name(s) + " of the start " + s.subject +
           " is not finite, so no step was tried: the model overflows there "
           "(check " +
           s.overflow_hint +
           (s.step > 0.0 ? "" : ", and the fixed and bounded entries") +
           "); the start " + s.subject + " is written";
  }
  std::string text =
      "diverged: the " + measure_name(s) + " is not finite at iteration " +
      std::to_string(s.iterations - 1) + "; " + best_text(s) + " written";
  if (s.step > 0.0) {
    text += "; try a smaller descent step than " + number_text(s.step);
  }
  return text;
}

std::string interrupted_text(const Summary& s) {
  std::string text = "interrupted by signal " + std::to_string(s.signal);
  if (s.has_best) {
    return text + " after " +
           count_text(s.iterations, "iteration", "iterations") + "; " +
           best_text(s) + " written";
  }
  return text + " before the first iteration finished; the start " + s.subject +
         " is written";
}

// A library's message names the fitted point "{subject}": the front end's
// word for it (Summary::subject) goes there.
std::string with_subject(std::string message, const std::string& subject) {
  const std::string mark = "{subject}";
  for (std::size_t at; (at = message.find(mark)) != std::string::npos;) {
    message.replace(at, mark.size(), subject);
  }
  return message;
}

// The verdict without the method's name and model calls.
std::string stop_words(const Summary& s) {
  std::ostringstream out;
  switch (s.termination) {
    case Termination::kToleranceReached:
      return "";
    case Termination::kOptimumReached:
      return s.message +
             (s.likelihood
                  ? ", -2 ln L " + number_text(s.norm)
                  : ", sum of squares " + number_text(s.norm * s.norm)) +
             " after " + count_text(s.iterations, "iteration", "iterations");
    case Termination::kDiverged:
      return diverged_text(s);
    case Termination::kStalled:
      out << "stalled: the step of iteration " << s.iterations - 1
          << " left the " << s.subject << " unchanged; " << short_of(s);
      break;
    case Termination::kNoProgress:
      out << "no progress: the " << best_text(s)
          << " has not improved by a relative "
          << number_text(s.min_improvement) << " in "
          << count_text(s.stale_iterations, "iteration", "iterations");
      if (!s.likelihood) {
        out << "; epsilon " << number_text(s.epsilon) << " not reached";
      }
      if (!s.message.empty()) out << "; " << s.message;
      break;
    case Termination::kIterationLimit:
      out << "iteration limit reached: "
          << count_text(s.iterations, "iteration", "iterations") << "; "
          << short_of(s);
      if (!s.message.empty()) out << "; " << s.message;
      break;
    case Termination::kLibraryFailure:
      out << with_subject(s.message, s.subject) << "; " << short_of(s);
      break;
    case Termination::kInterrupted:
      return interrupted_text(s);
  }
  return out.str();
}

}  // namespace

std::string verdict(const Summary& summary) {
  if (summary.termination == Termination::kToleranceReached) return "";
  std::string text = stop_words(summary);
  if (!summary.library) return text;
  text = summary.method + ": " + text + counts_text(summary.counts);
  if (summary.termination == Termination::kOptimumReached) {
    text = "converged: " + text;
  }
  return text;
}

std::string stop_text(const Summary& summary) {
  if (summary.termination != Termination::kToleranceReached) {
    return verdict(summary);
  }
  return "converged: residual norm " + number_text(summary.norm) +
         " <= epsilon " + number_text(summary.epsilon) + " at iteration " +
         std::to_string(summary.best_iteration);
}

std::string counts_text(const ObjectiveCounts& counts) {
  std::string text =
      "; " +
      count_text(counts.evaluations, "model evaluation", "model evaluations") +
      ", " + count_text(counts.jacobians, "Jacobian", "Jacobians");
  if (counts.gradients > 0) {
    text += ", " + count_text(counts.gradients, "gradient", "gradients");
  }
  return text;
}

void print_iteration_count(std::ostream& out, std::int64_t iterations) {
  out << std::endl << std::endl;
  out << "ITERATION NUMBER = " << iterations << std::endl << std::endl;
}

}  // namespace identify
