#include "input/number_list.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "input/text_file.h"

namespace identify {
namespace {

using V = std::vector<double>;
using W = std::vector<std::string>;

struct Reading {
  V values;
  W warnings;
  std::string error = "no error";
};

// Reads text as the problem file (brackets allowed) or the measurement file.
Reading ReadAll(const std::string& text, bool brackets = true) {
  Reading r;
  try {
    const NumberList list = read_number_list(
        text, brackets, brackets ? "input.txt" : "input_data.txt", &r.warnings);
    for (std::size_t k = 0; k < list.size(); ++k) r.values.push_back(list[k]);
  } catch (const InputError& e) {
    r.error = e.what();
  }
  return r;
}

NumberList Read(const std::string& text) {
  return read_number_list(text, true, "input.txt", nullptr);
}

V Values(const std::string& text) { return ReadAll(text).values; }
std::string ErrorOf(const std::string& text) { return ReadAll(text).error; }

TEST(NumberListTest, LinesCommentsAndSeparators) {
  EXPECT_EQ(Values(""), V{});
  EXPECT_EQ(Values("1\n2"), (V{1, 2}));
  EXPECT_EQ(Values("1\n% last line"), V{1});
  EXPECT_EQ(Values("1\n2\n3\n"), (V{1, 2, 3}));
  EXPECT_EQ(Values("1,2,3"), (V{1, 2, 3}));
  EXPECT_EQ(Values("1 2 3"), (V{1, 2, 3}));
  EXPECT_EQ(Values("1 2 %c"), (V{1, 2}));
  EXPECT_EQ(Values("\n\n1\n\n"), V{1});
  EXPECT_EQ(Values("-1.5e3 +2 .5 5. 1E-2"), (V{-1500, 2, 0.5, 5, 0.01}));
  // Lone CR, VT and FF at the place of a token are white space before the
  // number that follows, even on the next line; at the end they are harmless.
  EXPECT_EQ(Values("1\n\r2"), (V{1, 2}));
  EXPECT_EQ(Values("1\n\f\n2\n"), (V{1, 2}));
  EXPECT_EQ(Values("1\n\r\r\n2\n"), (V{1, 2}));
  EXPECT_EQ(Values("1\n\v"), V{1});
}

TEST(NumberListTest, Brackets) {
  EXPECT_EQ(Values("[1 2 3]"), (V{1, 2, 3}));
  EXPECT_EQ(Values("[1, 2]"), V{1});
  // "]" is a separator, so a blank after it is a second one.
  const Reading r = ReadAll("[1 2] [3 4]");
  EXPECT_EQ(r.values, (V{1, 2}));
  EXPECT_EQ(r.warnings.size(), 1u);
  EXPECT_EQ(ErrorOf("1\n[[1 2]"),
            "input.txt:2:2: expected a number, found \"[1\"");
  EXPECT_EQ(ErrorOf("1 ["),
            "input.txt:1:4: expected a number, found end of file");
}

TEST(NumberListTest, SkippedNumbersWarnButCommentsDoNot) {
  Reading r = ReadAll("% comment 1 2\n 7\n8\n");
  EXPECT_EQ(r.values, V{8});
  EXPECT_EQ(r.warnings.size(), 1u);

  r = ReadAll("1  2 3\n4, 5 % 6\n");
  EXPECT_EQ(r.values, (V{1, 4}));
  EXPECT_EQ(r.warnings,
            (W{"input.txt:1: warning: text after two separators is ignored: "
               "\"2 3\"",
               "input.txt:2: warning: text after two separators is ignored: "
               "\"5\""}));

  // No digit before the "%" of a skipped stretch: nothing lost, no warning.
  EXPECT_TRUE(ReadAll("% 1 2\n\t\n  % 3\n1 \t% 4\n%5").warnings.empty());

  // A long skipped stretch is cut in the warning.
  r = ReadAll(std::string(1, '\t').append(40, '9'));
  EXPECT_EQ(r.warnings.at(0),
            "input.txt:1: warning: line starts with a blank or tab, its "
            "numbers are ignored: \"" +
                std::string(30, '9') + "\"...");
}

// Reads text without error into values, with the warnings written as
// "LINE: TEXT", without the file name, "warning: " and " is taken as a
// separator" that each message has.
void ExpectGlued(const std::string& text, const V& values, const W& warnings,
                 bool brackets = true) {
  W expected;
  for (const std::string& w : warnings) {
    const std::size_t colon = w.find(": ");
    expected.push_back((brackets ? "input.txt:" : "input_data.txt:") +
                       w.substr(0, colon) + ": warning: " +
                       w.substr(colon + 2) + " is taken as a separator");
  }
  const Reading r = ReadAll(text, brackets);
  EXPECT_EQ(r.error, "no error") << text;
  EXPECT_EQ(r.values, values) << text;
  EXPECT_EQ(r.warnings, expected) << text;
}

// A letter, ".", "_" or NUL right after a number is taken as its separator,
// as the token rules say, but the file almost certainly meant something
// else: the warning says how the text was split.
TEST(NumberListTest, GluedSeparatorsWarnWithHowTheTextIsRead) {
  ExpectGlued("0x10", {0, 10},
              {"1: \"0x10\" is read as 0 and 10: the \"x\" after 0"}, false);
  ExpectGlued("1.5.5", {1.5, 5},
              {"1: \"1.5.5\" is read as 1.5 and 5: the \".\" after 1.5"});
  ExpectGlued("2.5s\n3", {2.5, 3},
              {"1: \"2.5s\" is read as 2.5: the \"s\" after 2.5"});
  ExpectGlued(
      std::string("12") + '\0' + "34", {12, 34},
      {"1: \"12\\x0034\" is read as 12 and 34: the \"\\x00\" after 12"});
  // The next number may follow a "[" (problem file) or a CR.
  ExpectGlued("1x[2", {1, 2},
              {"1: \"1x[2\" is read as 1 and 2: the \"x\" after 1"});
  ExpectGlued("1E5e\r-2", {1e5, -2},
              {"1: \"1E5e\\r-2\" is read as 1E5 and -2: the \"e\" after 1E5"});
  // One warning per line: the first glued separator of the line.
  ExpectGlued("1_000_000 2x3\n4y", {1, 0, 0, 2, 3, 4},
              {"1: \"1_000\" is read as 1 and 000: the \"_\" after 1",
               "2: \"4y\" is read as 4: the \"y\" after 4"});
  // Long numbers and excerpts are cut.
  ExpectGlued("0.1234567890123456789012345678901x1", {0.1234567890123456789, 1},
              {"1: \"0.1234567890123456789012345678\"... is read as "
               "0.123456789012345678... and 1: the \"x\" after "
               "0.123456789012345678..."});
  // Ordinary separators, a comma included, and exponents do not warn.
  ExpectGlued("10,5;1]2 1e5 [3 4]", {10, 5, 1, 2, 1e5, 3, 4}, {});
}

// Warnings found before an error are kept, so that the user sees why the
// text that failed was reached; more than 10 are summed up in one line.
TEST(NumberListTest, WarningsSurviveErrorsAndAreCapped) {
  Reading r = ReadAll("0xAB");
  EXPECT_EQ(r.warnings,
            W{"input.txt:1: warning: \"0x\" is read as 0: the \"x\" after 0 "
              "is taken as a separator"});
  EXPECT_EQ(r.error, "input.txt:1:3: expected a number, found \"AB\"");

  std::string text;
  for (int line = 0; line < 14; ++line) text += " 1\n";
  r = ReadAll(text + "2x\nabc");
  ASSERT_EQ(r.warnings.size(), 11u);
  EXPECT_EQ(r.warnings[9],
            "input.txt:10: warning: line starts with a blank or tab, its "
            "numbers are ignored: \"1\"");
  EXPECT_EQ(r.warnings[10],
            "input.txt: warning: 5 more warnings are not shown");
  EXPECT_EQ(r.error, "input.txt:16:1: expected a number, found \"abc\"");
  EXPECT_EQ(ReadAll(text).warnings.back(),
            "input.txt: warning: 4 more warnings are not shown");
}

TEST(NumberListTest, NoLimitsOnLengths) {
  EXPECT_EQ(Values("%" + std::string(300, 'x') + "\n5"), V{5});
  const std::string with_byte_order_mark =
      "\xEF\xBB\xBF" + std::string("1 2\n");
  EXPECT_EQ(Values(with_byte_order_mark), (V{1, 2}));
  EXPECT_EQ(Read(with_byte_order_mark).pos(1).column, 3);
  std::string many;
  for (int i = 0; i < 1000; ++i) many += std::to_string(i) + "\n";
  const V values = Values(many);
  ASSERT_EQ(values.size(), 1000u);
  EXPECT_EQ(values[999], 999);
}

TEST(NumberListTest, PositionsAndWrittenText) {
  for (const char* eol : {"\n", "\r\n"}) {
    const std::string e = eol;
    const NumberList list = Read("% c" + e + "10 -2e1" + e + "[3 4]" + e);
    ASSERT_EQ(list.size(), 4u);
    const char* places[] = {"2:1", "2:4", "3:2", "3:4", "3:6"};
    for (std::size_t k = 0; k <= 4; ++k) {
      EXPECT_EQ(format_pos(list.pos(k)),
                "input.txt:" + std::string(places[k]) + ": ")
          << k;
    }
    EXPECT_EQ(list.written(1), "-2e1");
    EXPECT_EQ(list.written(3), "4");
  }
  EXPECT_EQ(format_pos(Read("").end()), "input.txt:1:1: ");
  EXPECT_EQ(format_pos(Read("1\n2").end()), "input.txt:2:2: ");
  EXPECT_EQ(format_pos(Read("1\n\n").end()), "input.txt:2:1: ");
  // A number appended by hand where the text holds none is written in its
  // shortest form.
  NumberList list("input.txt", "1 x");
  list.append(0.25, 2);
  EXPECT_EQ(list.written(0), "0.25");
  EXPECT_EQ(format_pos(list.pos(0)), "input.txt:1:3: ");
}

TEST(NumberListTest, TextThatIsNoNumberIsAnError) {
  const std::pair<std::string, std::string> cases[] = {
      {"1e", "1:1: expected a number, found \"1e\""},
      {"1\n2 1e+ 3", "2:3: expected a number, found \"1e+\""},
      {"1 2 abc def", "1:5: expected a number, found \"abc\""},
      {"inf", "1:1: expected a number, found \"inf\""},
      {"- 1", "1:1: expected a number, found \"-\""},
      {"1\n\r x", "2:3: expected a number, found \"x\""},
      {"1,\x01\"\xC3\xA9\n",
       "1:3: expected a number, found \"\\x01\\\"\\xC3\\xA9\""},
      {std::string(25, 'a'),
       "1:1: expected a number, found \"" + std::string(20, 'a') + "\"..."},
      {"1\n 2\n1e999", "3:1: expected a finite number, found \"1e999\""},
      {"1 -1e999", "1:3: expected a finite number, found \"-1e999\""},
  };
  for (const auto& [text, message] : cases) {
    EXPECT_EQ(ErrorOf(text), "input.txt:" + message) << text;
  }
  EXPECT_EQ(Values("1e-999"), V{0});
}

// Reads path in a child process, so that a read that blocks or never ends
// fails the test instead of hanging it: the message of the InputError, "no
// error", or "still reading" after 3 seconds. The number list and the whole
// text files of the other readers share the one file reader.
std::string FileErrorOf(const std::string& path, bool as_text_file = false) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string message = "no error";
    try {
      if (as_text_file) {
        read_text_file(path, std::size_t{16} << 20);
      } else {
        read_number_list_file(path, true, nullptr);
      }
    } catch (const InputError& e) {
      message = e.what();
    }
    _exit(write(fds[1], message.data(), message.size()) < 0 ? 1 : 0);
  }
  close(fds[1]);
  pollfd ready{fds[0], POLLIN, 0};
  std::string message;
  if (poll(&ready, 1, 3000) <= 0) {
    kill(pid, SIGKILL);
    message = "still reading";
  } else {
    char buffer[512];
    ssize_t got = 0;
    while ((got = read(fds[0], buffer, sizeof buffer)) > 0) {
      message.append(buffer, static_cast<std::size_t>(got));
    }
  }
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  return message;
}

