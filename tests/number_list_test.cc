#include "input/number_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace identify {
namespace {

NumberList Read(const std::string& text) {
  std::istringstream in(text);
  return read_number_list(in, true, "input.txt");
}

std::vector<double> Values(const std::string& text) {
  std::vector<double> values;
  for (const NumberToken& t : Read(text).numbers) {
    values.push_back(t.value);
  }
  return values;
}

std::string ErrorOf(const std::string& text) {
  try {
    Read(text);
  } catch (const InputError& e) {
    return e.what();
  }
  return "no error";
}

using V = std::vector<double>;

TEST(NumberListTest, LinesCommentsAndSeparators) {
  EXPECT_EQ(Values(""), V{});
  EXPECT_EQ(Values("1\n2"), (V{1, 2}));
  EXPECT_EQ(Values("1\n% last line"), V{1});
  EXPECT_EQ(Values("1\n2\n3\n"), (V{1, 2, 3}));
  EXPECT_EQ(Values("1,2,3"), (V{1, 2, 3}));
  EXPECT_EQ(Values("1 2 3"), (V{1, 2, 3}));
  EXPECT_EQ(Values("1 2 %c"), (V{1, 2}));
  EXPECT_EQ(Values("\n\n1\n\n"), V{1});
  EXPECT_EQ(Values("1.2.3"), (V{1.2, 3}));
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
  const NumberList list = Read("[1 2] [3 4]");
  EXPECT_EQ(list.size(), 2u);
  EXPECT_EQ(list.warnings.size(), 1u);
  EXPECT_EQ(ErrorOf("1\n[[1 2]"),
            "input.txt:2:2: expected a number, found \"[1\"");
  EXPECT_EQ(ErrorOf("1 ["),
            "input.txt:1:4: expected a number, found end of file");
}

TEST(NumberListTest, SkippedNumbersWarnButCommentsDoNot) {
  NumberList list = Read("% comment 1 2\n 7\n8\n");
  EXPECT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0], 8);
  EXPECT_EQ(list.warnings.size(), 1u);

  list = Read("1  2 3\n4, 5 % 6\n");
  EXPECT_EQ(list.size(), 2u);
  EXPECT_EQ(list.warnings,
            (std::vector<std::string>{
                "input.txt:1: warning: text after two separators is ignored: "
                "\"2 3\"",
                "input.txt:2: warning: text after two separators is ignored: "
                "\"5\""}));

  // No digit before the "%" of a skipped stretch: nothing lost, no warning.
  EXPECT_TRUE(Read("% 1 2\n\t\n  % 3\n1 \t% 4\n%5").warnings.empty());

  // A long skipped stretch is cut in the warning.
  list = Read(std::string(1, '\t').append(40, '9'));
  EXPECT_EQ(list.warnings.at(0),
            "input.txt:1: warning: line starts with a blank or tab, its "
            "numbers are ignored: \"" +
                std::string(30, '9') + "\"...");
}

TEST(NumberListTest, NoLimitsOnLengths) {
  EXPECT_EQ(Values("%" + std::string(300, 'x') + "\n5"), V{5});
  const std::string with_byte_order_mark =
      "\xEF\xBB\xBF" + std::string("1 2\n");
  EXPECT_EQ(Values(with_byte_order_mark), (V{1, 2}));
  EXPECT_EQ(Read(with_byte_order_mark).numbers[1].column, 3);
  std::string many;
  for (int i = 0; i < 1000; ++i) many += std::to_string(i) + "\n";
  const V values = Values(many);
  ASSERT_EQ(values.size(), 1000u);
  EXPECT_EQ(values[999], 999);
}

TEST(NumberListTest, PositionsAndText) {
  for (const char* eol : {"\n", "\r\n"}) {
    const std::string e = eol;
    const NumberList list = Read("% c" + e + "10 -2e1" + e + "[3 4]" + e);
    ASSERT_EQ(list.size(), 4u);
    const int expected[4][2] = {{2, 1}, {2, 4}, {3, 2}, {3, 4}};
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(list.numbers[k].line, expected[k][0]) << k;
      EXPECT_EQ(list.numbers[k].column, expected[k][1]) << k;
    }
    EXPECT_EQ(list.numbers[1].text, "-2e1");
    EXPECT_EQ(format_pos(list.pos(4)), "input.txt:3:6: ");
  }
  EXPECT_EQ(format_pos(Read("").end), "input.txt:1:1: ");
  EXPECT_EQ(format_pos(Read("1\n2").end), "input.txt:2:2: ");
  EXPECT_EQ(format_pos(Read("1\n\n").end), "input.txt:2:1: ");
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

TEST(NumberListTest, ADirectoryCannotBeRead) {
  const std::string dir = testing::TempDir() + "/input_dir.txt";
  std::filesystem::create_directories(dir);
  try {
    read_number_list_file(dir, true);
    FAIL() << "no error";
  } catch (const InputError& e) {
    EXPECT_EQ(std::string(e.what()), dir + ": cannot read: Is a directory");
  }
}

}  // namespace
}  // namespace identify
