// Shard files: the manifest's lines, the Slurm array's variables, the check
// that a set of shards is one whole run, and the assembly of tables whose
// rows belong to independent units (the fits of single experiments), each
// table's rows in shard order under the one header they share.
#include "output/shard_files.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "core/exact_number.h"

namespace identify {

namespace {

std::vector<std::string> split(const std::string& text, char by) {
  std::vector<std::string> parts;
  std::string part;
  std::stringstream s(text);
  while (std::getline(s, part, by)) parts.push_back(part);
  return parts;
}

bool whole(const std::string& text, std::int64_t& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && !text.empty();
}

std::string read_text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string numbers(const std::vector<double>& values) {
  std::string text;
  for (double v : values) text += (text.empty() ? "" : ",") + exact_number(v);
  return text;
}

std::vector<double> parse_numbers(const std::string& text) {
  std::vector<double> values;
  for (const std::string& v : split(text, ',')) {
    values.push_back(std::strtod(v.c_str(), nullptr));
  }
  return values;
}

std::string slurm_shard(const SlurmArray& slurm, std::int64_t& index,
                        std::int64_t& count) {
  std::int64_t id = 0, min = 0, max = 0;
  if (slurm.id == nullptr || !whole(slurm.id, id)) {
    return "--shard slurm: expected SLURM_ARRAY_TASK_ID to be set to a whole "
           "number (run it as a task of `sbatch --array`)";
  }
  if (slurm.min != nullptr && !whole(slurm.min, min)) {
    return "--shard slurm: expected SLURM_ARRAY_TASK_MIN to be a whole number";
  }
  if (slurm.count != nullptr && whole(slurm.count, count)) {
  } else if (slurm.max != nullptr && whole(slurm.max, max)) {
    count = max - min + 1;
  } else {
    return "--shard slurm: expected SLURM_ARRAY_TASK_COUNT or "
           "SLURM_ARRAY_TASK_MAX to be set to a whole number";
  }
  index = id - min;
  if (index < 0 || index >= count) {
    return "--shard slurm: the task " + std::to_string(id) +
           " is not one of the " + std::to_string(count) +
           " tasks of the array (use --array=0-(N-1))";
  }
  return "";
}

}  // namespace

std::string shard_stem(std::int64_t index, std::int64_t count) {
  return "shard-" + std::to_string(index) + "-of-" + std::to_string(count);
}

std::string format_shard_manifest(const ShardManifest& m) {
  return "identify shard\nproblem\t" + m.problem + "\nshard\t" +
         std::to_string(m.index) + "\ncount\t" + std::to_string(m.count) +
         "\ndesign\t" + m.design + "\n";
}

std::optional<ShardManifest> parse_shard_manifest(const std::string& text) {
  const std::vector<std::string> lines = split(text, '\n');
  if (lines.size() != 5 || lines[0] != "identify shard") return std::nullopt;
  std::map<std::string, std::string> fields;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::size_t tab = lines[i].find('\t');
    if (tab == std::string::npos) return std::nullopt;
    fields[lines[i].substr(0, tab)] = lines[i].substr(tab + 1);
  }
  ShardManifest m;
  m.problem = fields["problem"];
  m.design = fields["design"];
  if (!whole(fields["shard"], m.index) || !whole(fields["count"], m.count) ||
      m.count < 1 || m.index < 0 || m.index >= m.count) {
    return std::nullopt;
  }
  return m;
}

std::string parse_shard(const std::string& text, const SlurmArray& slurm,
                        std::int64_t& index, std::int64_t& count) {
  if (text == "slurm") return slurm_shard(slurm, index, count);
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos || !whole(text.substr(0, slash), index) ||
      !whole(text.substr(slash + 1), count) || count < 1 || index < 0 ||
      index >= count) {
    return "--shard: expected K/N with 0 <= K < N (shards count from 0) or "
           "\"slurm\", found \"" +
           text + "\"";
  }
  return "";
}

