// The last steps of a least-squares fit that its library's convergence test
// has ended: Gauss–Newton steps that converge the estimates themselves,
// not only the objective, and the rule that stops them where the data
// cannot say more.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace identify {

class NormalEquations;

// The residuals r at the unknowns y (`residuals` entries), and when
// `jacobian` is not null ∂r/∂y there, row-major (residuals × unknowns).
// False where they are not finite or the model call was cut short.
using ResidualFunction =
    std::function<bool(const double* y, double* r, double* jacobian)>;

// Called after each step taken, with the unknowns already moved there;
// false ends the polish (the run was stopped).
using StepTaken = std::function<bool()>;

// A step whose length in standard errors is at most this ends the polish
// as converged: the estimates then lie within it of the optimum.
inline constexpr double kPolishTarget = 1e-10;
// On an ill-conditioned or rank-deficient Jacobian the polish ends as soon
// as the decrease a Gauss–Newton step predicts is at most this fraction of
// the objective's noise spread.
inline constexpr double kFarBelowNoise = 1e-6;
// Steps at most. Each shrinks the distance to the optimum by the rate set
// by the residuals' curvature (0.3 per step for theophylline_pk).
inline constexpr int kPolishMaxSteps = 20;

// Why the polish ended.
enum class PolishStop {
  kNothing,      // no unknowns or no residuals
  kConverged,    // a step of at most kPolishTarget standard errors
  kRounding,     // a step longer than 0.8 of the one before
  kStepLimit,    // kPolishMaxSteps taken
  kStatistical,  // rank < unknowns, predicted decrease far below the noise
  kRise,         // the next step raised S by more than rounding
  kBounds,       // the next step leaves the bounds
  kFailed,       // residuals not finite, or the run was stopped
};

struct PolishEnd {
  PolishStop stop = PolishStop::kNothing;
  int steps = 0;     // steps taken
  int unknowns = 0;  // q
  int rank = 0;      // of J (ill-conditioned directions left out)
  // At the end point: the decrease of S = |r|² that the Gauss–Newton step
  // predicts, the step's length in standard errors (sqrt(predicted/v) with
  // v = S/(n − rank) the noise variance), and the noise spread of S,
  // v·sqrt(2·(n − rank)), its standard deviation over repeated data sets.
  double predicted = 0.0;
  double length = 0.0;
  double spread = 0.0;
};

// Gauss–Newton steps from y (moved in place to the last accepted point),
// each the least-squares solution of r + J·δ over J's well-conditioned
// directions (columns scaled to unit norm; singular values below
// 1/kIllConditioned of the largest are left out), until one of the stops
// of PolishStop; `taken` is called after each step.
PolishEnd polish(const ResidualFunction& f, int residuals,
                 std::vector<double>& y, const std::vector<double>& lower,
                 const std::vector<double>& upper, const StepTaken& taken);

// The same steps taken from the normal equations of `source` while they
// are accurate enough (scaled_normal.h: no zero column, cond(Js) at most
// kNormalConditionLimit), so that nothing of the size of the residuals is
// held; from the first point where they are not, the polish goes on from
// `f` as above.
PolishEnd polish(NormalEquations& source, const ResidualFunction& f,
                 int residuals, std::vector<double>& y,
                 const std::vector<double>& lower,
                 const std::vector<double>& upper, const StepTaken& taken);

// The clause the verdict adds: ", then 3 Gauss–Newton steps: the estimates
// lie within 2.1e-11 standard errors of the optimum"; ", a Gauss–Newton
// step of 0.0012 standard errors did not lower the objective"; for the
// statistical stop ", the Jacobian has rank 2 of 3: stopped where a
// Gauss–Newton step would lower the objective by 1.2e-14, far below its
// noise spread 0.61"; empty when nothing was tried or the run was stopped.
std::string polish_text(const PolishEnd& end);

}  // namespace identify
