// Output files in process: what each kind of target gets, streams that
// remember why they failed, and which temporary files count as stale.
#include "output/output_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <iterator>
#include <sstream>

#include "output/fd_stream.h"
#include "output/stale_temps.h"
#include "run_binary.h"

namespace identify {
namespace {

namespace fs = std::filesystem;

TEST(OutputFile, ReplacesTheFileASymbolicLinkPointsTo) {
  testing::ScratchDir dir;
  fs::create_directory(dir.path() / "real");
  dir.write("real/out.txt", "old content, longer than the new\n");
  fs::create_symlink("real/out.txt", dir.path() / "link.txt");
  EXPECT_EQ(write_output_file(dir.file("link.txt"), "new\n"), "");
  EXPECT_TRUE(fs::is_symlink(dir.path() / "link.txt"));
  EXPECT_EQ(dir.read("real/out.txt"), "new\n");
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"link.txt", "real"}));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() / "real"),
                          fs::directory_iterator()),
            1);
}

TEST(OutputFile, FailuresGiveTheSystemsReasonAndKeepTheTarget) {
  testing::ScratchDir dir;
  const std::string full =
      dir.file(testing::device_copy(dir, "full", "/dev/full"));
  dir.write("kept.txt", "old\n");
  fs::create_directory(dir.path() / "folder");
  const std::vector<std::string> before = dir.names();
  const struct {
    std::string name;
    std::string reason;
  } cases[] = {
      {full, "No space left on device"},
      {dir.file("folder"), "Is a directory"},
      {dir.file("missing/out.txt"), "No such file or directory"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(write_output_file(c.name, "text\n"), c.reason) << c.name;
  }
  // An error recorded by a writer that used the descriptor itself keeps
  // the old file, and the temporary file goes.
  OutputFile file(dir.file("kept.txt"));
  ASSERT_GE(file.fd(), 0);
  EXPECT_EQ(file.write("new\n"), "");
  file.record_error(ENOSPC);
  EXPECT_EQ(file.commit(), "No space left on device");
  EXPECT_EQ(dir.read("kept.txt"), "old\n");
  EXPECT_TRUE(fs::is_character_file(full));
  EXPECT_EQ(dir.names(), before);
}

TEST(OutputFile, StreamedOutputIsReadableWhileItGrows) {
  testing::ScratchDir dir;
  dir.write("h.csv", "an older and longer history\n");
  StreamedOutput history(dir.file("h.csv"));
  ASSERT_EQ(history.open_error(), "");
  history.stream() << "iteration,residual_norm" << std::endl;
  EXPECT_EQ(dir.read("h.csv"), "iteration,residual_norm\n");
  history.stream() << "0,1" << std::flush;
  EXPECT_EQ(dir.read("h.csv"), "iteration,residual_norm\n0,1");
  EXPECT_EQ(history.finish(), "");

  StreamedOutput full(dir.file(testing::device_copy(dir, "full", "/dev/full")));
  ASSERT_EQ(full.open_error(), "");
  full.stream() << "iteration,residual_norm" << std::endl;
  EXPECT_FALSE(full.stream());
  EXPECT_EQ(write_error_of(full.stream()), ENOSPC);
  EXPECT_EQ(full.finish(), "No space left on device");
  // A stream on another buffer only knows that it went bad.
  std::ostringstream text;
  EXPECT_EQ(write_error_of(text), 0);
  text.setstate(std::ios::badbit);
  EXPECT_EQ(write_error_of(text), EIO);
}

TEST(StaleTemps, OnlyTemporaryFilesOfTheTargetWithoutALiveWriterGo) {
  testing::ScratchDir dir;
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  const std::string dead = std::to_string(child);
  const std::string alive = std::to_string(getpid());
  const std::string stale = "out.txt.tmp." + dead + ".aZ09zA";
  const std::vector<std::string> kept = {
      "out.txt.tmp." + alive + ".aZ09zA",  // its writer is still running
      "out.txt.tmp." + dead + ".aZ09z",    // five random characters
      "out.txt.tmp." + dead + ".aZ09zA7",  // seven
      "out.txt.tmp." + dead + ".aZ-9zA",   // not mkstemp's alphabet
      "out.txt.tmp.-" + dead + ".aZ09zA",  // not a pid
      "out.txt.tmp.99999999999999999999.aZ09zA",
      "xout.txt.tmp." + dead + ".aZ09zA",  // another target
      "out.txt.tmp." + dead + ".aZ09zB",   // a directory, not a file
  };
  dir.write(stale, "partial");
  for (std::size_t k = 0; k + 1 < kept.size(); ++k) dir.write(kept[k], "x");
  fs::create_directory(dir.path() / kept.back());
  EXPECT_EQ(remove_stale_temps(dir.file("out.txt")), 1);
  EXPECT_FALSE(fs::exists(dir.path() / stale));
  for (const std::string& name : kept) {
    EXPECT_TRUE(fs::exists(dir.path() / name)) << name;
  }
  EXPECT_EQ(remove_stale_temps(dir.file("missing/out.txt")), 0);
  EXPECT_EQ(temp_template("d/out.txt"), "d/out.txt.tmp." + alive + ".XXXXXX");
}

}  // namespace
}  // namespace identify