std::vector<ShardManifest> read_shard_manifests(
    const std::vector<std::string>& directories, std::string& fault) {
  std::vector<ShardManifest> all;
  for (const std::string& dir : directories) {
    std::error_code ec;
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("shard-", 0) == 0 && entry.path().extension() == ".done") {
        names.push_back(entry.path());
      }
    }
    if (ec) {
      fault = "cannot read the shard directory " + dir + ": " + ec.message();
      return {};
    }
    std::sort(names.begin(), names.end());
    for (const std::filesystem::path& path : names) {
      std::optional<ShardManifest> m = parse_shard_manifest(read_text(path));
      if (!m) {
        fault = path.string() + ": expected a shard manifest, found other text";
        return {};
      }
      m->directory = dir;
      all.push_back(std::move(*m));
    }
  }
  return all;
}

std::string check_shard_set(const std::vector<ShardManifest>& shards,
                            const std::string& problem,
                            const std::string& design) {
  if (shards.empty()) return "found no finished shard (shard-K-of-N.done)";
  const std::int64_t count = shards.front().count;
  std::vector<const ShardManifest*> seen(count, nullptr);
  for (const ShardManifest& s : shards) {
    const std::string where = s.directory + "/" + shard_stem(s.index, s.count);
    if (s.count != count) {
      return where + " is one of " + std::to_string(s.count) +
             " shards, the others of " + std::to_string(count) +
             ": a shard of another run";
    }
    if (s.problem != problem) {
      return where + " is of the problem " + s.problem + ", not " + problem +
             ": a shard of another run";
    }
    if (s.design != design) {
      return where + " was run with other options (" + s.design +
             ") than these (" + design + "): a shard of another run";
    }
    if (seen[s.index] != nullptr) {
      return "shard " + std::to_string(s.index) + " of " +
             std::to_string(count) + " is there twice: in " +
             seen[s.index]->directory + " and in " + s.directory;
    }
    seen[s.index] = &s;
  }
  std::string missing;
  for (std::int64_t k = 0; k < count; ++k) {
    if (seen[k] == nullptr) {
      missing += (missing.empty() ? "" : ", ") + std::to_string(k);
    }
  }
  if (missing.empty()) return "";
  return "shards missing of " + std::to_string(count) + ": " + missing +
         " (not run, or not finished)";
}

std::string shard_file(const ShardManifest& shard, const std::string& suffix) {
  const std::filesystem::path path =
      std::filesystem::path(shard.directory) /
      (shard_stem(shard.index, shard.count) + suffix);
  std::error_code ec;
  return std::filesystem::exists(path, ec) ? read_text(path) : "";
}

std::string concatenate_tables(const std::vector<std::string>& tables,
                               std::string& fault) {
  std::string header, rows;
  for (const std::string& t : tables) {
    if (t.empty()) continue;
    const std::size_t end = t.find('\n');
    const std::string head = t.substr(0, end + 1);
    if (header.empty()) {
      header = head;
    } else if (head != header) {
      fault = "the shards' tables have different columns";
      return "";
    }
    if (end != std::string::npos) rows += t.substr(end + 1);
  }
  return header + rows;
}

std::vector<BootstrapReplicate> parse_bootstrap_rows(const std::string& table,
                                                     std::string& fault) {
  std::vector<BootstrapReplicate> replicates;
  const std::vector<std::string> lines = split(table, '\n');
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> cells = split(lines[i], '\t');
    BootstrapReplicate r;
    if (cells.size() < 4 || !whole(cells[0], r.replicate)) {
      fault = "cannot read the bootstrap row \"" + lines[i] + "\"";
      return {};
    }
    r.resample = split(cells[1], ',');
    r.objective = std::strtod(cells[2].c_str(), nullptr);
    r.status = cells[3];
    for (std::size_t c = 4; c < cells.size(); ++c) {
      r.theta.push_back(std::strtod(cells[c].c_str(), nullptr));
    }
    replicates.push_back(std::move(r));
  }
  return replicates;
}