TEST(NumberListTest, OnlyRegularFilesAreRead) {
  const std::string dir = ::testing::TempDir() + "/number_list_files";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir + "/input_dir.txt");
  ASSERT_EQ(mkfifo((dir + "/fifo.txt").c_str(), 0600), 0);
  // A sparse file one byte over the limit takes no room on disk.
  const std::string huge = dir + "/huge.txt";
  std::ofstream(huge).close();
  std::filesystem::resize_file(huge, 2147483648u);
  std::ofstream(dir + "/good.txt") << "1 2\n";
  const std::pair<std::string, std::string> cases[] = {
      {dir + "/missing.txt", ": cannot open: No such file or directory"},
      {dir + "/input_dir.txt", ": cannot read: Is a directory"},
      {dir + "/fifo.txt", ": not a regular file"},
      {"/dev/zero", ": not a regular file"},
      {huge,
       ": expected a file of at most 2147483647 bytes, found 2147483648 "
       "bytes"},
      {dir + "/good.txt", "no error"},
  };
  for (const auto& [path, message] : cases) {
    EXPECT_EQ(FileErrorOf(path),
              message == "no error" ? message : path + message);
  }
  for (const std::string& path :
       {dir + "/fifo.txt", std::string("/dev/zero")}) {
    EXPECT_EQ(FileErrorOf(path, true), path + ": not a regular file");
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace identify
