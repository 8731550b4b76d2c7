// The model of a FitProblem in closed form: each experiment's states at the
// exact measurement times through matrix exponentials of its augmented
// system z' = B z (augmented_system.h), y = c·x + d, with exact derivatives
// with respect to every parameter from the Fréchet derivative of the
// exponential. No time grid and no ODE integrator: a measurement at time t
// sees x(t) itself, to rounding, however stiff the system.
//
// Events. The solution runs from event to event: t = 0 (z = (x0, amp, 0))
// and the dose events of dose_schedule.h at τ = base + lag, in time order.
// Where a covariate changes B changes (a matrix phase): that is an event
// with Δz = 0 whose B holds from it on, so each step below and each
// measurement uses the B of the event it starts from, and the derivatives
// carry across the change through S_e alone.
// An event only changes z: a bolus adds its amount to x_i, an infusion's
// start adds its rate r = amount/duration to the input v_i and its end
// takes r away (v_i is set to exactly 0 when the last infusion into it
// ends). Between events z(τ + s) = exp(s·B)·z(τ), and
//
//   z(τ_e) = exp(h_e·B)·z(τ_{e−1}) + Δz_e,   h_e = τ_e − τ_{e−1},
//
// Δz_e = a_e·u_e with u_e the unit vector of the changed entry. A
// measurement at t takes the last event at or before t (e) and
// x(t) = top of exp((t − τ_e)·B)·z(τ_e): a measurement at the very time of
// a bolus (t = time + lag to within 4 ulps, so that 0.3 is the time of a
// dose at 0.2 with lag 0.1) sees the state after the dose, and
// one at the end of an infusion sees x, which is continuous there, without
// any step. Several doses at one time all apply; x0 and a dose at t = 0
// add. Events after the last measurement are not computed: they change no
// output. A dose time plus lag below 0, a time, amount or lag that is not
// finite, or an infusion duration not above 0 (through parameters) gives
// NaN for every output of that experiment.
//
// A steady-state dose is an event that sets x to the periodic steady state
// x̄ of its dose (periodic_steady_state.h) under the A of its time, or adds
// x̄ to it: S_e's rows of x become ∂x̄/∂θ, or gain it, after the terms
// below.
//
// Derivatives. With S_e = dz(τ_e)/dθ, across a step (d/dθ of each factor):
//
//   S_e = F·S_{e−1} + [∂(F·z(τ_{e−1}))/∂B]·∂B/∂θ + B·z⁻_e·∂h_e/∂θ
//         + u_e·∂a_e/∂θ,
//
// F = exp(h_e·B), z⁻_e = F·z(τ_{e−1}) the state just before the event.
// The term in ∂h/∂θ carries the dependence on dose times and lags:
// h_1 = base_1 + lag, h_e = base_e − base_{e−1} after it, and a
// measurement at t has ∂(t − τ_e)/∂θ = −∂τ_e/∂θ. Together they give, for a
// jump Δz at τ seen at t > τ, d/dτ [exp(B(t − τ))·Δz] = −exp(B(t − τ))·B·Δz;
// for an infusion of rate r into x_i (B·u_v = u_i), −r·exp(B(t − τ))·u_i at
// its start and +r·exp(B(t − τ))·u_i at its end. The derivative with
// respect to an event time is one-sided (from above) when a measurement
// falls on that time; everywhere else all derivatives are exact.
// ∂(F·z)/∂B costs one Fréchet derivative per moving row a of z (the
// adjoint identity below with W = u_a·zᵀ), or comes from the directional
// derivatives of interval_cache.h when steps of that length are many.
//
// A measurement of observable o at t = τ_e + s is y = ĉ_o·exp(s·B)·z(τ_e)
// + d_o, and ∂y/∂θ_k has five parts:
//   through B:     ĉ_o·L(s·B, s·∂B/∂θ_k)·z(τ_e), L the Fréchet derivative
//                  of exp; with W = ĉ_o·z(τ_e)ᵀ this is <W, L(s·B, s·Ḃ)>,
//                  and the adjoint identity <W, L(X, E)> = <L(Xᵀ, W), E>
//                  turns it into <G, Ḃ> with G = s·L(s·Bᵀ, W): one
//                  Fréchet derivative gives ∂y/∂B_ij for every entry;
//   through z(τ_e): (exp(s·Bᵀ)·ĉ_o)·S_e[:, k];
//   through τ_e:   −ĉ_o·B·exp(s·B)·z(τ_e)·∂τ_e/∂θ_k;
//   through c, d:  x(t)·∂c_o/∂θ_k + ∂d_o/∂θ_k.
//
// Costs per experiment with m augmented states, E events, T distinct
// measurement times and R distinct (time, observable) pairs: evaluate() E
// + T exponentials of m×m at most, one per distinct step length;
// jacobian() R Fréchet derivatives plus m per event step, fewer where step
// lengths repeat, whatever the number of parameters (each about three
// exponentials, O(m³)), plus the chain rule through the expressions.
//
// All working storage is sized in the constructor: evaluate(), jacobian()
// and gradient() allocate nothing once their outputs have the right shape.
// They look at the stop flag (Model::set_stop_flag) once per distinct
// measurement time (and per event in the derivatives) and return early,
// their outputs incomplete, once it is set.
#pragma once

