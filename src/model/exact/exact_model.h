// The model of a FitProblem in closed form: each experiment's states at the
// exact measurement times through matrix exponentials of its augmented
// system z' = B z (augmented_system.h), y = c·x + d, with exact derivatives
// with respect to every parameter from the Fréchet derivative of the
// exponential. No time grid: a measurement at time t sees x(t) itself, to
// rounding, however stiff the system.
//
// Costs per experiment with m augmented states, T distinct measurement
// times and R distinct (time, observable) pairs: evaluate() T exponentials
// of m×m; gradient() T Fréchet derivatives; jacobian() R Fréchet
// derivatives, whatever the number of parameters (each about three
// exponentials, O(m³)), plus the chain rule through the expressions.
//
// The solution runs from event to event: the state z(τ_e) at each event
// and its sensitivity S_e = dz(τ_e)/dθ, each measurement taken from the
// last event at or before it, x(t) = top of exp(B·(t − τ_e))·z(τ_e). The
// only event is t = 0 (z = (x0, amp), S_0 = ∂z(0)/∂θ): doses, which would
// add events, are not modelled yet, and a problem with doses is refused.
//
// All working storage is sized in the constructor: evaluate(), jacobian()
// and gradient() allocate nothing once their outputs have the right shape.
#pragma once

#include <Eigen/Core>
#include <cstddef>
#include <span>
#include <vector>

#include "core/table.h"
#include "model/exact/augmented_system.h"
#include "model/exact/matrix_exponential.h"
#include "model/exact/sample_schedule.h"
#include "model/model.h"
#include "problem/fit_problem.h"

namespace identify {

class ExactModel : public Model {
 public:
  // Copies what it needs of `problem` and keeps no reference to it. Throws
  // ProblemError if an experiment has doses.
  explicit ExactModel(const FitProblem& problem);

  // y, and in out.cache each experiment's event states z(τ_e) (m each)
  // followed by its states x(t_i) at its distinct times (N each).
  void evaluate(std::span<const double> theta, Evaluation& out) override;
  void jacobian(const Evaluation& at, Table& J) override;
  void gradient(const Evaluation& at, std::span<const double> w,
                std::span<double> g) override;
  void states(std::span<const double> theta, int experiment,
              std::span<const double> times, Table& X) override;

 private:
  // Working storage for one augmented size m, shared by the experiments of
  // that size.
  struct Workspace {
    explicit Workspace(int m);
    int m;
    MatrixExponential expm;
    Eigen::MatrixXd scaled;       // s·B or s·Bᵀ
    Eigen::MatrixXd propagator;   // its exponential
    Eigen::MatrixXd weight;       // W of the Fréchet derivative
    Eigen::MatrixXd frechet;      // L(s·Bᵀ, W)
    Eigen::MatrixXd accumulated;  // sum of s·L(s·Bᵀ, W) over times
    // S_e on the sensitive parameters of a part: m × (the most of them
    // among the parts of this size).
    Eigen::MatrixXd sensitivity;
    Eigen::VectorXd weights;      // a: weights of the states at one time
    Eigen::VectorXd adjoint;      // exp(s·Bᵀ)·a
    Eigen::VectorXd adjoint_sum;  // its sum over the times of one event
  };
  // One experiment.
  struct Part {
    Part(const FitProblem& problem, int experiment)
        : system(problem, experiment),
          schedule(problem.experiments[experiment]) {}
    AugmentedSystem system;
    SampleSchedule schedule;
    int workspace = 0;
    std::size_t first_measurement = 0;  // in problem order
    std::size_t cache_offset = 0;       // of its event states
    std::size_t states_offset = 0;      // of its x(t_i)
    // The events: times, and the distinct times sampled from each,
    // segment_start[e] .. segment_start[e + 1] − 1.
    std::vector<double> event_times;
    std::vector<int> segment_start;
    // The parameters the event states depend on, ascending: column c of
    // ws.sensitivity is the derivative with respect to sensitive[c].
    std::vector<int> sensitive;
  };

  // z(τ_e) for every event of p at the θ loaded into its system, m each.
  void event_states(const Part& p, double* z) const;
  // S_e = dz(τ_e)/dθ on p's sensitive parameters at the θ loaded with
  // gradients, into ws.sensitivity.
  void event_sensitivity(const Part& p, int event, Workspace& ws) const;
  // g[k] += (∂z(τ_e)/∂θ_k)·v for the sensitive parameters k of p.
  void add_sensitivity_product(const Part& p, const Workspace& ws,
                               const Eigen::VectorXd& v,
                               std::span<double> g) const;
  // x = x(τ + s) from z = z(τ): top of exp(s·B)·z, z's top when s = 0.
  void state_at(const Part& p, Workspace& ws, double s,
                Eigen::Map<const Eigen::VectorXd> z, double* x);
  // For a = ws.weights and s > 0: ws.adjoint = exp(s·Bᵀ)·a (the
  // derivative of a·z(τ + s) with respect to z(τ)) and ws.frechet =
  // s·L(s·Bᵀ, a·zᵀ) (its derivative with respect to B).
  void adjoint_at(const Part& p, Workspace& ws, double s,
                  Eigen::Map<const Eigen::VectorXd> z);
  // Row `row` (P entries, zero on entry) of the Jacobian: ∂y/∂θ for
  // observable o at τ_e + s, with z = z(τ_e), x = x(τ_e + s) and S_e in
  // ws.sensitivity.
  void jacobian_row(Part& p, Workspace& ws, double s, int o,
                    Eigen::Map<const Eigen::VectorXd> z, const double* x,
                    std::span<double> row);
  // Adds into g the gradient of experiment p's weighted measurements.
  void add_gradient(Part& p, const Evaluation& at, std::span<const double> w,
                    std::span<double> g);

  int n_ = 0;           // states
  int parameters_ = 0;  // P
  std::size_t measurements_ = 0;
  std::size_t cache_size_ = 0;
  std::vector<Part> parts_;
  std::vector<Workspace> workspaces_;
  std::vector<double> scratch_;  // the expressions' working storage
  // Per observable o, sums over the weighted measurements of o: of w·x(t)
  // at observed_x_[o·N ..] and of w at observed_w_[o].
  std::vector<double> observed_x_, observed_w_;
};

}  // namespace identify
