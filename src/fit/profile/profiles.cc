// Task 2q is the lower side of target q and task 2q + 1 its upper side; each
// starts from the optimum with the others at their optimal coordinates.
// The points of a target's two sides and the optimum itself are merged and
// sorted by coordinate for tables and plots.
#include "fit/profile/profiles.h"

#include <algorithm>
#include <cmath>

#include "fit/multistart/worker_pool.h"

namespace identify {

namespace {

// Relative difference of two objectives below which they are tied.
constexpr double kTieTolerance = 1e-12;

std::vector<double> without(std::span<const double> x, int j) {
  std::vector<double> others(x.begin(), x.end());
  others.erase(others.begin() + j);
  return others;
}

ProfileSettings settings_of(const ProfileTarget& t, std::span<const double> x,
                            double objective, double threshold,
                            const std::atomic<int>* interrupt) {
  ProfileSettings s;
  s.interrupt = interrupt;
  s.scale = t.scale;
  s.optimum_x = x[t.j];
  s.optimum_objective = objective;
  s.threshold = threshold;
  s.lower = t.lower;
  s.upper = t.upper;
  s.first_step = t.first_step;
  return s;
}

ParameterProfile merge(const ProfileTarget& t, std::span<const double> x,
                       double objective, ProfileSide lower, ProfileSide upper) {
  ParameterProfile p;
  p.j = t.j;
  p.points = lower.points;
  p.points.insert(p.points.end(), upper.points.begin(), upper.points.end());
  p.points.push_back({x[t.j], objective, without(x, t.j)});
  std::stable_sort(
      p.points.begin(), p.points.end(),
      [](const ProfilePoint& a, const ProfilePoint& b) { return a.x < b.x; });
  p.lower = std::move(lower);
  p.upper = std::move(upper);
  return p;
}

void note_lower(const ProfileSide& side, int j,
                std::optional<LowerPoint>& lowest) {
  if (!side.below_optimum) return;
  const ProfilePoint& p = *side.below_optimum;
  // Objectives that agree to rounding are a tie (mirror optima of a
  // symmetric model reach the same value from either side): the last one
  // profiled is kept, so the choice never hangs on the last bits of the
  // re-fits.
  if (lowest && p.objective > lowest->objective +
                                  kTieTolerance * std::abs(lowest->objective)) {
    return;
  }
  LowerPoint l;
  l.j = j;
  l.objective = p.objective;
  l.x = p.others;
  l.x.insert(l.x.begin() + j, p.x);
  lowest = std::move(l);
}

}  // namespace

ProfileRun run_profiles(
    const std::vector<ProfileTarget>& targets, std::span<const double> x,
    double objective, double threshold, int threads,
    const std::function<std::unique_ptr<ProfileRunner>(int worker)>&
        make_runner,
    const std::atomic<int>* interrupt, const SideShare& share) {
  const int tasks = 2 * static_cast<int>(targets.size());
  std::vector<ProfileSide> sides(tasks);
  WorkerPool pool(threads);
  std::vector<std::unique_ptr<ProfileRunner>> runners(pool.threads());
  std::vector<int> walked;
  for (int task = 0; task < tasks; ++task) {
    std::optional<ProfileSide> known;
    if (share.known) known = share.known(task);
    if (known) {
      sides[task] = std::move(*known);
    } else if (task % share.count == share.index) {
      walked.push_back(task);
    } else {
      sides[task].end = SideEnd::kInterrupted;
      sides[task].value = from_scaled(targets[task / 2].scale,
                                      x[targets[task / 2].j]);
    }
  }
  pool.run(static_cast<int>(walked.size()), [&](int worker, int i) {
    const int task = walked[i];
    const ProfileTarget& t = targets[task / 2];
    if (interrupt && interrupt->load() != 0) {
      sides[task].end = SideEnd::kInterrupted;
      sides[task].value = from_scaled(t.scale, x[t.j]);
      return;
    }
    if (!runners[worker]) runners[worker] = make_runner(worker);
    ProfileRunner& runner = *runners[worker];
    const Reoptimise reoptimise = [&](double v, std::span<const double> start,
                                      std::vector<double>& others) {
      return runner.reoptimise(t.j, v, start, others);
    };
    sides[task] = profile_side(
        task % 2 == 0 ? -1 : 1, without(x, t.j),
        settings_of(t, x, objective, threshold, interrupt), reoptimise);
  });
  ProfileRun run;
  for (std::size_t q = 0; q < targets.size(); ++q) {
    note_lower(sides[2 * q], targets[q].j, run.below_optimum);
    note_lower(sides[2 * q + 1], targets[q].j, run.below_optimum);
    run.profiles.push_back(merge(targets[q], x, objective,
                                 std::move(sides[2 * q]),
                                 std::move(sides[2 * q + 1])));
  }
  return run;
}

}  // namespace identify
