// One line per experiment's fit: its id, the objective at its result and
// the iterations that led there.
#include "api/experiment_line.h"

#include <sstream>

namespace identify {

std::string experiment_line(const ProblemFit& fit) {
  std::ostringstream line;
  line.precision(6);
  line << "experiment " << fit.experiment << ": "
       << (fit.summary.likelihood ? "-2 ln L " : "norm ") << fit.summary.norm
       << " after " << fit.summary.iterations
       << (fit.summary.iterations == 1 ? " iteration" : " iterations");
  return line.str();
}

}  // namespace identify
