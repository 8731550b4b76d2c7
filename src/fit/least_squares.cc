// Bounded least squares for A. The unknowns u are the entries of A that are
// neither fixed nor confined to a one-point interval; the residuals are
// r(u) = M(A(u)) − d over every sample, and both methods minimise
// S(u) = sum r² subject to l <= u <= h. The libraries see scaled unknowns
// y_j = u_j / s_j with s_j = ‖r(u0)‖ / c_j, c_j = ‖∂r/∂u_j(u0)‖ from the
// model's Jacobian at the start u0, so that every scaled column starts with
// the norm of the starting residual whatever the size of the entry. A column
// that vanishes at the start (A[i][j] acts only through other entries there,
// or x_j starts at 0) takes instead m_j·‖t‖: the first-order column
// t·x_j(t) of A[i][j] at A = 0 with x_j at its typical size m_j.
// Levenberg–Marquardt (Ceres trust region, dense QR) takes per step
// min ‖r + J δ‖² + λ‖δ‖² in y with J = ∂M/∂A·diag(s) from
// MatrixModel::jacobian, and projects the step onto the box. The damping is the
// identity in y (the start scaling fixed for the run), not Marquardt's current
// column norms: where the residual is symmetric in two entries (an unobserved
// compartment that feeds an observed one: exchanging the two rates leaves every
// sample unchanged) their columns coincide along the mirror plane, a
// column-norm damping is symmetric there too, and rounding alone would pick the
// branch; with a fixed diagonal the start scaling picks it, the same way on
// every build. L-BFGS (NLopt LD_LBFGS, Lukšan's limited-memory variable metric
// with simple bounds) minimises S(y)/S(y0) with the gradient (∂S/∂A)·s / S(y0),
// ∂S/∂A from MatrixModel::gradient with H = 2r; dividing by S(y0) turns NLopt's
// fixed absolute gradient tolerance into a relative one. Every point u = s·y is
// clamped into [l, h], so a bound reached in y is exactly the bound in A.
// Either library may be run again from where it stopped (rounds; see run_lm and
// run_qn for why).
#include "fit/least_squares.h"

#include <ceres/ceres.h>
#include <nlopt.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "fit/descent.h"
#include "fit/misfit.h"
#include "fit/run_monitor.h"

namespace identify {

namespace {

struct Unknown {
  int entry = 0;  // i·N + j
  bool bounded = false;
  double lower = 0.0;  // in units of A
  double upper = 0.0;
  double scale = 1.0;  // u = scale·y
};

// Sets the fixed entries of A, clamps the bounded ones into their intervals
// and returns the rest as unknowns, in row-major order of A.
std::vector<Unknown> prepare_unknowns(const ProblemRecord& problem, Matrix& A) {
  apply_fixed_entries(problem, A);
  const std::vector<EntryRole> roles = entry_roles(problem);
  std::vector<Unknown> unknowns;
  for (std::size_t q = 0; q < roles.size(); ++q) {
    const EntryRole& role = roles[q];
    if (role.kind == EntryRole::kFixed) continue;
    Unknown u;
    u.entry = static_cast<int>(q);
    if (role.kind == EntryRole::kBounded) {
      double& value = A.data()[q];
      value = std::clamp(value, role.lower, role.upper);
      if (role.lower == role.upper) continue;
      u.bounded = true;
      u.lower = role.lower;
      u.upper = role.upper;
    }
    unknowns.push_back(u);
  }
  return unknowns;
}

// The residuals as a function of the scaled unknowns, with the model call
// skipped when the matrix is bit for bit the one last evaluated (the
// libraries ask for the value and then the derivative at one point).
class Residuals {
 public:
  Residuals(const ObservationRecord& obs, MatrixModel& model, Matrix& A,
            std::vector<Unknown> unknowns, FitCounts& counts)
      : data_(obs.add_data),
        model_(model),
        A_(A),
        unknowns_(std::move(unknowns)),
        counts_(counts),
        M_(data_.rows(), data_.cols()),
        H_(data_.rows(), data_.cols()),
        G_(A.rows(), A.cols()),
        J_(data_.size(), A.size()),
        last_(A.rows(), A.cols()) {}

  int unknowns() const { return static_cast<int>(unknowns_.size()); }
  int samples() const { return static_cast<int>(data_.size()); }
  const Unknown& unknown(int j) const { return unknowns_[j]; }
  const Matrix& matrix() const { return A_; }

