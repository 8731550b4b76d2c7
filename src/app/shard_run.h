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
// the run to take, or their starts in `starts`. Returns the exit code when
// the run ends here (a fault, a merge of experiments, a shard with no
// experiment), else nothing.
std::optional<int> begin_shards(const Options& opt, const FitOptions& fit_opt,
                                PreparedRun& run,
                                std::vector<BootstrapReplicate>& known,
                                std::vector<StartOutcome>& starts,
                                std::ostream& err);

// After a shard's tables are written: the outcomes of its starts when it
// split them, then its manifest, last. False (the reason on `err`) if a
// file could not be written.
bool finish_shard(const Options& opt, const FitOptions& fit_opt,
                  const PreparedRun& run, std::ostream& err);

}  // namespace identify
