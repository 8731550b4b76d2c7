// The lines of the evaluation report, in a fixed order.
#include "output/evaluation_report.h"

#include <cstdio>

namespace identify {

std::string format_evaluation(const PointEvaluation& evaluation) {
  std::string text;
  const auto line = [&text](const char* name, double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s\t%.17g\n", name, v);
    text += buffer;
  };
  line("objective", evaluation.objective);
  line("chi2", evaluation.chi2);
  line("llh", evaluation.llh);
  line("minus_2_ln_L", evaluation.minus_2_ln_l);
  return text;
}

}  // namespace identify
