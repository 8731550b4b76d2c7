// The table syntax under the data readers: where every field stands (quoted
// fields over several lines, CR LF, a byte-order mark, comments, blanks),
// the delimiter choice, syntax faults with their places, and the strict
// numbers of the tables.
#include "input/csv_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "input/decimal.h"

namespace identify {
namespace {

// Every field as "line:col=text", records separated by " | ".
std::string fields_of(const std::string& name, const std::string& bytes,
                      char delimiter) {
  const TextFile file(name, bytes);
  std::string out;
  read_csv(file, delimiter, [&](const CsvRecord& r) {
    if (!out.empty()) out += " | ";
    for (std::size_t k = 0; k < r.fields.size(); ++k) {
      const SourcePos p = file.pos(r.fields[k].offset);
      if (k > 0) out += ' ';
      out += std::to_string(p.line);
      out += ':';
      out += std::to_string(p.column);
      out += '=';
      out += r.fields[k].text;
    }
  });
  return out;
}

TEST(CsvReader, PlacesEveryFieldWhateverTheQuotingAndLineEnds) {
  const struct {
    const char* what;
    std::string bytes;
    char delimiter;
    std::string fields;
  } cases[] = {
      {"plain", "a,b\n1,2\n", ',', "1:1=a 1:3=b | 2:1=1 2:3=2"},
      {"no final line break", "a,b\n1,2", ',', "1:1=a 1:3=b | 2:1=1 2:3=2"},
      {"CR LF", "a,b\r\n1,2\r\n", ',', "1:1=a 1:3=b | 2:1=1 2:3=2"},
      {"byte-order mark not counted",
       "\xEF\xBB\xBF"
       "a,b\n1,2\n",
       ',', "1:1=a 1:3=b | 2:1=1 2:3=2"},
      {"quoted, with a delimiter and a doubled quote", "\"a,x\",\"b\"\"\"\n",
       ',', "1:1=a,x 1:7=b\""},
      {"quoted over two lines, then a field after it", "k,v\n\"x\ny\",2\nz,3\n",
       ',', "1:1=k 1:3=v | 2:1=x\ny 3:4=2 | 4:1=z 4:3=3"},
      {"blanks around unquoted fields dropped", "  a , b\n", ',',
       "1:3=a 1:7=b"},
      {"comment lines and empty lines skipped", "# note, with comma\n\na\n",
       ',', "3:1=a"},
      {"a # after the start of a line is data", "a\n #b\n", ',',
       "1:1=a | 2:2=#b"},
      {"a # line inside a quoted field is data", "\"x\n#y\",1\n", ',',
       "1:1=x\n#y 2:5=1"},
      {"empty fields", "a,,c\n,\n", ',', "1:1=a 1:3= 1:4=c | 2:1= 2:2="},
      {"TSV keeps blanks inside, tab separates", "a b\tc\n", '\t',
       "1:1=a b 1:5=c"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fields_of("t.csv", c.bytes, c.delimiter), c.fields) << c.what;
  }
}

TEST(CsvReader, RefusesBrokenQuotingAtItsPlace) {
  const struct {
    std::string bytes;
    std::string message;
  } cases[] = {
      {"a,b\n1,x\"y\n",
       "t.csv:2:4: expected a quote only at the start of a field, found "
       "\"\\\"\""},
      {"a,b\n\"1\"x,2\n",
       "t.csv:2:4: expected a delimiter or a line end after a closing quote, "
       "found \"x\""},
      {"a,b\n1,\"open\nstill open\n",
       "t.csv:2:3: expected a closing quote for this field, found end of "
       "file"},
  };
  for (const auto& c : cases) {
    try {
      fields_of("t.csv", c.bytes, ',');
      ADD_FAILURE() << "accepted " << c.bytes;
    } catch (const InputError& e) {
      EXPECT_EQ(e.what(), c.message);
    }
  }
}

TEST(CsvReader, ChoosesTheDelimiterByExtensionThenByHeader) {
  EXPECT_EQ(table_delimiter(TextFile("d.tsv", "a,b\n")), '\t');
  EXPECT_EQ(table_delimiter(TextFile("d.tab", "a,b\n")), '\t');
  EXPECT_EQ(table_delimiter(TextFile("d.csv", "a\tb\n")), ',');
  EXPECT_EQ(table_delimiter(TextFile("d.txt", "# x,y\n\na\tb\n")), '\t');
  EXPECT_EQ(table_delimiter(TextFile("d.txt", "a,b\n1\t2\n")), ',');
  EXPECT_EQ(table_delimiter(TextFile("d", "")), ',');
}

TEST(Decimal, ReadsOnlyPlainDecimalNumbers) {
  const struct {
    const char* text;
    double value;
    DecimalFault fault;
  } cases[] = {
      {"2", 2.0, DecimalFault::kNone},
      {"-0.5", -0.5, DecimalFault::kNone},
      {"+2E4", 2e4, DecimalFault::kNone},
      {".5", 0.5, DecimalFault::kNone},
      {"5.", 5.0, DecimalFault::kNone},
      {"0.1", 0.1, DecimalFault::kNone},
      {"1e-999", 0.0, DecimalFault::kNone},
      {"1e999", 0.0, DecimalFault::kTooLarge},
      {"-1e999", 0.0, DecimalFault::kTooLarge},
      {"inf", 0.0, DecimalFault::kNotANumber},
      {"nan", 0.0, DecimalFault::kNotANumber},
      {"0x10", 0.0, DecimalFault::kNotANumber},
      {"1e", 0.0, DecimalFault::kNotANumber},
      {".", 0.0, DecimalFault::kNotANumber},
      {"1 ", 0.0, DecimalFault::kNotANumber},
      {"0,74", 0.0, DecimalFault::kNotANumber},
      {"", 0.0, DecimalFault::kNotANumber},
  };
  for (const auto& c : cases) {
    const Decimal d = parse_decimal(c.text);
    EXPECT_EQ(d.fault, c.fault) << c.text;
    if (c.fault == DecimalFault::kNone) {
      EXPECT_EQ(d.value, c.value) << c.text;
    }
  }
  EXPECT_EQ(parse_decimal("4.9406564584124654e-324").value,
            std::nextafter(0.0, 1.0));
}

}  // namespace
}  // namespace identify
