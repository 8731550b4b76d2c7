// The ProfileRunner of a run: the re-fit of the others with one parameter
// held is a fit by a library method (lm or lbfgsb) on the worker's own
// model, from the previous profile point.
#pragma once

#include <memory>
#include <ostream>
#include <vector>

#include "fit/fit_setup.h"
#include "fit/profile/profiles.h"

namespace identify {

class MethodProfileRunner : public ProfileRunner {
 public:
  // `setup`: method lm or lbfgsb, `free` the parameters it fits, `base` the
  // optimum θ. Each re-fit minimises S fully (epsilon 0, no iteration
  // limit), quietly, with the run's interrupt. Makes the worker's model.
  explicit MethodProfileRunner(const FitSetup& setup);

  double reoptimise(int j, double x, std::span<const double> start,
                    std::vector<double>& others) override;

 private:
  const FitSetup& setup_;
  std::unique_ptr<Model> model_;
  MonitorSettings settings_;
  std::ostream silent_{nullptr};
};

}  // namespace identify
