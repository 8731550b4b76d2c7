// The outer problem of a population fit: minimise the FOCE-I objective
// (focei_objective.h) over x = (the estimated fixed effects, each on its
// own scale, then the entries u of Ω's factor, omega.h). Where the
// closed-form jet model covers the problem (subject_jets.h), NLopt's
// L-BFGS runs on the exact gradient (outer_gradient.h), and BOBYQA finishes
// where its line search gives up; otherwise BOBYQA, a derivative-free
// trust-region method, runs alone, so that no approximate gradient enters
// the fit either way. Starts: the first from the problem's
// values and Ω's start SDs; every further one draws the fixed effects
// (uniformly within finite scaled bounds, else within ±1 of the start on
// the scaled axis), Ω starting as given. The best OFV wins, the lowest start
// on ties. With several starts, each runs to coarse tolerances and the
// best is then polished to the full ones (population_fit.cc).
#pragma once

#include <Eigen/Core>
#include <cstdint>
#include <string>
#include <vector>

#include "fit/population/subject_mode.h"
#include "problem/fit_problem.h"

namespace identify {

struct PopulationSettings {
  int starts = 1;
  std::uint64_t seed = 1;
  int threads = 1;
  int max_evaluations = 20000;  // per start
};

struct PopulationFit {
  std::vector<double> theta;    // every parameter, unscaled; effects 0
  std::vector<double> omega_u;  // Ω's entries (omega.h)
  Eigen::MatrixXd omega;        // Ω
  double ofv = 0.0;
  std::vector<SubjectMode> modes;  // by subject, at the estimates
  std::vector<int> fitted;         // the fixed effects moved, ascending
  std::vector<double> start_ofv;   // the OFV each start reached
  int best_start = 0;
  int evaluations = 0;     // over every start
  bool converged = false;  // the optimiser met its tolerance
  std::string stop;        // why the best start's run ended
  std::string optimiser;   // "L-BFGS, exact gradient" or "BOBYQA"
};

// Fits the population problem `problem` (problem.population.active()).
PopulationFit fit_population(const FitProblem& problem,
                             const PopulationSettings& settings);

// The fixed effects that the outer problem moves: the estimated parameters
// that are not random effects and whose bounds leave room.
std::vector<int> population_fixed_effects(const FitProblem& problem);

}  // namespace identify