std::string format_start_rows(const std::vector<StartOutcome>& outcomes) {
  std::string text =
      "start\tfinished\tobjective\titerations\tredraws\tskipped\tcapped\t"
      "ending\tx\ttheta\tstartX\n";
  for (const StartOutcome& o : outcomes) {
    text += std::to_string(o.start) + '\t' + (o.finished ? "1" : "0") + '\t' +
            exact_number(o.objective) + '\t' + std::to_string(o.iterations) +
            '\t' + std::to_string(o.redraws) + '\t' + (o.skipped ? "1" : "0") +
            '\t' + (o.capped ? "1" : "0") + '\t' + o.ending + '\t' +
            numbers(o.x) + '\t' + numbers(o.theta) + '\t' + numbers(o.start_x) +
            '\n';
  }
  return text;
}

std::vector<StartOutcome> parse_start_rows(const std::string& table,
                                           std::string& fault) {
  std::vector<StartOutcome> outcomes;
  const std::vector<std::string> lines = split(table, '\n');
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> c = split(lines[i], '\t');
    while (c.size() < 11 && !c.empty()) c.emplace_back();
    StartOutcome o;
    std::int64_t start = 0, redraws = 0;
    if (c.size() != 11 || !whole(c[0], start) || !whole(c[3], o.iterations) ||
        !whole(c[4], redraws)) {
      fault = "cannot read the start row \"" + lines[i] + "\"";
      return {};
    }
    o.start = static_cast<int>(start);
    o.redraws = static_cast<int>(redraws);
    o.finished = c[1] == "1";
    o.objective = std::strtod(c[2].c_str(), nullptr);
    o.skipped = c[5] == "1";
    o.capped = c[6] == "1";
    o.ending = c[7];
    o.x = parse_numbers(c[8]);
    o.theta = parse_numbers(c[9]);
    o.start_x = parse_numbers(c[10]);
    outcomes.push_back(std::move(o));
  }
  return outcomes;
}

std::string merged_table(const std::vector<ShardManifest>& shards,
                         const std::string& suffix, std::string& fault) {
  std::vector<std::string> tables;
  for (const ShardManifest& s : shards) tables.push_back(shard_file(s, suffix));
  const std::string merged = concatenate_tables(tables, fault);
  if (!fault.empty()) fault = suffix.substr(1) + ": " + fault;
  return merged;
}

std::vector<BootstrapReplicate> gather_replicates(
    const std::vector<ShardManifest>& shards, std::string& fault) {
  std::vector<BootstrapReplicate> all;
  for (const ShardManifest& s : shards) {
    std::vector<BootstrapReplicate> some =
        parse_bootstrap_rows(shard_file(s, ".bootstrap.tsv"), fault);
    if (!fault.empty()) {
      fault = s.directory + ": " + fault;
      return {};
    }
    all.insert(all.end(), some.begin(), some.end());
  }
  std::sort(all.begin(), all.end(),
            [](const BootstrapReplicate& a, const BootstrapReplicate& b) {
              return a.replicate < b.replicate;
            });
  return all;
}

std::vector<StartOutcome> gather_starts(
    const std::vector<ShardManifest>& shards, std::size_t count,
    std::string& fault) {
  std::vector<StartOutcome> starts(count);
  std::vector<char> seen(count, 0);
  for (const ShardManifest& s : shards) {
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
      fault = s.directory + ": " + fault;
      return {};
    }
  }
  const auto have = std::count(seen.begin(), seen.end(), 1);
  if (static_cast<std::size_t>(have) == count) return starts;
  fault = "the shards hold the outcomes of " + std::to_string(have) + " of " +
          std::to_string(count) + " starts";
  return {};
}

}  // namespace identify
