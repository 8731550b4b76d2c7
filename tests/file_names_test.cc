// Names that would make one file of a run overwrite another, through the
// built program: refused with exit code 2 before anything is read or
// written, whatever the spelling, links or working directory.
#include <gtest/gtest.h>

#include <filesystem>

#include "run_binary.h"

namespace identify::testing {
namespace {

namespace fs = std::filesystem;

TEST(FileNames, AnOutputNamingAnotherFileOfTheRunIsRefused) {
  const struct {
    const char* name;
    std::string args;
    std::string message;  // after "identify: "
  } cases[] = {
      {"result over the problem file", "--output input.txt",
       "--output: expected a file other than --input, found \"input.txt\""},
      {"result over the data", "--output input_data.txt",
       "--output: expected a file other than --data, found "
       "\"input_data.txt\""},
      {"history over the problem file", "--history input.txt",
       "--history: expected a file other than --input, found \"input.txt\""},
      {"report over the result", "--report output.txt",
       "--report: expected a file other than --output, found \"output.txt\""},
      {"trajectory over the data", "--trajectory input_data.txt",
       "--trajectory: expected a file other than --data, found "
       "\"input_data.txt\""},
      {"plot through a symbolic link", "--plot link.svg",
       "--plot: expected a file other than --input, found \"link.svg\""},
      {"another spelling", "--output ../DIR/./input.txt",
       "--output: expected a file other than --input, found "
       "\"../DIR/./input.txt\""},
      {"a hard link", "--report hard.txt",
       "--report: expected a file other than --data, found \"hard.txt\""},
      {"through a missing directory", "--history d/../input_data.txt",
       "--history: expected a file other than --data, found "
       "\"d/../input_data.txt\""},
      {"two new outputs", "--report a.svg --plot ./a.svg",
       "--plot: expected a file other than --report, found \"./a.svg\""},
      {"after -C", "-C sub --output ../sub/input.txt",
       "--output: expected a file other than --input, found "
       "\"../sub/input.txt\""},
      {"the file of standard output", "--trajectory .stdout",
       "--trajectory: expected a file other than standard output, found "
       "\".stdout\""},
      // What /dev/stdout and /dev/stderr are, without touching those.
      {"standard output by its descriptor", "--output stdout.txt",
       "--output: expected a file other than standard output, found "
       "\"stdout.txt\""},
      {"standard error by its descriptor", "--history stderr.txt",
       "--history: expected a file other than standard error, found "
       "\"stderr.txt\""},
  };
  for (const auto& c : cases) {
    ScratchDir dir("worked");
    fs::create_symlink("input.txt", dir.path() / "link.svg");
    fs::create_symlink("/proc/self/fd/1", dir.path() / "stdout.txt");
    fs::create_symlink("/proc/self/fd/2", dir.path() / "stderr.txt");
    fs::create_hard_link(dir.path() / "input_data.txt",
                         dir.path() / "hard.txt");
    fs::create_directory(dir.path() / "sub");
    fs::copy_file(dir.path() / "input.txt", dir.path() / "sub/input.txt");
    fs::copy_file(dir.path() / "input_data.txt",
                  dir.path() / "sub/input_data.txt");
    const std::vector<std::string> before = dir.names();
    // DIR stands for the name of the scratch directory.
    const auto with_dir = [&](std::string text) {
      const std::size_t at = text.find("DIR");
      if (at != std::string::npos) {
        text.replace(at, 3, dir.path().filename().string());
      }
      return text;
    };
    const std::string args = with_dir(c.args);
    // ScratchDir::run sends standard output and error to the regular files
    // .stdout and .stderr in the directory.
    const RunResult r = dir.run(args);
    EXPECT_EQ(r.exit_code, 2) << c.name;
    EXPECT_EQ(r.err, "identify: " + with_dir(c.message) + "\n") << c.name;
    EXPECT_EQ(r.out, "") << c.name;
    EXPECT_EQ(dir.names(), before) << c.name;
    EXPECT_EQ(dir.read("input.txt"), example_file("worked", "input.txt"))
        << c.name;
    EXPECT_EQ(dir.read("input_data.txt"),
              example_file("worked", "input_data.txt"))
        << c.name;
  }
}

TEST(FileNames, CharacterDevicesMayBeSharedAndStayDevices) {
  // Written in place, never renamed over: as root a rename would replace
  // the device by a regular file.
  ScratchDir dir("worked");
  const std::string null = device_copy(dir, "null", "/dev/null");
  fs::create_symlink(null, dir.path() / "null.svg");
  const std::vector<std::string> before = dir.names();
  const RunResult r =
      dir.run("-q --output " + null + " --report " + null + " --trajectory " +
              null + " --history " + null + " --plot null.svg");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(fs::is_character_file(dir.path() / null));
  EXPECT_TRUE(fs::is_symlink(dir.path() / "null.svg"));
  EXPECT_EQ(dir.names(), before);
}

}  // namespace
}  // namespace identify::testing