  // Residual norm at the current A (the start before any call with y).
  double evaluate_current() {
    if (!valid_ ||
        std::memcmp(A_.data(), last_.data(), A_.size() * sizeof(double)) != 0) {
      model_.evaluate(A_, M_);
      ++counts_.evaluations;
      jacobian_valid_ = false;
      gradient_valid_ = false;
      std::copy(A_.data(), A_.data() + A_.size(), last_.data());
      valid_ = true;
      norm_ = residual_norm(M_, data_);
      cost_ = 0.0;
      for (std::size_t q = 0; q < M_.size(); ++q) {
        const double r = M_.data()[q] - data_.data()[q];
        cost_ = r * r + cost_;
      }
    }
    return norm_;
  }

  // Sets A from y and returns its residual norm. A scaled bound in y gives
  // exactly the bound in A; every entry is clamped into its interval.
  double evaluate(const double* y) {
    for (int j = 0; j < unknowns(); ++j) {
      const Unknown& u = unknowns_[j];
      double v = y[j] * u.scale;
      if (u.bounded) {
        if (y[j] <= u.lower / u.scale) {
          v = u.lower;
        } else if (y[j] >= u.upper / u.scale) {
          v = u.upper;
        } else {
          v = std::clamp(v, u.lower, u.upper);
        }
      }
      A_.data()[u.entry] = v;
    }
    return evaluate_current();
  }

  double cost() const { return cost_; }
  void residuals(double* r) const {
    for (std::size_t q = 0; q < M_.size(); ++q) {
      r[q] = M_.data()[q] - data_.data()[q];
    }
  }

  // dM/dA at the last evaluated A, all N² columns (unscaled).
  const Table& full_jacobian() {
    if (!jacobian_valid_) {
      model_.jacobian(A_, J_);
      ++counts_.jacobians;
      jacobian_valid_ = true;
    }
    return J_;
  }

  // dr/dy_j for the unknowns j listed, at the last evaluated A: row-major,
  // samples × columns.size().
  void jacobian(const std::vector<int>& columns, double* out) {
    full_jacobian();
    const std::size_t m = columns.size();
    for (int row = 0; row < samples(); ++row) {
      for (std::size_t c = 0; c < m; ++c) {
        const Unknown& u = unknowns_[columns[c]];
        out[row * m + c] = J_[row][u.entry] * u.scale;
      }
    }
  }

  // factor · dS/dy at the last evaluated A.
  void gradient(double factor, double* out) {
    if (!gradient_valid_) {
      residual_jumps(M_, data_, H_);
      model_.gradient(A_, H_, G_);
      ++counts_.gradients;
      gradient_valid_ = true;
    }
    for (int j = 0; j < unknowns(); ++j) {
      out[j] = G_.data()[unknowns_[j].entry] * unknowns_[j].scale * factor;
    }
  }

  // Sets the scales from the Jacobian at the current A (see the top of the
  // file) and returns the scaled current point, within the scaled bounds.
  // `stand_in[j]` replaces the column norm of unknown j where that is zero.
  std::vector<double> scale_at_current(const std::vector<double>& stand_in) {
    const double r0 = evaluate_current();
    const Table& J = full_jacobian();
    const double reference = r0 > 0.0 && std::isfinite(r0) ? r0 : 1.0;
    std::vector<double> y(unknowns_.size());
    for (std::size_t j = 0; j < unknowns_.size(); ++j) {
      Unknown& u = unknowns_[j];
      double s = 0.0;
      for (std::size_t row = 0; row < J.rows(); ++row) {
        const double v = J[row][u.entry];
        s = v * v + s;
      }
      double column = std::sqrt(s);
      if (!(column > 0.0) || !std::isfinite(column)) column = stand_in[j];
      u.scale = reference / column;
      y[j] = A_.data()[u.entry] / u.scale;
      if (u.bounded) {
        y[j] = std::clamp(y[j], u.lower / u.scale, u.upper / u.scale);
      }
    }
    return y;
  }