#include <Eigen/Core>
#include <cstddef>
#include <span>
#include <vector>

#include "core/table.h"
#include "model/exact/augmented_system.h"
#include "model/exact/dose_schedule.h"
#include "model/exact/exponential_memo.h"
#include "model/exact/interval_cache.h"
#include "model/exact/matrix_exponential.h"
#include "model/exact/periodic_steady_state.h"
#include "model/exact/sample_schedule.h"
#include "model/exact/spectral_frechet.h"
#include "model/model.h"
#include "problem/fit_problem.h"

namespace identify {

class ExactModel : public Model {
 public:
  // Copies what it needs of `problem` and keeps no reference to it.
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
    Eigen::MatrixXd work;         // a direction of B
    // S_e on the sensitive parameters of a part, and the next one: m × (the
    // most of them among the parts of this size).
    Eigen::MatrixXd sensitivity, next;
    Eigen::VectorXd weights;      // a: weights of the states at one time
    Eigen::VectorXd adjoint;      // exp(s·Bᵀ)·a
    Eigen::VectorXd adjoint_sum;  // its sum over the times of one event
    Eigen::VectorXd state;        // z⁻ before an event, or z at a time
    Eigen::VectorXd slope;        // B times it
    // The derivatives of the sample rows from B's eigendecomposition, for
    // a part with many parameters in B whose decomposition is accepted
    // (spectral_on); the Padé form otherwise.
    SpectralFrechet spectral;
    bool spectral_on = false;
    // exp(s·B) of the sample times of evaluate(), shared by the
    // experiments of this size whose B is the same.
    ExponentialMemo exponentials;
  };
  // The number of parameters of B from which the sample rows of the
  // Jacobian come from the eigendecomposition (spectral_frechet.h): one
  // Fréchet derivative costs about as much as the real m×m×m product of a
  // row there once B has this many.
  static constexpr std::size_t kSpectralParameters = 64;
  // From this many Jacobian entries (measurements × parameters) the parts
  // of a model without events or phases share their rows between two
  // threads: the parts are independent, each row is computed whole by one
  // thread, and the entries are the same doubles whichever computes them.
  static constexpr std::size_t kThreadedEntries = 200000;
  // One experiment.
  struct Part {
    Part(const FitProblem& problem, int experiment);
    // B from t = 0, and after each covariate change of the experiment
    // (its phases: B piecewise constant, and no interval cache).
    AugmentedSystem system;
    std::vector<AugmentedSystem> phases;
    SampleSchedule schedule;
    DoseSchedule doses;
    IntervalCache intervals;
    int workspace = 0;
    int events = 1;                     // t = 0 and the dose events
    std::size_t first_measurement = 0;  // in problem order
    std::size_t cache_offset = 0;       // of its event states
    std::size_t states_offset = 0;      // of its x(t_i)
    // The parameters the event states depend on, ascending: column c of
    // ws.sensitivity is the derivative with respect to sensitive[c], and
    // column[k] is the column of parameter k (-1 if none).
    std::vector<int> sensitive;
    std::vector<int> column;
    // Of one pass at the θ loaded: h_e (interval[0] unused), the event
    // of each distinct time and its offset from it (kept only where there
    // are dose events: else event 0 and the time itself), and the events
    // up to the last time.
    std::vector<double> interval;
    std::vector<int> segment;
    std::vector<double> offset;
    int segment_at(std::size_t i) const {
      return segment.empty() ? 0 : segment[i];
    }
    double offset_at(std::size_t i) const {
      return offset.empty() ? schedule.times[i] : offset[i];
    }
    int used = 1;
    // The phase in effect after each event (0: system).
    std::vector<int> phase_of;
    // The system whose B holds from event e to the next.
    const AugmentedSystem& system_at(int e) const {
      return phase_of[e] == 0 ? system : phases[phase_of[e] - 1];
    }
  };

