// Shards and their merge: the merged outputs against the run done at once,
// bit for bit, for fits of single experiments (with starts, profiles and a
// bootstrap), for the starts of one fit and for its replicates; the shard sets
// and options that are refused; the Slurm array's variables and the manifest.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <regex>
#include <string>

#include "output/shard_files.h"
#include "run_binary.h"

namespace identify::testing {
namespace {

const char* kTables[] = {"problem.parameters.tsv", "problem.fit.tsv",
                         "problem.profiles.tsv", "problem.bootstrap.tsv"};

// Runs `options` at once, then as `shards` shards one after another and
// their merge, and compares every table.
void expect_merge_equals_whole_run(const std::string& options, int shards,
                                   const std::string& merge_extra = "") {
  ScratchDir whole("theophylline_12");
  RunResult r = whole.run("problem.yaml " + options + merge_extra);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ScratchDir split("theophylline_12");
  for (int k = 0; k < shards; ++k) {
    r = split.run("problem.yaml " + options + " --shard " + std::to_string(k) +
                  "/" + std::to_string(shards) + " --shard-dir parts");
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(split.file("problem.parameters.tsv")));
  r = split.run("problem.yaml " + options + merge_extra + " --merge parts");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  for (const char* table : kTables) {
    EXPECT_EQ(split.read(table), whole.read(table)) << table;
  }
}

TEST(ShardRun, ExperimentsMergeBitForBit) {
  // Five shards of twelve experiments: blocks of two and three.
  expect_merge_equals_whole_run(
      "--separately --starts 3 --profile --bootstrap 20 -q", 5);
}

TEST(ShardRun, StartsMergeBitForBitAndTheMergeProfiles) {
  expect_merge_equals_whole_run("--starts 7 --profile -q", 3);
}

TEST(ShardRun, ReplicatesMergeBitForBitWithTheReport) {
  expect_merge_equals_whole_run("--starts 3 --profile --bootstrap 12 -q", 3,
                                " --report r.txt");
  // The report differs only in its time line.
  ScratchDir a("theophylline_12");
  const std::string options = "problem.yaml --bootstrap 4 --starts 2 -q";
  ASSERT_EQ(a.run(options + " --report r.txt").exit_code, 0);
  ASSERT_EQ(a.run(options + " --shard 0/2 --shard-dir p").exit_code, 0);
  ASSERT_EQ(a.run(options + " --shard 1/2 --shard-dir p").exit_code, 0);
  ASSERT_EQ(a.run(options + " --merge p --report m.txt").exit_code, 0);
  const std::regex time("  time +[0-9.e+-]+ s\n");
  EXPECT_EQ(std::regex_replace(a.read("m.txt"), time, ""),
            std::regex_replace(a.read("r.txt"), time, ""));
}

TEST(ShardRun, BadShardSetsAndOptionsAreRefused) {
  ScratchDir dir("theophylline_12");
  const std::string run = "problem.yaml --separately -q ";
  for (int k = 0; k < 3; ++k) {
    ASSERT_EQ(dir.run(run + "--shard " + std::to_string(k) + "/3 --shard-dir a")
                  .exit_code,
              0);
  }
  ASSERT_EQ(dir.run(run + "--shard 1/3 --shard-dir b").exit_code, 0);
  ASSERT_EQ(dir.run(run + "--shard 0/2 --shard-dir c").exit_code, 0);
  ASSERT_EQ(dir.run("problem.yaml --separately -q --seed 2 --shard 0/3 "
                    "--shard-dir d")
                .exit_code,
            0);
  std::filesystem::create_directory(dir.file("empty"));
  const struct {
    const char* args;
    int code;
    const char* message;
  } cases[] = {
      {"--merge a,b", 3, "shard 1 of 3 is there twice: in a and in b"},
      {"--merge b", 3, "shards missing of 3: 0, 2"},
      {"--merge a,c", 3, "is one of 2 shards, the others of 3"},
      {"--merge a,d", 3, "was run with other options"},
      {"--merge empty", 3, "found no finished shard"},
      {"--merge nowhere", 3, "cannot read the shard directory nowhere"},
      {"--shard 3/3", 2, "--shard: expected K/N with 0 <= K < N"},
      {"--shard 1/x", 2, "--shard: expected K/N"},
      {"--shard 0/2 --report r.txt", 2, "--report: expected no such output"},
      {"--shard 0/2 --merge a", 2, "--merge: expected no --shard with it"},
  };
  for (const auto& c : cases) {
    const RunResult r = dir.run(run + c.args);
    EXPECT_EQ(r.exit_code, c.code) << c.args << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << r.err;
  }
  // The merge as a subcommand: the same files as --merge.
  ASSERT_EQ(dir.run(run + "--merge a").exit_code, 0);
  const std::string merged = dir.read("problem.parameters.tsv");
  std::filesystem::remove(dir.file("problem.parameters.tsv"));
  RunResult sub = dir.run("merge problem.yaml a --separately -q");
  ASSERT_EQ(sub.exit_code, 0) << sub.err;
  EXPECT_EQ(dir.read("problem.parameters.tsv"), merged);
  for (const char* args : {"merge problem.yaml", "merge problem.yaml a,b"}) {
    sub = dir.run(args);
    EXPECT_EQ(sub.exit_code, 2) << args;
    EXPECT_NE(sub.err.find("identify: merge: expected"), std::string::npos)
        << args << sub.err;
  }
  // A shard of starts whose table of outcomes went missing.
  for (int k = 0; k < 2; ++k) {
    ASSERT_EQ(dir.run("problem.yaml -q --starts 4 --shard " +
                      std::to_string(k) + "/2 --shard-dir s")
                  .exit_code,
              0);
  }
  std::filesystem::remove(dir.file("s/shard-1-of-2.starts.tsv"));
  const RunResult lost = dir.run("problem.yaml -q --starts 4 --merge s");
  EXPECT_EQ(lost.exit_code, 3);
  EXPECT_NE(lost.err.find("the shards hold the outcomes of 2 of 4 starts"),
            std::string::npos)
      << lost.err;
  // A single fit from one start has nothing to split without a bootstrap.
  const RunResult r = dir.run("problem.yaml --starts 1 --shard 0/2");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("no independent units to split"), std::string::npos);
}

TEST(ShardFiles, SlurmVariablesAndManifest) {
  std::int64_t k = -1, n = -1;
  EXPECT_EQ(parse_shard("slurm", {"3", "4", "0", "3"}, k, n), "");
  EXPECT_EQ(k, 3);
  EXPECT_EQ(n, 4);
  // An array 5-8 without a count: task 6 is shard 1 of 4.
  EXPECT_EQ(parse_shard("slurm", {"6", nullptr, "5", "8"}, k, n), "");
  EXPECT_EQ(k, 1);
  EXPECT_EQ(n, 4);
  EXPECT_NE(parse_shard("slurm", {}, k, n).find("SLURM_ARRAY_TASK_ID"),
            std::string::npos);
  EXPECT_NE(parse_shard("slurm", {"9", "4", "0", "3"}, k, n).find("not one of"),
            std::string::npos);

  ShardManifest m{"p.yaml", 2, 5, "seed=1", ""};
  const std::optional<ShardManifest> back =
      parse_shard_manifest(format_shard_manifest(m));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->problem, "p.yaml");
  EXPECT_EQ(back->index, 2);
  EXPECT_EQ(back->count, 5);
  EXPECT_EQ(back->design, "seed=1");
  EXPECT_FALSE(parse_shard_manifest("identify shard\nshard\t5\ncount\t5\n"));

