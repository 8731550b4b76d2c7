// A model of a FitProblem's measurements as a function of its parameters θ.
// Fit methods see only this interface (through the Objective): the
// simulated observable at every measurement, its Jacobian with respect to
// θ, and weighted sums of that Jacobian, never how the solution is computed.
//
// θ holds one value per parameter of the problem, unscaled, in the
// problem's parameter order; derivatives are with respect to every
// parameter, estimated or not (the caller picks the columns it moves).
//
// No hidden state between calls: evaluate() puts into the Evaluation
// everything that jacobian() and gradient() need, so they may be called
// for any earlier Evaluation in any order. A model may keep working storage
// between calls (sized once, so that a call allocates nothing); it is
// therefore not shared between threads: each thread has its own model.
#pragma once

#include <atomic>
#include <span>
#include <vector>

#include "core/table.h"
#include "model/stop_flag.h"

namespace identify {

struct Evaluation {
  std::vector<double> theta;  // the θ evaluated at
  // y[m]: the simulated observable of measurement m, in problem order.
  std::vector<double> y;
  // Model-specific intermediate results at θ (states at event times, say).
  std::vector<double> cache;
};

class Model {
 public:
  virtual ~Model() = default;

  // Simulated observables at θ into `out` (θ copied into out.theta).
  // Non-finite results are reported as they come (inf, NaN), never thrown.
  virtual void evaluate(std::span<const double> theta, Evaluation& out) = 0;

  // J[m][k] = ∂y_m/∂θ_k at at.theta: measurements × parameters. J is
  // reshaped if it does not have that shape.
  virtual void jacobian(const Evaluation& at, Table& J) = 0;

  // g[k] = sum over m of w[m]·∂y_m/∂θ_k at at.theta, w one weight per
  // measurement, g one entry per parameter. With w = 2·r/sigma this is the
  // gradient of the weighted sum of squares through y.
  virtual void gradient(const Evaluation& at, std::span<const double> w,
                        std::span<double> g) = 0;

  // The states of experiment `experiment` at θ at the given times (>= 0,
  // ascending): X[i][q] = x_i(times[q]). X is reshaped to N × times.size().
  // Meant for output after a fit; may allocate.
  virtual void states(std::span<const double> theta, int experiment,
                      std::span<const double> times, Table& X) = 0;

  // Lets evaluate(), jacobian() and gradient() end early: once *flag is
  // nonzero a call returns soon (within kStopCheckInterval grid steps, or
  // one sample time), its outputs incomplete. Null (the default): never.
  void set_stop_flag(const std::atomic<int>* flag) { stop_flag_ = flag; }
  const std::atomic<int>* stop_flag() const { return stop_flag_; }
  // True when the stop flag is set. Checked after a call, it says that the
  // call may have ended early: its outputs are to be discarded.
  bool stop_requested() const { return identify::stop_requested(stop_flag_); }

 private:
  const std::atomic<int>* stop_flag_ = nullptr;
};

}  // namespace identify
