// Small problems and example cases for the unit tests, built in memory the
// way the readers and the driver would build them, and the numerical checks
// that several model tests share.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/entry.h"
#include "input/records.h"
#include "model/model.h"
#include "problem/fit_problem.h"

namespace identify::testing {

inline constexpr double kInfinity = std::numeric_limits<double>::infinity();

// epsilon 0, T = 10, opt_par 1, no fixed or bounded entries.
ProblemRecord make_problem(const Vector& x0, const Vector& amp,
                           const Vector& rate);

// Adds a fixed entry A[row][col] = value, or the bounds lower <= A[row][col]
// <= upper, keeping the record's counts in step with its lists.
void fix_entry(ProblemRecord& problem, int row, int col, double value);
void bound_entry(ProblemRecord& problem, int row, int col, double lower,
                 double upper);

// Series k observes components[k] at times[k] (times[k][0] must be 0) with
// the measured values[k]; without values the measurements are all 0.
ObservationRecord make_observations(
    int dim, const std::vector<std::int32_t>& components,
    const std::vector<std::vector<double>>& times,
    const std::vector<std::vector<double>>& values = {});

Matrix matrix_of(const std::vector<std::vector<double>>& rows);

// An example case read as the driver reads it, point 0 anchored at x0.
struct Example {
  ProblemRecord problem;
  ObservationRecord obs;
};
Example read_example(const std::string& name);

// The legacy records as the program poses them (legacy_problem.h): one
// parameter per entry of A, row-major, so that θ is A flattened.
FitProblem legacy_fit(const ProblemRecord& problem,
                      const ObservationRecord& obs);
std::vector<double> theta_of(const Matrix& A);

// Largest |a − b| over the entries, relative to the largest |b|.
double relative_gap(const Table& a, const Table& b);
double relative_gap(const std::vector<double>& a, const std::vector<double>& b);

// A model that behaves like `inner` until a signal arrives during its call
// number `at` (1-based, evaluate, gradient and jacobian counted alike): that
// call sets `flag` to SIGTERM and, like a sweep that gives up at once, leaves
// NaN in its output; so does every later call. The flag is the one the fit
// hands the model (the monitor's interrupt), so stop_requested() sees it.
class InterruptedModel : public Model {
 public:
  InterruptedModel(Model& inner, std::atomic<int>& flag, int at)
      : inner_(inner), flag_(flag), at_(at) {}
  void evaluate(std::span<const double> theta, Evaluation& out) override;
  void jacobian(const Evaluation& at, Table& J) override;
  void gradient(const Evaluation& at, std::span<const double> w,
                std::span<double> g) override;
  void states(std::span<const double> theta, int experiment,
              std::span<const double> times, Table& X) override {
    inner_.states(theta, experiment, times, X);
  }
  int calls() const { return calls_; }

 private:
  // Counts the call; true (with the flag set) when it is cut short.
  bool cut_short();

  Model& inner_;
  std::atomic<int>& flag_;
  int at_;
  int calls_ = 0;
};

// How the samples of a RandomCase are laid out over the components and the
// time axis.
enum class Layout {
  kOnePerComponent,  // K = N, equally spaced
  kFewSeries,        // K < N (or K > N for N = 1), unequally spaced
  kSharedComponent,  // several series on one component, repeated nodes
};
inline constexpr Layout kLayouts[] = {
    Layout::kOnePerComponent, Layout::kFewSeries, Layout::kSharedComponent};

// A random problem with stable dynamics: A = −I + small couplings, with
// exact zeros of both signs among the entries and the sources. For N >= 2,
// a12 is fixed at its start value and a21 and aNN are bounded. The
// measurements are the plain grid model's samples for the true matrix, with
// noise, so that a descent has something to fit; `fit` is the problem posed
// from the records.
struct RandomCase {
  RandomCase(int n, Layout layout, unsigned seed);
  Matrix random_matrix(int n, double coupling);
  void make_observations(Layout layout);

  std::mt19937_64 rng;
  ProblemRecord problem;
  ObservationRecord obs;
  FitProblem fit;
  Matrix truth, start;
};

// A random problem on parameters θ (values and measurement times drawn
// from `seed`) with everything a model on θ must handle: three states,
// linked entries (a_aa = −(k1 + k2), a_ba = k1, a_ca = k2), a rate through
// exp, an entry fixed to a number and one through a parameter that is not
// estimated; a source through parameters (amp, −r), a constant one and one
// of amplitude 0; observables through 1/V with an offset, a plain sum and
// coefficients k1 and sqrt(amp); three experiments with their own x0 (a
// dose D, constants, zeros), one overriding V by V_b and D by the number 5,
// one k3 by 0.9; measurements at t = 0, at repeated times and of several
// observables at one time, in no order.
FitProblem random_fit_problem(unsigned seed);

// A random problem with doses (rates, volume, bioavailability F and
// amounts drawn from `seed`): gut → central ⇄ peripheral with elimination
// from central and a source amp·exp(−r·t) into central, observed through
// central/V, the total amount and the peripheral amount. Experiment
// "lagged": lag tlag, oral boluses of F·4 at 0 and at tD, an infusion of 3
// into central over dur from 2.5, a bolus into central at 5; tlag, tD and
// dur are parameters (0.3, 1.6, 0.8) and every measurement lies at least
// 0.05 from every event time as long as they stay within 10 %. Experiment
// "repeated": x0 gut = 1, oral boluses of 2 every 2 h from 0 to 6 with a
// second one of 1 at 4, an infusion of D into central over [0, 1), a dose
// at 30 after the last measurement, measurements 1 h after the doses and
// at event times. Experiment "plain": no doses.
FitProblem random_dosed_problem(unsigned seed);

// Legacy records posed as a FitProblem: one parameter a_<i>_<j> per entry
// of A that is not fixed (a bounded one with its bounds, at the value of
// `A`), fixed entries as numbers, x0 and the sources as numbers, one
// observable x_<c> per series, its points as measurements in series order
// with the point at t = 0 not counted.
struct PosedRecords {
  FitProblem problem;
  std::vector<EntryIndex> entries;  // the entry of each parameter
};
PosedRecords pose_records(const ProblemRecord& problem,
                          const ObservationRecord& obs, const Matrix& A);

// A parameter for a test problem: estimated, with a start value, bounds
// (none by default) and a scale.
Parameter parameter(const std::string& name, double value,
                    double lower = -kInfinity, double upper = kInfinity,
                    Scale scale = Scale::kLin);

}  // namespace identify::testing
