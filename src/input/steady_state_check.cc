// The spectral test of a steady state: the periodic state under doses every
// τ is x̄ = (I − e^{Aτ})⁻¹·c, and I − e^{Aτ} is invertible for every τ with
// the doses' effect bounded exactly when max Re λ(A) < 0. A is the
// experiment's matrix, or that of its last phase at or before the record's
// time, at the parameters' start values; its eigenvalues come from Eigen's
// real Schur form.
#include "input/steady_state_check.h"

#include <Eigen/Eigenvalues>
#include <cmath>
#include <limits>
#include <string>

#include "input/event_translation.h"
#include "input/input_error.h"
#include "input/number_syntax.h"

namespace identify {

namespace {

// The largest real part of an eigenvalue of experiment e's A at time t.
double largest_real_part(const FitProblem& problem, const Experiment& e,
                         double t) {
  const std::vector<MatrixTerm>* terms = &e.matrix;
  for (const MatrixPhase& phase : e.phases) {
    if (phase.time <= t) terms = &phase.matrix;
  }
  const int n = problem.state_count();
  const std::vector<double> theta = problem.values();
  std::vector<double> scratch;
  Eigen::MatrixXd A = Eigen::MatrixXd::Zero(n, n);
  for (const MatrixTerm& term : *terms) {
    A(term.row, term.col) = term.value.value(theta, scratch);
  }
  if (!A.allFinite()) return std::numeric_limits<double>::quiet_NaN();
  return Eigen::EigenSolver<Eigen::MatrixXd>(A, false)
      .eigenvalues()
      .real()
      .maxCoeff();
}

}  // namespace

void check_steady_records(const TextFile& file, const EventTable& table,
                          const FitProblem& problem) {
  for (const EventRecord& r : table.records) {
    if (r.steady_state == 0 || !(r.evid == 1 || r.evid == 4)) continue;
    const std::string id = event_experiment_id(r.id);
    for (const Experiment& e : problem.experiments) {
      if (e.id != id) continue;
      const double largest = largest_real_part(problem, e, r.time);
      if (largest < 0.0) break;
      throw input_error(
          file.pos(r.at[kEventSs]),
          "a system with a steady state for the steady-state dose of ID " +
              r.id +
              " (every eigenvalue of its matrix with a real part below 0 at "
              "the start values)",
          "an eigenvalue with a real part of " + shortest_text(largest));
    }
  }
}

}  // namespace identify
