// A run's side of shards: a shard's directory and manifest, and the merge
// (shard_plan.h, shard_files.h). Faults are reported on the given stream,
// one "identify: " line each, with the exit code the run ends with.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "api/pipeline.h"

namespace identify {

// The shard settings of a run of the problem file `problem`: shard
// `index` (from 0) of `count` (0: not a shard) writing into `dir`, or the
// merge of the shards in `merge_dirs` (empty: no merge) into the one-machine
// run's tables (an empty name: that table is not written).
struct ShardSettings {
  std::string problem;
  std::int64_t index = 0, count = 0;
  std::string dir;
  std::vector<std::string> merge_dirs;
  std::string parameters, fit, profiles, bootstrap;
};

// What a merge takes from the shards instead of computing it again.
struct ShardWork {
  std::vector<BootstrapReplicate> replicates;
  std::vector<StartOutcome> starts;
  std::vector<NamedSide> sides;
};

// Before the fits: makes `run` this shard's share (--shard), or for a
// merge (--merge) checks the shards and either writes the merged tables of
// fits of single experiments or puts the shards' replicates, starts or
// profile sides in `known` for the run to take (`known` must outlive the
// run). Returns the exit code when the run ends here (a fault, a merge of
// experiments, a shard with no experiment), else nothing.
std::optional<int> begin_shards(const ShardSettings& opt,
                                const FitOptions& fit_opt, PreparedRun& run,
                                ShardWork& known, std::ostream& err);

// After a shard's tables are written: the outcomes of its starts or the
// profile sides it walked when it split them, then its manifest, last. False (the reason on `err`) if a
// file could not be written.
bool finish_shard(const ShardSettings& opt, const FitOptions& fit_opt,
                  const PreparedRun& run, std::ostream& err);

}  // namespace identify