 private:
  const Table& data_;
  MatrixModel& model_;
  Matrix& A_;
  std::vector<Unknown> unknowns_;
  FitCounts& counts_;
  Table M_, H_;
  Matrix G_;
  Table J_;
  Matrix last_;                  // the A of M_
  bool valid_ = false;           // M_ belongs to last_
  bool jacobian_valid_ = false;  // J_ belongs to last_
  bool gradient_valid_ = false;  // G_ belongs to last_
  double norm_ = 0.0;
  double cost_ = 0.0;
};

// The per-iteration bookkeeping that both methods share with the descent:
// the epsilon test, the progress line, the best matrix and the monitor's
// stops.
class Tracker {
 public:
  Tracker(const ProblemRecord& problem, const StopSettings& stop,
          std::ostream& out)
      : epsilon_(problem.epsilon),
        monitor_(stop, out, problem.dim),
        converged_(make_matrix(problem.dim)) {}

  // Iteration count_ at matrix A with residual norm `norm`. The progress
  // line shows `norm`, or the lowest norm so far if `show_best`. Returns
  // false once the run has to end.
  bool iterate(double norm, const Matrix& A, bool show_best) {
    if (epsilon_ >= norm) {
      reason_ = StopReason::kConverged;
      converged_norm_ = norm;
      converged_iteration_ = count_;
      std::copy(A.data(), A.data() + A.size(), converged_.data());
      return false;
    }
    monitor_.observe(count_, norm, A);
    monitor_.progress(count_, show_best ? monitor_.best_norm() : norm);
    ++count_;
    reason_ = monitor_.check(count_);
    return !reason_;
  }

  bool stopped() const { return reason_.has_value(); }
  std::int64_t count() const { return count_; }
  const RunMonitor& monitor() const { return monitor_; }

  // Ends the run: A becomes the converged iterate or the best one, the
  // "ITERATION NUMBER" block is printed. If the tracker did not stop the
  // run, `library_reason` and `library_text` say why the library did.
  IdentifyResult finish(const std::string& name, StopReason library_reason,
                        const std::string& library_text,
                        const std::string& counts_text, Matrix& A,
                        std::ostream& out) const {
    IdentifyResult result;
    const StopReason reason = reason_ ? *reason_ : library_reason;
    if (reason == StopReason::kConverged) {
      std::copy(converged_.data(), converged_.data() + A.size(), A.data());
      result.reason = reason;
      result.norm = converged_norm_;
      result.best_iteration = converged_iteration_;
    } else {
      result = monitor_.stop_with_best(reason, A);
      if (reason_) {
        result.verdict =
            name + ": " + monitor_.verdict(reason, count_, epsilon_, 0.0);
      } else {
        result.verdict = name + ": " + library_text + "; " +
                         monitor_.verdict(StopReason::kMethodConverged, count_,
                                          epsilon_, 0.0);
      }
      result.verdict += counts_text;
    }
    result.iterations = count_;
    print_iteration_count(out, count_);
    return result;
  }

 private:
  double epsilon_;
  RunMonitor monitor_;
  std::int64_t count_ = 0;
  std::optional<StopReason> reason_;
  Matrix converged_;
  double converged_norm_ = 0.0;
  std::int64_t converged_iteration_ = 0;
};

// For each unknown A[i][j], the norm its Jacobian column would have at
// A = 0 if component i were observed at every sample and x_j kept its
// typical size m_j throughout: m_j·sqrt(sum of t² over the samples), with
// m_j the largest of |x0_j| and the measurements of x_j (1 if all are 0).
std::vector<double> stand_in_columns(const ProblemRecord& problem,
                                     const ObservationRecord& obs,
                                     const Residuals& residuals) {
  const int n = problem.dim;
  std::vector<double> typical(n, 0.0);
  for (int j = 0; j < n; ++j) typical[j] = std::fabs(problem.init_val[j]);
  double times = 0.0;
  for (std::size_t k = 0; k < obs.data_time.rows(); ++k) {
    const int c = obs.is_data_exist[k];
    for (std::size_t q = 0; q < obs.data_time.cols(); ++q) {
      const double t = obs.data_time[k][q];
      times = t * t + times;
      typical[c] = std::max(typical[c], std::fabs(obs.add_data[k][q]));
    }
  }
  const double time_norm = times > 0.0 ? std::sqrt(times) : 1.0;
  std::vector<double> columns(residuals.unknowns());
  for (int u = 0; u < residuals.unknowns(); ++u) {
    const double m = typical[residuals.unknown(u).entry % n];
    columns[u] = (m > 0.0 ? m : 1.0) * time_norm;
  }
  return columns;
}

std::string counts_text(const FitCounts& counts) {
  std::ostringstream s;
  s << "; " << counts.evaluations << " model evaluations, " << counts.jacobians
    << (counts.jacobians == 1 ? " Jacobian" : " Jacobians");
  if (counts.gradients > 0) s << ", " << counts.gradients << " gradients";
  return s.str();
}

// ---------------------------------------------------------------- lm ----

// The unknowns that one Ceres run moves, and the full scaled point that the
// others keep their values in.
struct LmRound {
  std::vector<int> free;   // indices of the moving unknowns
  std::vector<double>* y;  // all unknowns, scaled
};

class LmCost : public ceres::CostFunction {
 public:
  LmCost(Residuals& residuals, const LmRound& round)
      : residuals_(residuals), round_(round) {
    set_num_residuals(residuals.samples());
    mutable_parameter_block_sizes()->push_back(
        static_cast<int>(round.free.size()));
  }

