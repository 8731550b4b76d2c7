// PRED and IPRED are the model at (θ̂, 0) and (θ̂, η̂_i); IWRES is
// −e_j/σ_j at η̂_i (subject_mode.h's e = h(y) − h(v)); CWRES from the same
// residuals, their Jacobian G = ∂e/∂η and σ at η̂_i.
#include "fit/population/predictions.h"

#include <Eigen/Dense>
#include <cmath>

#include "fit/population/subject_mode.h"

namespace identify {

SubjectPredictions subject_predictions(const FitProblem& problem,
                                       const PopulationFit& fit, int subject) {
  SubjectProblem s(problem, subject);
  SubjectPredictions out;
  const int n = s.measurement_count();
  if (n == 0) return out;
  SubjectResiduals r;
  const Eigen::VectorXd zero = Eigen::VectorXd::Zero(s.effect_count());
  s.residuals(fit.theta, zero, r);
  out.pred.assign(r.y.data(), r.y.data() + n);
  s.residuals(fit.theta, fit.modes[subject].eta, r);
  out.ipred.assign(r.y.data(), r.y.data() + n);
  for (int j = 0; j < n; ++j) out.iwres.push_back(-r.e[j] / r.sigma[j]);
  const Eigen::VectorXd& eta = fit.modes[subject].eta;
  // h(v) − E = −e + G·η̂.
  const Eigen::VectorXd deviation = -r.e + r.de * eta;
  Eigen::MatrixXd C = r.de * fit.omega * r.de.transpose();
  C.diagonal() += r.sigma.cwiseAbs2();
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(C);
  const Eigen::VectorXd cwres = eigen.operatorInverseSqrt() * deviation;
  out.cwres.assign(cwres.data(), cwres.data() + n);
  return out;
}

std::vector<double> individual_values(const FitProblem& problem,
                                      const PopulationFit& fit, int subject) {
  std::vector<double> theta = fit.theta;
  const Population& pop = problem.population;
  for (int k = 0; k < pop.effect_count(); ++k) {
    theta[pop.effects[k].parameter] = fit.modes[subject].eta[k];
  }
  std::vector<double> out, scratch;
  for (const IndividualValue& v : pop.individual) {
    out.push_back(v.value.value(theta, scratch));
  }
  return out;
}

}  // namespace identify
