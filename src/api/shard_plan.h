// How a run is split into shards and put back together. The units of work
// are the fits of single experiments (--separately: shard K of N fits the
// experiments K·E/N to (K+1)·E/N − 1, rounded down, E the experiments),
// or else the bootstrap replicates (replicate r is shard (r − 1) mod N's;
// every shard fits the estimate the replicates start from, which is the
// same to the last bit on every machine), or else with profiles their sides
// (side t, 2q and 2q + 1 the sides of the q-th profile, is shard t mod N's;
// every shard runs the starts and fits the result the profiles start from,
// and the merge takes the sides, or walks the profiles again itself if
// they met a lower optimum), or else the starts (start i from 0 is shard
// i mod N's; the merge then groups them into optima and fits the result's
// start again). A single fit from one start without a bootstrap or
// profiles has nothing to split.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "api/pipeline.h"
#include "identify/options.h"
#include "output/bootstrap_table.h"

namespace identify {

// The options of `options` that decide what a run finds, as one line: two
// shards (or a shard and the merge) belong to one run only if theirs are
// equal. The threads, the verbosity and the outputs are not among them.
std::string design_of(const FitOptions& options);

// Makes `run` shard `index` of `count`: the block of its experiments, or
// its share of the replicates. Returns "" or the fault in the command
// line's words.
std::string take_shard(PreparedRun& run, std::int64_t index,
                       std::int64_t count);

// Whether the shards of `run` split the experiments (so that the merge
// puts their tables one after another) rather than the replicates (so that
// the merge fits the estimate again and takes the replicates from them).
bool shards_split_experiments(const PreparedRun& run);

// Whether the shards of `run` split the sides of its profiles.
bool shards_split_sides(const PreparedRun& run);

// Whether the shards of `run` split its starts.
bool shards_split_starts(const PreparedRun& run);

}  // namespace identify