  bool Evaluate(double const* const* parameters, double* residuals,
                double** jacobians) const override {
    std::vector<double>& y = *round_.y;
    for (std::size_t f = 0; f < round_.free.size(); ++f) {
      y[round_.free[f]] = parameters[0][f];
    }
    if (!std::isfinite(residuals_.evaluate(y.data()))) return false;
    residuals_.residuals(residuals);
    if (jacobians != nullptr && jacobians[0] != nullptr) {
      residuals_.jacobian(round_.free, jacobians[0]);
    }
    return true;
  }

 private:
  Residuals& residuals_;
  const LmRound& round_;
};

// Runs after every trust-region step with the parameter block already
// holding the current iterate.
class LmCallback : public ceres::IterationCallback {
 public:
  LmCallback(Residuals& residuals, Tracker& tracker, const LmRound& round,
             const double* block)
      : residuals_(residuals),
        tracker_(tracker),
        round_(round),
        block_(block),
        previous_(round.free.size()),
        iterate_(residuals.matrix()) {}

  ceres::CallbackReturnType operator()(
      const ceres::IterationSummary&) override {
    const std::size_t bytes = previous_.size() * sizeof(double);
    if (!has_previous_ || std::memcmp(previous_.data(), block_, bytes) != 0) {
      std::vector<double>& y = *round_.y;
      for (std::size_t f = 0; f < round_.free.size(); ++f) {
        y[round_.free[f]] = block_[f];
      }
      norm_ = residuals_.evaluate(y.data());
      iterate_ = residuals_.matrix();
      std::memcpy(previous_.data(), block_, bytes);
      has_previous_ = true;
    }
    return tracker_.iterate(norm_, iterate_, false)
               ? ceres::SOLVER_CONTINUE
               : ceres::SOLVER_TERMINATE_SUCCESSFULLY;
  }

