// The starts are the pool's tasks. Each worker makes its runner on its first
// task; a drawn start is tried at draws 0, 1, ... until its objective is
// finite (kMaxStartDraws at most) and then fitted. Outcomes go into a slot
// per start; a worker that finishes start i reports every finished start
// from the first not yet reported on, under a mutex, so the report order is
// the start order whichever thread finishes first.
#include "fit/multistart/multistart.h"

#include <cmath>
#include <mutex>

#include "fit/multistart/worker_pool.h"

namespace identify {

namespace {

StartOutcome run_one(int start, std::span<const double> first,
                     const StartSampler& sampler, StartRunner& runner,
                     std::vector<double>& x) {
  if (start == 0) {
    StartOutcome o = runner.fit_from(first, false);
    o.start = 0;
    o.start_x.assign(first.begin(), first.end());
    return o;
  }
  int draw = 0;
  for (; draw < kMaxStartDraws; ++draw) {
    sampler.draw(start - 1, draw, x);
    if (std::isfinite(runner.objective_at(x))) break;
  }
  StartOutcome o;
  if (draw < kMaxStartDraws) o = runner.fit_from(x, true);
  o.start = start;
  o.redraws = draw;
  o.start_x = x;
  return o;
}

}  // namespace

std::vector<StartOutcome> run_starts(
    const MultiStartSettings& settings, std::span<const double> first,
    const std::vector<SampleRange>& ranges,
    const std::function<std::unique_ptr<StartRunner>(int worker)>& make_runner,
    const std::function<void(const StartOutcome&)>& report) {
  const int count = settings.starts;
  const StartSampler sampler(ranges, count - 1, settings.seed);
  std::vector<StartOutcome> outcomes(count);
  std::vector<char> done(count, 0);
  int reported = 0;
  std::mutex report_mutex;
  WorkerPool pool(settings.threads);
  std::vector<std::unique_ptr<StartRunner>> runners(pool.threads());
  std::vector<std::vector<double>> scratch(pool.threads(),
                                           std::vector<double>(ranges.size()));
  pool.run(count, [&](int worker, int start) {
    StartOutcome o;
    if (settings.known != nullptr) {
      o = (*settings.known)[start];
    } else if (start % settings.shard_count != settings.shard_index ||
               (settings.interrupt && settings.interrupt->load() != 0)) {
      o.start = start;
      o.skipped = true;
    } else {
      if (!runners[worker]) runners[worker] = make_runner(worker);
      o = run_one(start, first, sampler, *runners[worker], scratch[worker]);
    }
    std::lock_guard<std::mutex> lock(report_mutex);
    outcomes[start] = std::move(o);
    done[start] = 1;
    while (reported < count && done[reported]) report(outcomes[reported++]);
  });
  return outcomes;
}

}  // namespace identify
