// Fixed-step gradient descent: A ← A − opt_par·∇J(A), with
// J(A) = sum over series and samples of (M[k][n](A) − d[k][n])² and the
// gradient taken from the model (for the grid model: the adjoint sweep with
// jumps 2·(M − d), then trapezoid quadrature of psi_i·x_j). After every step
// the fixed entries are set again and a bounded entry that left its interval
// returns to its value from before the step (not clamped to the bound).
#include "fit/descent.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <ostream>

#include "fit/misfit.h"
#include "fit/run_monitor.h"

namespace identify {

std::vector<EntryRole> entry_roles(const ProblemRecord& problem) {
  const std::size_t n = static_cast<std::size_t>(problem.dim);
  std::vector<EntryRole> roles(n * n);
  for (std::size_t e = 0; e < problem.par_borders_num.size(); ++e) {
    const EntryIndex& at = problem.par_borders_num[e];
    EntryRole& role = roles[at.row * n + at.col];
    role.kind = EntryRole::kBounded;
    role.lower = problem.par_borders_val[e].lower;
    role.upper = problem.par_borders_val[e].upper;
  }
  for (const EntryIndex& at : problem.fix_par_num) {
    roles[at.row * n + at.col] = EntryRole{EntryRole::kFixed, 0.0, 0.0};
  }
  return roles;
}

void apply_fixed_entries(const ProblemRecord& problem, Matrix& A) {
  for (std::size_t e = 0; e < problem.fix_par_num.size(); ++e) {
    const EntryIndex& at = problem.fix_par_num[e];
    A[at.row][at.col] = problem.fix_par_val[e];
  }
}

namespace {

// A ← A − opt_par·G, then the fixed entries and the bounds; S receives the
// matrix from before the step.
void take_step(const ProblemRecord& problem, const Matrix& G, Matrix& S,
               Matrix& A) {
  std::copy(A.data(), A.data() + A.size(), S.data());
  for (std::size_t q = 0; q < A.size(); ++q) {
    A.data()[q] = A.data()[q] - G.data()[q] * problem.opt_par;
  }
  apply_fixed_entries(problem, A);
  restore_bounded_entries(problem, S, A);
}

}  // namespace

void restore_bounded_entries(const ProblemRecord& problem, const Matrix& saved,
                             Matrix& A) {
  for (std::size_t e = 0; e < problem.par_borders_num.size(); ++e) {
    const EntryIndex& at = problem.par_borders_num[e];
    const EntryBounds& b = problem.par_borders_val[e];
    const double v = A[at.row][at.col];
    if (b.lower > v || v > b.upper) A[at.row][at.col] = saved[at.row][at.col];
  }
}

IdentifyResult identify_matrix(const ProblemRecord& problem,
                               const ObservationRecord& obs, MatrixModel& model,
                               Matrix& A, const StopSettings& stop,
                               std::ostream& out) {
  const int n = problem.dim;
  const Table& data = obs.add_data;
  Table M(data.rows(), data.cols());
  Table H(data.rows(), data.cols());
  Matrix S = make_matrix(n);
  Matrix G = make_matrix(n);
  RunMonitor monitor(stop, out, n);
  monitor.set_start(A, std::numeric_limits<double>::quiet_NaN());
  const StopFlagScope stop_scope(model, stop.interrupt);

  IdentifyResult result;
  std::optional<StopReason> reason;
  std::int64_t counter = 0;
  model.evaluate(A, M);
  for (;;) {
    // An interrupted evaluation is abandoned: its samples are incomplete,
    // and the run ends with the best matrix of the iterations finished.
    if (model.stop_requested()) {
      reason = StopReason::kInterrupted;
      break;
    }
    const double norm = residual_norm(M, data);
    if (problem.epsilon >= norm) {
      result.reason = StopReason::kConverged;
      result.norm = norm;
      result.best_iteration = counter;
      break;
    }
    monitor.observe(counter, norm, A);
    if (!std::isfinite(norm)) {
      reason = StopReason::kDiverged;
    } else {
      residual_jumps(M, data, H);
      model.gradient(A, H, G);
      if (model.stop_requested()) {
        reason = StopReason::kInterrupted;  // no step from a partial gradient
      } else {
        take_step(problem, G, S, A);
        if (std::memcmp(A.data(), S.data(), A.size() * sizeof(double)) == 0) {
          reason = StopReason::kStalled;
        }
      }
    }
    monitor.progress(counter, norm);
    ++counter;
    if (!reason) reason = monitor.check(counter);
    if (reason) break;
    model.evaluate(A, M);
  }
  if (reason) {
    result = monitor.stop_with_best(*reason, A);
    result.verdict =
        monitor.verdict(*reason, counter, problem.epsilon, problem.opt_par);
  }
  result.iterations = counter;
  print_iteration_count(out, counter);
  return result;
}

}  // namespace identify
