// The files of a run split into shards. Shard K of N (K from 0) writes its
// tables into the shard directory as shard-K-of-N.parameters.tsv,
// shard-K-of-N.fit.tsv, shard-K-of-N.profiles.tsv and
// shard-K-of-N.bootstrap.tsv (those it has), each atomically, and last the
// manifest shard-K-of-N.done:
//
//   identify shard
//   problem <TAB> the problem file's name as given
//   shard <TAB> K
//   count <TAB> N
//   design <TAB> the options that decide the results (design_of)
//
// A shard without its manifest has not finished. The merge reads the
// manifests of its directories, refuses a set that is not exactly shards 0
// to N − 1 of one run, and assembles the outputs of the whole run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fit/multistart/optima.h"
#include "output/bootstrap_table.h"

namespace identify {

struct ShardManifest {
  std::string problem;
  std::int64_t index = 0, count = 1;
  std::string design;
  std::string directory;  // where it was read; not written
};

// "shard-K-of-N".
std::string shard_stem(std::int64_t index, std::int64_t count);

// The manifest's text.
std::string format_shard_manifest(const ShardManifest& manifest);

// The manifest of `text`, or nothing if it is not one.
std::optional<ShardManifest> parse_shard_manifest(const std::string& text);

// "K/N" with 0 <= K < N (K from 0), or "slurm" with the values of
// SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_COUNT, or of
// SLURM_ARRAY_TASK_MIN and SLURM_ARRAY_TASK_MAX when there is no count
// (null: not set): K = ID − MIN, N = COUNT or MAX − MIN + 1. Returns the
// fault in the command line's words, or "" with `index` and `count` set.
struct SlurmArray {
  const char* id = nullptr;
  const char* count = nullptr;
  const char* min = nullptr;
  const char* max = nullptr;
};
std::string parse_shard(const std::string& text, const SlurmArray& slurm,
                        std::int64_t& index, std::int64_t& count);

// The manifests found in `directories` (every shard-*-of-*.done), in the
// order of their directories and names; `fault` gets the first that cannot
// be read.
std::vector<ShardManifest> read_shard_manifests(
    const std::vector<std::string>& directories, std::string& fault);

// Why `shards` are not shards 0 to N − 1 of one run of `problem` with
// `design` ("" when they are): none found, a count or design or problem
// that differs (a foreign shard), a shard found twice, or missing ones.
std::string check_shard_set(const std::vector<ShardManifest>& shards,
                            const std::string& problem,
                            const std::string& design);

// The file `suffix` (".parameters.tsv") of `shard`; empty when it does not
// exist.
std::string shard_file(const ShardManifest& shard, const std::string& suffix);

// The rows of `tables` (header and rows each) under one header, in order:
// tables that are "" are skipped; `fault` is set when two headers differ.
std::string concatenate_tables(const std::vector<std::string>& tables,
                               std::string& fault);

// The replicates of a bootstrap table of one fit (no experiment column),
// numbers read back exactly; `fault` is set for a row that cannot be read.
std::vector<BootstrapReplicate> parse_bootstrap_rows(const std::string& table,
                                                     std::string& fault);

// The table `suffix` (".parameters.tsv") of the whole run from shards of
// experiments (sorted by index): their rows one after another
// (concatenate_tables); "" when no shard has one.
std::string merged_table(const std::vector<ShardManifest>& shards,
                         const std::string& suffix, std::string& fault);

// The replicates of every shard's bootstrap table, in replicate order.
std::vector<BootstrapReplicate> gather_replicates(
    const std::vector<ShardManifest>& shards, std::string& fault);

// Every start's outcome (`count` starts) from the shards' start tables, in
// start order; `fault` is set for a start found twice, out of range, or
// in no shard.
std::vector<StartOutcome> gather_starts(
    const std::vector<ShardManifest>& shards, std::size_t count,
    std::string& fault);

// The outcomes of a shard's starts: header start, finished, objective,
// iterations, redraws, skipped, capped, ending, x, theta, startX; one row
// per outcome, the vectors' values joined by ",", numbers with 17
// significant digits so that they read back as the same doubles.
std::string format_start_rows(const std::vector<StartOutcome>& outcomes);

// The outcomes of format_start_rows; `fault` is set for a row that cannot
// be read.
std::vector<StartOutcome> parse_start_rows(const std::string& table,
                                           std::string& fault);

}  // namespace identify
