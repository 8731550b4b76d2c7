// A multi-start fit: the same local method run from several starts, on a
// pool of worker threads, each worker with its own model and objective (a
// StartRunner). Start 0 is the usual start; the others come from a
// StartSampler, and a drawn start whose objective is not finite is drawn
// again (counted in the outcome). The outcomes, and the order in which they
// are reported, are those of the starts, whatever the number of threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "fit/multistart/optima.h"
#include "fit/multistart/start_sampler.h"

namespace identify {

// One worker's means to run a local fit. Not shared between threads. Its
// results must depend on x alone, not on what it computed before (a cached
// evaluation may be reused only where it gives the same bits).
class StartRunner {
 public:
  virtual ~StartRunner() = default;
  // The objective at coordinates x (not finite where the model is not).
  virtual double objective_at(std::span<const double> x) = 0;
  // The local fit from x: finished, objective, end point and iterations;
  // the caller fills in the start number and the re-draws. `drawn`: x is a
  // drawn start, not the usual one (a runner may bound its work).
  virtual StartOutcome fit_from(std::span<const double> x, bool drawn) = 0;
};

struct MultiStartSettings {
  int starts = 1;  // >= 1, the usual start included
  std::uint64_t seed = 1;
  int threads = 1;  // >= 1
  // Nonzero once the run is interrupted: starts not begun are skipped.
  const std::atomic<int>* interrupt = nullptr;
  // A shard of the starts: only start i with i mod shard_count ==
  // shard_index is run, the others are reported skipped.
  int shard_index = 0, shard_count = 1;
  // The outcomes of every start, fitted before (by the shards of a run):
  // taken instead of running them. Null: run them.
  const std::vector<StartOutcome>* known = nullptr;
};

// Runs the starts: start 0 from `first`, start i >= 1 from draw i − 1 of a
// sampler over `ranges`. `make_runner(worker)` is called once per worker
// thread, on that thread. `report(outcome)` is called once per start in
// ascending start order, as soon as the starts before it are done, on one
// thread at a time. A start skipped after an interrupt is reported as not
// finished, with `skipped` set.
std::vector<StartOutcome> run_starts(
    const MultiStartSettings& settings, std::span<const double> first,
    const std::vector<SampleRange>& ranges,
    const std::function<std::unique_ptr<StartRunner>(int worker)>& make_runner,
    const std::function<void(const StartOutcome&)>& report);

}  // namespace identify
