// The lm verdict texts. A converged run keeps Ceres' own test and numbers,
// reworded into one lowercase clause; a failed one is described from what
// the cost function saw (trial points or a Jacobian that are not finite) or
// from the last steps (rejected as unusable), with Ceres' termination type
// as the last resort.
#include "fit/lm_words.h"

#include <cctype>
#include <sstream>
#include <vector>

#include "fit/wording.h"

namespace identify {

std::string lm_convergence_text(std::string message) {
  const auto lower = [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  };
  if (!message.empty()) message[0] = lower(message[0]);
  const std::size_t stop = message.find(". ");
  if (stop != std::string::npos) {
    message.replace(stop, 2, ": ");
    if (stop + 2 < message.size()) {
      message[stop + 2] = lower(message[stop + 2]);
    }
  }
  while (!message.empty() && (message.back() == '.' || message.back() == ' ')) {
    message.pop_back();
  }
  return message;
}

std::string lm_failure_text(const ceres::Solver::Summary& summary,
                            const LmTrouble& trouble) {
  const std::vector<ceres::IterationSummary>& steps = summary.iterations;
  const bool unusable = !steps.empty() && steps.back().iteration > 0 &&
                        !steps.back().step_is_valid;
  std::ostringstream s;
  s << "the solver stopped without converging";
  if (trouble.jacobian_not_finite) {
    s << ": the model's Jacobian is not finite at the current {subject}";
  } else if (trouble.not_finite_in_a_row > 0) {
    s << ": its last "
      << count_text(trouble.not_finite_in_a_row, "trial step", "trial steps")
      << (trouble.not_finite_in_a_row == 1 ? " gave a residual norm that is"
                                           : " gave residual norms that are")
      << " not finite";
  } else if (unusable) {
    s << ": its last steps were unusable (the Jacobian at the current {subject} "
         "predicts no lower sum of squares, or the step is not finite)";
  } else {
    s << " (Ceres " << ceres::TerminationTypeToString(summary.termination_type)
      << ")";
  }
  return s.str();
}

}  // namespace identify