  // Start outcomes read back to the bit, empty vectors and NaN included.
  StartOutcome o;
  o.start = 4;
  o.finished = true;
  o.objective = 0.1 + 0.2;
  o.x = {1.0 / 3.0, -2.5e-300};
  o.theta = {std::nextafter(1.0, 2.0)};
  o.iterations = 17;
  o.redraws = 2;
  o.capped = true;
  o.ending = "no progress";
  StartOutcome skipped;
  skipped.start = 5;
  skipped.skipped = true;
  std::string fault;
  const std::vector<StartOutcome> read =
      parse_start_rows(format_start_rows({o, skipped}), fault);
  ASSERT_EQ(fault, "");
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].start, 4);
  EXPECT_EQ(read[0].objective, o.objective);
  EXPECT_EQ(read[0].x, o.x);
  EXPECT_EQ(read[0].theta, o.theta);
  EXPECT_TRUE(read[0].start_x.empty());
  EXPECT_EQ(read[0].iterations, 17);
  EXPECT_EQ(read[0].redraws, 2);
  EXPECT_TRUE(read[0].finished && read[0].capped && !read[0].skipped);
  EXPECT_EQ(read[0].ending, "no progress");
  EXPECT_TRUE(read[1].skipped);
  EXPECT_TRUE(std::isnan(read[1].objective));
  parse_start_rows("header\nx\t1\n", fault);
  EXPECT_NE(fault, "");
}

}  // namespace
}  // namespace identify::testing
