#include "identify/fit.h"

namespace identify {

Result fit(const Problem&, const FitOptions& options, const Callbacks&) {
  options.validate();
  return {};
}

}  // namespace identify
