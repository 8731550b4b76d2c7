// Shards of a run: a contiguous block of experiments per shard, so that
// the merged tables, fit after fit, are the shards' rows in shard order;
// or the replicates, the profile sides or the starts dealt out in turn, so
// that every shard has a like share whatever their number.
#include "api/shard_plan.h"

#include <iterator>

#include "core/exact_number.h"

namespace identify {

std::string design_of(const FitOptions& o) {
  std::string names;
  for (const std::string& n : o.profile_names) {
    names += (names.empty() ? "" : ",") + n;
  }
  return "method=" + o.method.value_or("default") +
         " model=" + o.model.value_or("default") + " starts=" +
         (o.starts ? std::to_string(*o.starts) : std::string("default")) +
         " seed=" + std::to_string(o.seed) +
         " separately=" + (o.separately ? "yes" : "no") +
         " profile=" + (o.profile ? "yes" : "no") + " names=" + names +
         " bootstrap=" + std::to_string(o.bootstrap) +
         " max-iter=" + std::to_string(o.max_iter) +
         " patience=" + std::to_string(o.patience) +
         " min-improvement=" + exact_number(o.min_improvement);
}

bool shards_split_experiments(const PreparedRun& run) {
  return run.plan.separately;
}

bool shards_split_sides(const PreparedRun& run) {
  return !run.plan.separately && run.plan.bootstrap <= 0 && run.plan.profile;
}

bool shards_split_starts(const PreparedRun& run) {
  return !run.plan.separately && run.plan.bootstrap <= 0 &&
         !run.plan.profile && run.plan.choice.starts > 1;
}

std::string take_shard(PreparedRun& run, std::int64_t index,
                       std::int64_t count) {
  if (shards_split_experiments(run)) {
    const auto size = static_cast<std::int64_t>(run.fits.size());
    const std::int64_t first = index * size / count;
    const std::int64_t end = (index + 1) * size / count;
    std::vector<ProblemFit> mine(
        std::make_move_iterator(run.fits.begin() + first),
        std::make_move_iterator(run.fits.begin() + end));
    run.fits = std::move(mine);
    return "";
  }
  if (run.plan.bootstrap > 0) {
    run.plan.shard = {index, count, true, false};
    return "";
  }
  if (shards_split_sides(run)) {
    // Every shard fits the result the profiles start from, to the same bit.
    run.plan.shard = {index, count, false, false, true};
    return "";
  }
  if (run.plan.choice.starts <= 1) {
    return "--shard: expected --separately, --bootstrap, --profile or "
           "--starts N with it (a single fit from one start has no "
           "independent units to split)";
  }
  if (run.plan.verbose) {
    return "--shard: expected no --verbose with shards of the starts (their "
           "progress lines are not kept), found it";
  }
  run.plan.shard = {index, count, false, true};
  return "";
}

}  // namespace identify
