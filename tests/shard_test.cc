// Shards and their merge: the merged outputs against the run done at once,
// bit for bit, for fits of single experiments (with starts, profiles and a
// bootstrap), for the starts of one fit and for its replicates; the shard sets
// and options that are refused; the Slurm array's variables and the manifest.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <regex>
#include <string>
#include <utility>

#include "output/profile_side_rows.h"
#include "output/shard_files.h"
#include "run_binary.h"

namespace identify::testing {
namespace {

const char* kTables[] = {"problem.parameters.tsv", "problem.fit.tsv",
                         "problem.profiles.tsv", "problem.bootstrap.tsv"};

// Runs `options` at once, then as `shards` shards one after another and
// their merge, and compares every table.
// Returns the standard error of the run done at once and of the merge. A
// shard ends with the verdict of its own fit (`shard_code`).
std::pair<std::string, std::string> expect_merge_equals_whole_run(const std::string& options,
                                          int shards,
                                          const std::string& merge_extra = "",
                                          int shard_code = 0) {
  ScratchDir whole("theophylline_12");
  RunResult r = whole.run("problem.yaml " + options + merge_extra);
  const std::string whole_err = r.err;
  EXPECT_EQ(r.exit_code, 0) << r.err;
  ScratchDir split("theophylline_12");
  for (int k = 0; k < shards; ++k) {
    r = split.run("problem.yaml " + options + " --shard " + std::to_string(k) +
                  "/" + std::to_string(shards) + " --shard-dir parts");
    EXPECT_EQ(r.exit_code, shard_code) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(split.file("problem.parameters.tsv")));
  r = split.run("problem.yaml " + options + merge_extra + " --merge parts");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  for (const char* table : kTables) {
    EXPECT_EQ(split.read(table), whole.read(table)) << table;
  }
  return {whole_err, r.err};
}

TEST(ShardRun, ExperimentsMergeBitForBit) {
  // Five shards of twelve experiments: blocks of two and three.
  expect_merge_equals_whole_run(
      "--separately --starts 3 --profile --bootstrap 20 -q", 5);
}

TEST(ShardRun, StartsMergeBitForBitAndTheMergeProfiles) {
  expect_merge_equals_whole_run("--starts 7 --profile -q", 3);
}

TEST(ShardRun, ProfileSidesMergeBitForBit) {
  // Three profiles, six sides: fewer shards than profiles, as many as the
  // sides, more than the sides (two shards walk none), and a fit from
  // several starts that every shard repeats.
  for (const char* options :
       {"--starts 1 --profile -q", "--starts 1 --profile=ke,V -q"}) {
    for (int shards : {2, 6, 8}) {
      SCOPED_TRACE(std::string(options) + " in " + std::to_string(shards));
      const auto [whole, merged] = expect_merge_equals_whole_run(options, shards);
      EXPECT_EQ(merged, whole);
    }
  }
  expect_merge_equals_whole_run("--starts 4 --profile -q", 4);
  // A fit cut short (each shard's ends at the iteration limit, exit 8): a
  // side meets a lower objective, and the merge restarts the fit there and
  // walks the later passes itself.
  const auto [whole, merged] = expect_merge_equals_whole_run(
      "--starts 1 --max-iter 2 --profile -q", 3, "", 8);
  EXPECT_NE(whole.find("the fit restarts there"), std::string::npos) << whole;
  EXPECT_EQ(merged, whole);
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
  // A shard of profile sides whose table of sides went missing.
  for (int k = 0; k < 2; ++k) {
    ASSERT_EQ(dir.run("problem.yaml -q --starts 1 --profile --shard " +
                      std::to_string(k) + "/2 --shard-dir q")
                  .exit_code,
              0);
  }
  std::filesystem::remove(dir.file("q/shard-0-of-2.sides.tsv"));
  const RunResult no_sides =
      dir.run("problem.yaml -q --starts 1 --profile --merge q");
  EXPECT_EQ(no_sides.exit_code, 3);
  EXPECT_NE(no_sides.err.find("the shards hold 3 of the 6 sides"),
            std::string::npos)
      << no_sides.err;
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

TEST(ShardFiles, ProfileSidesReadBackToTheBit) {
  NamedSide walked{"ka", 1, {}};
  walked.side.end = SideEnd::kBelowOptimum;
  walked.side.value = 0.1 + 0.2;
  walked.side.points = {{1.0 / 3.0, 2.5e-300, {-7.25, 1e308}},
                        {std::nextafter(2.0, 3.0), INFINITY, {NAN, -0.0}}};
  walked.side.below_optimum = walked.side.points[0];
  const NamedSide none{"V", -1, {SideEnd::kInterrupted, 4.0, {}, {}}};
  std::string fault;
  const std::vector<NamedSide> read =
      parse_side_rows(format_side_rows({walked, none}), fault);
  ASSERT_EQ(fault, "");
  ASSERT_EQ(read.size(), 2u);
  const ProfileSide& s = read[0].side;
  EXPECT_EQ(read[0].name, "ka");
  EXPECT_EQ(read[0].direction, 1);
  EXPECT_EQ(s.end, SideEnd::kBelowOptimum);
  EXPECT_EQ(s.value, walked.side.value);
  ASSERT_EQ(s.points.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const ProfilePoint& a = s.points[i];
    const ProfilePoint& b = walked.side.points[i];
    EXPECT_EQ(a.x, b.x);
    EXPECT_EQ(a.objective, b.objective);
    ASSERT_EQ(a.others.size(), 2u);
    EXPECT_EQ(std::signbit(a.others[1]), std::signbit(b.others[1]));
  }
  EXPECT_EQ(s.points[0].others, walked.side.points[0].others);
  EXPECT_TRUE(std::isnan(s.points[1].others[0]));
  ASSERT_TRUE(s.below_optimum);
  EXPECT_EQ(s.below_optimum->others, walked.side.points[0].others);
  EXPECT_EQ(read[1].direction, -1);
  EXPECT_EQ(read[1].side.end, SideEnd::kInterrupted);
  EXPECT_TRUE(read[1].side.points.empty());
  EXPECT_FALSE(read[1].side.below_optimum);
  for (const char* bad :
       {"h\nka\tupper\tcrossed\t1\t\t1,x\n", "h\nka\tup\tcrossed\t1\n",
        "h\nka\tlower\tgone\t1\n", "h\nka\tlower\tcrossed\t\n",
        "h\nka\tlower\tcrossed\t1\t2\n"}) {
    fault.clear();
    parse_side_rows(bad, fault);
    EXPECT_NE(fault, "") << bad;
  }
}

}  // namespace
}  // namespace identify::testing