  // For ascending `times`: the last event at or before each time and the
  // offset from it, h_e for every event, and the steps into p.intervals;
  // returns the number of events up to the last time (1 without times).
  int plan(Part& p, std::span<const double> times, std::span<int> segment,
           std::span<double> offset);
  // p.system and p.doses loaded at θ (with gradients or not) and the pass
  // planned; false if the doses cannot be given at θ.
  bool prepare(Part& p, std::span<const double> theta, bool with_gradients,
               std::vector<double>& scratch);
  bool prepare(Part& p, std::span<const double> theta, bool with_gradients) {
    return prepare(p, theta, with_gradients, scratch_);
  }
  // The rows of part p, with the working storage given.
  void jacobian_part(Part& p, Workspace& ws, std::vector<double>& scratch,
                     const Evaluation& at, Table& J);
  // The first part of the second thread's share of the Jacobian, or the
  // number of parts where one thread does it all (see kThreadedRows).
  std::size_t threaded_split() const;
  // z(τ_e) for the first `used` events of p at the θ loaded, m each.
  void event_states(Part& p, Workspace& ws, int used, double* z);
  // S_0 into ws.sensitivity, and S_e from S_{e−1} (e >= 1) with z the
  // event states.
  void start_sensitivity(const Part& p, Workspace& ws) const;
  void advance_sensitivity(Part& p, Workspace& ws, int e, const double* z);
  // A steady-state event e (>= 1): z's x becomes, or gains, the periodic
  // steady state of its dose under the A of that time (NaN where none
  // exists); and the same change to S_e in ws.next.
  void apply_steady(const Part& p, int e, Eigen::Map<Eigen::VectorXd> z);
  void steady_sensitivity(const Part& p, Workspace& ws, int e);
  // ws.next += the B part of S_e across a step of length h from z.
  void add_step_derivative(Part& p, Workspace& ws, int e, double h,
                           Eigen::Map<const Eigen::VectorXd> z);
  // f(parameter, ∂h_e/∂θ) and f(parameter, ∂τ_e/∂θ) for e >= 1.
  template <typename F>
  void interval_derivative(const Part& p, int e, const F& f) const;
  template <typename F>
  void time_derivative(const Part& p, int e, const F& f) const;
  // g[k] += (∂z(τ_e)/∂θ_k)·v for the sensitive parameters k of p.
  void add_sensitivity_product(const Part& p, const Workspace& ws,
                               const Eigen::VectorXd& v,
                               std::span<double> g) const;
  // x = x(τ_e + s) from z = z(τ_e): top of exp(s·B)·z, z's top when
  // s = 0.
  void state_at(Part& p, Workspace& ws, int e, double s,
                Eigen::Map<const Eigen::VectorXd> z, double* x);
  // For a = ws.weights and s > 0: ws.adjoint = exp(s·Bᵀ)·a (the
  // derivative of a·z(τ + s) with respect to z(τ)), ws.state = z(τ + s)
  // when `full`, and either ws.frechet = s·L(s·Bᵀ, a·zᵀ) (its derivative
  // with respect to B; returns -1) or, when the length s has directional
  // derivatives, nothing more (returns its slot: the derivative with
  // respect to θ_c is a·D_c·z).
  int adjoint_at(Part& p, Workspace& ws, int e, double s,
                 Eigen::Map<const Eigen::VectorXd> z, bool full);
  // g[k_c] += a·D_c·z over the parameters θ_c of B for a slot with
  // directions, a = ws.weights.
  void add_directional(Part& p, const Workspace& ws, int slot,
                       Eigen::Map<const Eigen::VectorXd> z,
                       std::span<double> g) const;
  // Row `row` (P entries, zero on entry) of the Jacobian: ∂y/∂θ for
  // observable o at τ_e + s, with z = z(τ_e), x = x(τ_e + s) and S_e in
  // ws.sensitivity.
  void jacobian_row(Part& p, Workspace& ws, int e, double s, int o,
                    Eigen::Map<const Eigen::VectorXd> z, const double* x,
                    std::span<double> row);
  // The rows of experiment p at its distinct times [begin, end), those of
  // event e.
  void jacobian_segment(Part& p, Workspace& ws, int e, int begin, int end,
                        const Evaluation& at, Table& J);
  // Adds into g the gradient of experiment p's weighted measurements.
  void add_gradient(Part& p, const Evaluation& at, std::span<const double> w,
                    std::span<double> g);
  // Adds into g the part of p's distinct times [begin, end), those of
  // event e.
  void add_segment_gradient(Part& p, Workspace& ws, int e, int begin, int end,
                            const Evaluation& at, std::span<const double> w,
                            std::span<double> g);
  // The end of the distinct times of p's event e that start at `begin`.
  static int segment_end(const Part& p, int e, int begin);

  int n_ = 0;           // states
  int parameters_ = 0;  // P
  std::size_t measurements_ = 0;
  std::size_t cache_size_ = 0;
  std::vector<Part> parts_;
  std::vector<Workspace> workspaces_;
  std::vector<double> scratch_;  // the expressions' working storage
  // The second thread's copies of both, made at its first use.
  std::vector<Workspace> helper_workspaces_;
  std::vector<double> helper_scratch_;
  std::vector<double> row_;  // one entry per parameter
  // Per observable o, sums over the weighted measurements of o: of w·x(t)
  // at observed_x_[o·N ..] and of w at observed_w_[o].
  std::vector<double> observed_x_, observed_w_;
  // Steady-state doses: the solver (N states), A, x̄ and a derivative, a
  // direction of B, and ∂amount/∂θ, ∂duration/∂θ by parameter.
  PeriodicSteadyState steady_;
  Eigen::MatrixXd steady_matrix_, direction_;
  Eigen::VectorXd steady_x_, steady_dx_;
  std::vector<double> d_amount_, d_duration_;
};

}  // namespace identify