 private:
  Residuals& residuals_;
  Tracker& tracker_;
  const LmRound& round_;
  const double* block_;
  // The iterate of the last call: scaled, as A, and its residual norm. A
  // rejected step leaves it unchanged while the model was last evaluated at
  // the rejected point.
  std::vector<double> previous_;
  bool has_previous_ = false;
  Matrix iterate_;
  double norm_ = 0.0;
};

// Ceres' message "Function tolerance reached. |cost_change|/cost: a <= b"
// as "function tolerance reached: |cost_change|/cost: a <= b".
std::string reword(std::string message) {
  if (!message.empty()) {
    message[0] =
        static_cast<char>(std::tolower(static_cast<unsigned char>(message[0])));
  }
  const std::size_t stop = message.find(". ");
  if (stop != std::string::npos) {
    message.replace(stop, 2, ": ");
    if (stop + 2 < message.size()) {
      message[stop + 2] = static_cast<char>(
          std::tolower(static_cast<unsigned char>(message[stop + 2])));
    }
  }
  while (!message.empty() && (message.back() == '.' || message.back() == ' ')) {
    message.pop_back();
  }
  return message;
}

// One Ceres run from y over the unknowns of `round`; y receives its end
// point.
ceres::Solver::Summary solve_round(Residuals& residuals, Tracker& tracker,
                                   const LmRound& round) {
  std::vector<double>& y = *round.y;
  std::vector<double> block(round.free.size());
  for (std::size_t f = 0; f < round.free.size(); ++f) {
    block[f] = y[round.free[f]];
  }
  LmCost cost(residuals, round);
  ceres::Problem::Options problem_options;
  problem_options.cost_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
  ceres::Problem problem(problem_options);
  problem.AddResidualBlock(&cost, nullptr, block.data());
  for (std::size_t f = 0; f < round.free.size(); ++f) {
    const Unknown& u = residuals.unknown(round.free[f]);
    if (!u.bounded) continue;
    const int index = static_cast<int>(f);
    problem.SetParameterLowerBound(block.data(), index, u.lower / u.scale);
    problem.SetParameterUpperBound(block.data(), index, u.upper / u.scale);
  }
  LmCallback callback(residuals, tracker, round, block.data());

  ceres::Solver::Options options;
  options.minimizer_type = ceres::TRUST_REGION;
  options.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
  options.linear_solver_type = ceres::DENSE_QR;
  // The damping is the identity in the scaled unknowns, not the current
  // column norms: see the top of the file.
  options.jacobi_scaling = false;
  options.min_lm_diagonal = 1.0;
  options.max_lm_diagonal = 1.0;
  // A step that leaves the box is projected onto it and then accepted or
  // rejected like any other; the bounds that stop progress are dealt with
  // between runs (see run_lm).
  options.max_num_line_search_step_size_iterations = 0;
  options.max_num_iterations = std::numeric_limits<int>::max();
  options.max_solver_time_in_seconds = std::numeric_limits<double>::max();
  options.function_tolerance = kLmFunctionTolerance;
  options.parameter_tolerance = kLmParameterTolerance;
  options.gradient_tolerance = 0.0;
  options.num_threads = 1;
  options.logging_type = ceres::SILENT;
  options.minimizer_progress_to_stdout = false;
  options.update_state_every_iteration = true;
  options.callbacks.push_back(&callback);
  ceres::Solver::Summary summary;
  ceres::Solve(options, &problem, &summary);
  for (std::size_t f = 0; f < round.free.size(); ++f) {
    y[round.free[f]] = block[f];
  }
  return summary;
}

// A projected LM step stalls where the unconstrained step points out of the
// box: the run ends on its step tolerance short of the bounded optimum. So
// the fit goes in rounds: after a round that converged, every unknown that
// rests on a bound which the gradient of S presses against is held there,
// one that the gradient pulls away from its bound is freed, and the next
// round starts from the same point. The rounds end when that set no longer
// changes, or when a round fails to lower the best residual norm.
IdentifyResult run_lm(Residuals& residuals, std::vector<double>& y,
                      Tracker& tracker, const FitCounts& counts, Matrix& A,
                      std::ostream& out) {
  const int m = residuals.unknowns();
  std::vector<char> held(m, 0);
  LmRound round;
  round.y = &y;
  std::vector<double> r(residuals.samples());
  StopReason reason = StopReason::kMethodConverged;
  std::string text;
  int rounds = 0;
  double best_before = std::numeric_limits<double>::infinity();
  for (;;) {
    round.free.clear();
    for (int j = 0; j < m; ++j) {
      if (!held[j]) round.free.push_back(j);
    }
    if (round.free.empty()) break;
    ++rounds;
    const ceres::Solver::Summary summary =
        solve_round(residuals, tracker, round);
    if (tracker.stopped()) break;
    text = reword(summary.message);
    if (summary.termination_type != ceres::CONVERGENCE) {
      reason = StopReason::kStalled;
      text = "the solver stopped without converging: " + text;
      break;
    }
    const double best = tracker.monitor().best_norm();
    if (!(best < best_before)) break;
    best_before = best;

    residuals.evaluate(y.data());
    residuals.residuals(r.data());
    const Table& J = residuals.full_jacobian();
    bool changed = false;
    for (int j = 0; j < m; ++j) {
      const Unknown& u = residuals.unknown(j);
      if (!u.bounded) continue;
      double g = 0.0;
      for (std::size_t row = 0; row < J.rows(); ++row) {
        g = J[row][u.entry] * r[row] + g;
      }
      const double v = residuals.matrix().data()[u.entry];
      const bool pressed =
          (v == u.lower && g > 0.0) || (v == u.upper && g < 0.0);
      if (pressed != static_cast<bool>(held[j])) {
        held[j] = pressed;
        changed = true;
      }
    }
    if (!changed) break;
  }
  const int on_bounds =
      static_cast<int>(std::count(held.begin(), held.end(), 1));
  if (on_bounds > 0 && reason == StopReason::kMethodConverged) {
    std::ostringstream s;
    s << text << (text.empty() ? "" : " ") << "(" << rounds << " rounds, "
      << on_bounds << (on_bounds == 1 ? " entry" : " entries")
      << " held on a bound)";
    text = s.str();
  }
  return tracker.finish("lm", reason, text, counts_text(counts), A, out);
}

// ----------------------------------------------------------- lbfgsb ----

struct QnState {
  Residuals* residuals = nullptr;
  Tracker* tracker = nullptr;
  nlopt_opt opt = nullptr;
  double cost_scale = 1.0;  // 1 / S(y0)
  // The scaled gradient at the point with the lowest cost so far.
  double best_cost = std::numeric_limits<double>::infinity();
  std::vector<double> best_y, best_gradient;
};

double qn_objective(unsigned n, const double* y, double* gradient, void* data) {
  QnState& s = *static_cast<QnState*>(data);
  if (s.tracker->stopped()) {
    if (gradient != nullptr) std::fill(gradient, gradient + n, 0.0);
    return HUGE_VAL;
  }
  const double norm = s.residuals->evaluate(y);
  const double cost = s.residuals->cost() * s.cost_scale;
  if (gradient != nullptr) {
    if (std::isfinite(norm)) {
      s.residuals->gradient(s.cost_scale, gradient);
    } else {
      std::fill(gradient, gradient + n, 0.0);
    }
  }
  if (cost < s.best_cost && gradient != nullptr) {
    s.best_cost = cost;
    s.best_y.assign(y, y + n);
    s.best_gradient.assign(gradient, gradient + n);
  }
  if (!s.tracker->iterate(norm, s.residuals->matrix(), true)) {
    nlopt_force_stop(s.opt);
  }
  return std::isfinite(cost) ? cost : HUGE_VAL;
}

// Largest |gradient| over the unknowns that the bounds do not hold back.
double projected_gradient(const QnState& s, const std::vector<double>& lower,
                          const std::vector<double>& upper) {
  double g_max = 0.0;
  for (std::size_t j = 0; j < s.best_gradient.size(); ++j) {
    const double g = s.best_gradient[j];
    if (s.best_y[j] <= lower[j] && g > 0.0) continue;
    if (s.best_y[j] >= upper[j] && g < 0.0) continue;
    g_max = std::max(g_max, std::fabs(g));
  }
  return g_max;
}

// Lukšan's gradient test is absolute on the scaled S/S(y0), so on data that
// the model fits closely it fires while S is still far above its floor. The
// fit therefore goes in rounds: a round that ended on the gradient test and
// lowered the best residual norm is followed by another from the best point,
// scaled afresh there (its Jacobian columns and S), so the test becomes
// relative to the residual that is left.
IdentifyResult run_qn(Residuals& residuals, const std::vector<double>& stand_in,
                      Tracker& tracker, const FitCounts& counts, Matrix& A,
                      std::ostream& out) {
  const unsigned n = static_cast<unsigned>(residuals.unknowns());
  std::vector<double> lower(n), upper(n);
  QnState state;
  state.residuals = &residuals;
  state.tracker = &tracker;
  nlopt_result result = NLOPT_SUCCESS;
  int rounds = 0;
  double best_before = std::numeric_limits<double>::infinity();
  for (;;) {
    if (rounds > 0) residuals.evaluate(state.best_y.data());
    std::vector<double> y = residuals.scale_at_current(stand_in);
    ++rounds;
    const std::unique_ptr<nlopt_opt_s, decltype(&nlopt_destroy)> opt(
        nlopt_create(NLOPT_LD_LBFGS, n), &nlopt_destroy);
    if (!opt) throw std::bad_alloc();
    for (unsigned j = 0; j < n; ++j) {
      const Unknown& u = residuals.unknown(static_cast<int>(j));
      lower[j] = u.bounded ? u.lower / u.scale : -HUGE_VAL;
      upper[j] = u.bounded ? u.upper / u.scale : HUGE_VAL;
    }
    state.opt = opt.get();
    const double start_cost = residuals.cost();
    state.cost_scale =
        start_cost > 0.0 && std::isfinite(start_cost) ? 1.0 / start_cost : 1.0;
    state.best_cost = std::numeric_limits<double>::infinity();
    state.best_y.clear();
    nlopt_set_lower_bounds(opt.get(), lower.data());
    nlopt_set_upper_bounds(opt.get(), upper.data());
    nlopt_set_min_objective(opt.get(), qn_objective, &state);
    nlopt_set_ftol_rel(opt.get(), kQnFunctionTolerance);
    nlopt_set_xtol_rel(opt.get(), kQnParameterTolerance);
    // Twenty correction pairs: enough for the unknowns of these problems;
    // NLopt's own default sizes its work arrays for far more.
    nlopt_set_vector_storage(opt.get(), kQnCorrections);
    double f = 0.0;
    result = nlopt_optimize(opt.get(), y.data(), &f);
    if (result == NLOPT_OUT_OF_MEMORY) throw std::bad_alloc();
    if (tracker.stopped() || result != NLOPT_SUCCESS || state.best_y.empty()) {
      break;
    }
    const double best = tracker.monitor().best_norm();
    if (!(best < best_before)) break;
    best_before = best;
  }

  std::ostringstream text;
  text.precision(3);
  StopReason reason = StopReason::kMethodConverged;
  const double g = projected_gradient(state, lower, upper);
  switch (result) {
    case NLOPT_SUCCESS:
      text << "gradient tolerance reached: largest scaled projected gradient "
           << g << " (NLopt's test: <= 1e-08)";
      break;
    case NLOPT_FTOL_REACHED:
      text << "function tolerance reached: relative change of the sum of "
              "squares <= "
           << kQnFunctionTolerance << " in two successive iterations";
      break;
    case NLOPT_XTOL_REACHED:
      text << "parameter tolerance reached: relative change of every scaled "
              "entry <= "
           << kQnParameterTolerance << " in two successive iterations";
      break;
    case NLOPT_ROUNDOFF_LIMITED:
      text << "rounding errors limit further progress; largest scaled "
              "projected gradient "
           << g;
      break;
    case NLOPT_FAILURE:
      // Lukšan's code returns this when its line search finds no lower sum
      // of squares along the quasi-Newton direction nor along the steepest
      // descent, typically where the model's derivative and its values no
      // longer agree to the precision that a further step needs.
      text << "line search found no lower sum of squares (NLopt FAILURE); "
              "largest scaled projected gradient "
           << g;
      break;
    default:
      reason = StopReason::kStalled;
      text << "NLopt stopped without converging ("
           << nlopt_result_to_string(result) << ")";
      break;
  }
  if (rounds > 1 && reason == StopReason::kMethodConverged) {
    text << " (" << rounds << " rounds)";
  }
  return tracker.finish("lbfgsb", reason, text.str(), counts_text(counts), A,
                        out);
}

}  // namespace

IdentifyResult fit_least_squares(const ProblemRecord& problem,
                                 const ObservationRecord& obs,
                                 MatrixModel& model, Matrix& A,
                                 const StopSettings& stop, std::ostream& out,
                                 LeastSquaresMethod method, FitCounts* counts) {
  const bool lm = method == LeastSquaresMethod::kLevenbergMarquardt;
  const char* name = lm ? "lm" : "lbfgsb";
  FitCounts local;
  FitCounts& used = counts != nullptr ? *counts : local;
  used = FitCounts{};

  Residuals residuals(obs, model, A, prepare_unknowns(problem, A), used);
  Tracker tracker(problem, stop, out);
  const double start_norm = residuals.evaluate_current();
  if (!std::isfinite(start_norm) || residuals.unknowns() == 0) {
    tracker.iterate(start_norm, residuals.matrix(), false);
    const bool finite = std::isfinite(start_norm);
    return tracker.finish(
        name, finite ? StopReason::kMethodConverged : StopReason::kDiverged,
        finite ? "every entry of A is fixed"
               : "the residual norm is not finite at the start matrix",
        counts_text(used), A, out);
  }
  const std::vector<double> stand_in =
      stand_in_columns(problem, obs, residuals);
  if (!lm) return run_qn(residuals, stand_in, tracker, used, A, out);
  std::vector<double> y = residuals.scale_at_current(stand_in);
  return run_lm(residuals, y, tracker, used, A, out);
}

}  // namespace identify
