// Distinct files of a run: two names are one file by device and inode
// whatever their spelling, or by resolved path when they do not exist yet.
#include "output/distinct_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace identify {
namespace {

namespace fs = std::filesystem;

TEST(DistinctFiles, NamesOfOneFileAreFoundWhateverTheirSpelling) {
  const fs::path dir = fs::temp_directory_path() / "identify_distinct_files";
  fs::remove_all(dir);
  fs::create_directories(dir / "sub");
  const std::string a = (dir / "a").string();
  std::ofstream(a) << "x\n";
  fs::create_hard_link(a, dir / "hard");
  fs::create_symlink(a, dir / "soft");
  const std::string missing = (dir / "new").string();
  const std::string missing_other_spelling = (dir / "sub/../new").string();

  const struct {
    const char* name;
    std::vector<RunFile> outputs;
    std::string message;
  } cases[] = {
      {"a hard link to the input",
       {{"--output", (dir / "hard").string()}},
       "--output: expected a file other than --input, found \"" +
           (dir / "hard").string() + "\""},
      {"a symbolic link to the input",
       {{"--fit", (dir / "soft").string()}},
       "--fit: expected a file other than --input, found \"" +
           (dir / "soft").string() + "\""},
      {"two spellings of a file not made yet",
       {{"--output", missing}, {"--history", missing_other_spelling}},
       "--history: expected a file other than --output, found \"" +
           missing_other_spelling + "\""},
      {"a character device is shared",
       {{"--output", "/dev/null"}, {"--history", "/dev/null"}},
       ""},
      {"empty names are not files", {{"--output", ""}, {"--history", ""}}, ""},
      {"- is standard error only for --report",
       {{"--report", "-"}, {"--history", "-"}},
       ""},
      {"- is a file for other outputs",
       {{"--output", "-"}, {"--history", "-"}},
       "--history: expected a file other than --output, found \"-\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(check_distinct_files({{"--input", a}}, c.outputs), c.message)
        << c.name;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace identify
