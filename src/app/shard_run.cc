// Shards and their merge for the console program: the shard directory is
// made before the fits, the manifest written after the tables, and the
// merge refused unless its directories hold exactly the shards of one run
// of this problem with these options.
#include "app/shard_run.h"

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "api/exit_codes.h"
#include "api/shard_plan.h"
#include "output/output_file.h"
#include "output/shard_files.h"

namespace identify {

namespace {

// The merged tables of shards that fitted experiments: each file the
// one-machine run writes, its rows from the shards in order.
int merge_experiments(const Options& opt,
                      const std::vector<ShardManifest>& shards,
                      std::ostream& err) {
  for (const auto& [suffix, path] :
       {std::pair<const char*, const std::string*>{".parameters.tsv",
                                                   &opt.parameters},
        {".fit.tsv", &opt.fit},
        {".profiles.tsv", &opt.profiles},
        {".bootstrap.tsv", &opt.bootstrap_file}}) {
    if (path->empty()) continue;
    std::vector<std::string> tables;
    for (const ShardManifest& s : shards) {
      tables.push_back(shard_file(s, suffix));
    }
    std::string fault;
    const std::string merged = concatenate_tables(tables, fault);
    if (!fault.empty()) {
      err << "identify: --merge: " << suffix + 1 << ": " << fault
          << std::endl;
      return kExitInputError;
    }
    if (merged.empty()) continue;
    const std::string failure = write_output_file(*path, merged);
    if (!failure.empty()) {
      err << "identify: cannot write " << *path << ": " << failure
          << std::endl;
      return kExitOutputError;
    }
  }
  return kExitSuccess;
}

// The replicates of every shard, in replicate order.
bool gather_replicates(const std::vector<ShardManifest>& shards,
                       std::vector<BootstrapReplicate>& known,
                       std::ostream& err) {
  for (const ShardManifest& s : shards) {
    std::string fault;
    std::vector<BootstrapReplicate> some =
        parse_bootstrap_rows(shard_file(s, ".bootstrap.tsv"), fault);
    if (!fault.empty()) {
      err << "identify: --merge: " << s.directory << ": " << fault
          << std::endl;
      return false;
    }
    known.insert(known.end(), some.begin(), some.end());
  }
  std::sort(known.begin(), known.end(),
            [](const BootstrapReplicate& a, const BootstrapReplicate& b) {
              return a.replicate < b.replicate;
            });
  return true;
}

// Every start's outcome from the shards that ran it, in start order.
bool gather_starts(const std::vector<ShardManifest>& shards,
                   std::size_t count, std::vector<StartOutcome>& starts,
                   std::ostream& err) {
  starts.assign(count, StartOutcome());
  std::vector<char> seen(count, 0);
  for (const ShardManifest& s : shards) {
    std::string fault;
    for (StartOutcome& o :
         parse_start_rows(shard_file(s, ".starts.tsv"), fault)) {
      if (o.start < 0 || static_cast<std::size_t>(o.start) >= count ||
          seen[o.start]) {
        fault = "start " + std::to_string(o.start + 1) +
                " is not one of the starts still to merge";
        break;
      }
      seen[o.start] = 1;
      starts[o.start] = std::move(o);
    }
    if (!fault.empty()) {
      err << "identify: --merge: " << s.directory << ": " << fault
          << std::endl;
      return false;
    }
  }
  if (std::find(seen.begin(), seen.end(), 0) == seen.end()) return true;
  err << "identify: --merge: the shards hold the outcomes of "
      << std::count(seen.begin(), seen.end(), 1) << " of " << count
      << " starts" << std::endl;
  return false;
}

std::optional<int> begin_merge(const Options& opt, const FitOptions& fit_opt,
                               const PreparedRun& run,
                               std::vector<BootstrapReplicate>& known,
                               std::vector<StartOutcome>& starts,
                               std::ostream& err) {
  std::string fault;
  std::vector<ShardManifest> shards =
      read_shard_manifests(opt.merge_dirs, fault);
  if (fault.empty()) fault = check_shard_set(shards, opt.problem, design_of(fit_opt));
  if (!fault.empty()) {
    err << "identify: --merge: " << fault << std::endl;
    return kExitInputError;
  }
  std::sort(shards.begin(), shards.end(),
            [](const ShardManifest& a, const ShardManifest& b) {
              return a.index < b.index;
            });
  if (shards_split_experiments(run)) return merge_experiments(opt, shards, err);
  if (shards_split_starts(run)) {
    const auto count = static_cast<std::size_t>(run.plan.choice.starts);
    if (!gather_starts(shards, count, starts, err)) return kExitInputError;
    return std::nullopt;
  }
  if (!gather_replicates(shards, known, err)) return kExitInputError;
  return std::nullopt;
}

}  // namespace

std::optional<int> begin_shards(const Options& opt, const FitOptions& fit_opt,
                                PreparedRun& run,
                                std::vector<BootstrapReplicate>& known,
                                std::vector<StartOutcome>& starts,
                                std::ostream& err) {
  if (!opt.merge_dirs.empty()) {
    const std::optional<int> code =
        begin_merge(opt, fit_opt, run, known, starts, err);
    if (code) return code;
    if (!known.empty()) run.plan.known_replicates = &known;
    if (!starts.empty()) run.plan.known_starts = &starts;
    return std::nullopt;
  }
  if (opt.shard_count == 0) return std::nullopt;
  const std::string fault = take_shard(run, opt.shard_index, opt.shard_count);
  if (!fault.empty()) {
    err << "identify: " << fault << std::endl;
    return kExitUsage;
  }
  std::error_code ec;
  std::filesystem::create_directories(opt.shard_dir, ec);
  if (ec) {
    err << "identify: cannot make " << opt.shard_dir << ": " << ec.message()
        << std::endl;
    return kExitOutputError;
  }
  if (!run.fits.empty()) return std::nullopt;
  return finish_shard(opt, fit_opt, run, err) ? kExitSuccess
                                              : kExitOutputError;
}

bool finish_shard(const Options& opt, const FitOptions& fit_opt,
                  const PreparedRun& run, std::ostream& err) {
  const std::string stem =
      (std::filesystem::path(opt.shard_dir) /
       shard_stem(opt.shard_index, opt.shard_count))
          .string();
  if (run.plan.shard.splits_starts && run.fits[0].search.starts) {
    std::vector<StartOutcome> mine;
    for (const StartOutcome& o : run.fits[0].search.starts->outcomes) {
      if (o.start % opt.shard_count == opt.shard_index) mine.push_back(o);
    }
    const std::string path = stem + ".starts.tsv";
    const std::string failure =
        write_output_file(path, format_start_rows(mine));
    if (!failure.empty()) {
      err << "identify: cannot write " << path << ": " << failure
          << std::endl;
      return false;
    }
  }
  ShardManifest m;
  m.problem = opt.problem;
  m.index = opt.shard_index;
  m.count = opt.shard_count;
  m.design = design_of(fit_opt);
  const std::string path = stem + ".done";
  const std::string failure = write_output_file(path, format_shard_manifest(m));
  if (failure.empty()) return true;
  err << "identify: cannot write " << path << ": " << failure << std::endl;
  return false;
}

}  // namespace identify
