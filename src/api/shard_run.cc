// Shards and their merge: the shard directory is
// made before the fits, the manifest written after the tables, and the
// merge refused unless its directories hold exactly the shards of one run
// of this problem with these options.
#include "api/shard_run.h"

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "api/exit_codes.h"
#include "api/profile_stage.h"
#include "api/shard_plan.h"
#include "output/output_file.h"
#include "output/profile_side_rows.h"
#include "output/shard_files.h"

namespace identify {

namespace {

// The merged tables of shards that fitted experiments, under the names of
// the one-machine run's.
int merge_experiments(const ShardSettings& opt,
                      const std::vector<ShardManifest>& shards,
                      std::ostream& err) {
  for (const auto& [suffix, path] : {std::pair<const char*, const std::string*>{
                                         ".parameters.tsv", &opt.parameters},
                                     {".fit.tsv", &opt.fit},
                                     {".profiles.tsv", &opt.profiles},
                                     {".bootstrap.tsv", &opt.bootstrap}}) {
    if (path->empty()) continue;
    std::string fault;
    const std::string merged = merged_table(shards, suffix, fault);
    if (!fault.empty()) {
      err << "identify: --merge: " << fault << std::endl;
      return kExitInputError;
    }
    if (merged.empty()) continue;
    const std::string failure = write_output_file(*path, merged);
    if (!failure.empty()) {
      err << "identify: cannot write " << *path << ": " << failure << std::endl;
      return kExitOutputError;
    }
  }
  return kExitSuccess;
}

// Every side of the profiles of `run` from the shards' side tables, each
// once; none when the shards walked no side (the profiles had no
// threshold: the merge finds the same).
std::vector<NamedSide> gather_sides(const std::vector<ShardManifest>& shards,
                                    const PreparedRun& run,
                                    std::string& fault) {
  const std::vector<std::string> names =
      profiled_names(run.plan, run.fits[0].problem);
  std::vector<NamedSide> sides;
  std::vector<char> seen(2 * names.size(), 0);
  for (const ShardManifest& s : shards) {
    for (NamedSide& side :
         parse_side_rows(shard_file(s, ".sides.tsv"), fault)) {
      const auto at = std::find(names.begin(), names.end(), side.name);
      const std::size_t slot =
          2 * static_cast<std::size_t>(at - names.begin()) +
          (side.direction < 0 ? 0 : 1);
      if (at == names.end() || seen[slot]) {
        fault = "the side of the profile of " + side.name +
                " is not one still to merge";
        break;
      }
      seen[slot] = 1;
      sides.push_back(std::move(side));
    }
    if (!fault.empty()) {
      fault = s.directory + ": " + fault;
      return {};
    }
  }
  if (sides.empty() || sides.size() == seen.size()) return sides;
  fault = "the shards hold " + std::to_string(sides.size()) + " of the " +
          std::to_string(seen.size()) + " sides of the profiles";
  return {};
}

std::optional<int> begin_merge(const ShardSettings& opt,
                               const FitOptions& fit_opt,
                               const PreparedRun& run, ShardWork& known,
                               std::ostream& err) {
  std::string fault;
  std::vector<ShardManifest> shards =
      read_shard_manifests(opt.merge_dirs, fault);
  if (fault.empty())
    fault = check_shard_set(shards, opt.problem, design_of(fit_opt));
  if (!fault.empty()) {
    err << "identify: --merge: " << fault << std::endl;
    return kExitInputError;
  }
  std::sort(shards.begin(), shards.end(),
            [](const ShardManifest& a, const ShardManifest& b) {
              return a.index < b.index;
            });
  if (shards_split_experiments(run)) return merge_experiments(opt, shards, err);
  if (shards_split_sides(run)) {
    known.sides = gather_sides(shards, run, fault);
  } else if (shards_split_starts(run)) {
    known.starts = gather_starts(
        shards, static_cast<std::size_t>(run.plan.choice.starts), fault);
  } else {
    known.replicates = gather_replicates(shards, fault);
  }
  if (fault.empty()) return std::nullopt;
  err << "identify: --merge: " << fault << std::endl;
  return kExitInputError;
}

}  // namespace

std::optional<int> begin_shards(const ShardSettings& opt,
                                const FitOptions& fit_opt, PreparedRun& run,
                                ShardWork& known, std::ostream& err) {
  if (!opt.merge_dirs.empty()) {
    const std::optional<int> code = begin_merge(opt, fit_opt, run, known, err);
    if (code) return code;
    if (!known.replicates.empty()) run.plan.known_replicates = &known.replicates;
    if (!known.starts.empty()) run.plan.known_starts = &known.starts;
    if (!known.sides.empty()) run.plan.known_sides = &known.sides;
    return std::nullopt;
  }
  if (opt.count == 0) return std::nullopt;
  const std::string fault = take_shard(run, opt.index, opt.count);
  if (!fault.empty()) {
    err << "identify: " << fault << std::endl;
    return kExitUsage;
  }
  std::error_code ec;
  std::filesystem::create_directories(opt.dir, ec);
  if (ec) {
    err << "identify: cannot make " << opt.dir << ": " << ec.message()
        << std::endl;
    return kExitOutputError;
  }
  if (!run.fits.empty()) return std::nullopt;
  return finish_shard(opt, fit_opt, run, err) ? kExitSuccess : kExitOutputError;
}

bool finish_shard(const ShardSettings& opt, const FitOptions& fit_opt,
                  const PreparedRun& run, std::ostream& err) {
  const std::string stem =
      (std::filesystem::path(opt.dir) / shard_stem(opt.index, opt.count))
          .string();
  std::string work, suffix;
  if (run.plan.shard.splits_starts && run.fits[0].search.starts) {
    std::vector<StartOutcome> mine;
    for (const StartOutcome& o : run.fits[0].search.starts->outcomes) {
      if (o.start % opt.count == opt.index) mine.push_back(o);
    }
    work = format_start_rows(mine);
    suffix = ".starts.tsv";
  } else if (run.plan.shard.splits_sides) {
    work = format_side_rows(run.fits[0].search.shard_sides);
    suffix = ".sides.tsv";
  }
  if (!suffix.empty()) {
    const std::string path = stem + suffix;
    const std::string failure = write_output_file(path, work);
    if (!failure.empty()) {
      err << "identify: cannot write " << path << ": " << failure << std::endl;
      return false;
    }
  }
  ShardManifest m;
  m.problem = opt.problem;
  m.index = opt.index;
  m.count = opt.count;
  m.design = design_of(fit_opt);
  const std::string path = stem + ".done";
  const std::string failure = write_output_file(path, format_shard_manifest(m));
  if (failure.empty()) return true;
  err << "identify: cannot write " << path << ": " << failure << std::endl;
  return false;
}

}  // namespace identify
