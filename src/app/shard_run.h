// The console program's side of shards: a shard's directory and manifest,
// and the merge (shard_plan.h, shard_files.h).
#pragma once

#include <iosfwd>
#include <optional>
#include <vector>

#include "api/pipeline.h"
#include "app/options.h"

namespace identify {

// Before the fits: makes `run` this shard's share (--shard), or for a
// merge (--merge) checks the shards and either writes the merged tables of
// fits of single experiments or puts the shards' replicates in `known` for
// the run to take. Returns the exit code when the run ends here (a fault,
// a merge of experiments, a shard with no experiment), else nothing.
std::optional<int> begin_shards(const Options& opt, const FitOptions& fit_opt,
                                PreparedRun& run,
                                std::vector<BootstrapReplicate>& known,
                                std::ostream& err);

// After a shard's tables are written: its manifest, last. False (the
// reason on `err`) if it could not be written.
bool finish_shard(const Options& opt, const FitOptions& fit_opt,
                  std::ostream& err);

}  // namespace identify
