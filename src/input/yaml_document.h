// A YAML input file parsed with yaml-cpp, and the checked access that the
// problem-file reader builds on: every fault is an InputError at the place
// of the offending node, "file:line:col: expected ..., found ...".
//
// Before parsing, a line whose indentation holds a tab is refused (YAML
// indents with blanks; yaml-cpp would report such a line only as an
// "illegal map value"). Duplicate keys, which yaml-cpp keeps silently, are
// refused by entries().
#pragma once

#include <yaml-cpp/yaml.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "input/text_file.h"

namespace identify {

// One key of a mapping with its value. A value left empty ("key:") is a
// null node, placed at its key.
struct YamlEntry {
  std::string name;
  YAML::Node key;
  YAML::Node value;
};

class YamlDocument {
 public:
  // Parses the file's text. Throws InputError:
  //   "p.yaml:4:1: expected blanks for indentation, found a tab"
  //   "p.yaml:3:9: expected valid YAML, found a syntax error: end of map
  //    flow not found"
  explicit YamlDocument(const TextFile& file);

  const TextFile& file() const { return file_; }
  const YAML::Node& root() const { return root_; }

  // Place of a node (1-based); a node without a mark (the root of an empty
  // file) is placed at 1:1.
  SourcePos pos(const YAML::Node& node) const;
  SourcePos pos(const YamlEntry& entry) const;  // its value, else its key
  // Place of byte `offset` of a scalar's text: exact for a scalar written
  // on one line without escapes, else the scalar's start.
  SourcePos scalar_pos(const YAML::Node& node, std::size_t offset) const;

  [[noreturn]] void fail(const SourcePos& at, const std::string& expected,
                         const std::string& found) const;
  // What a node is, for "found ...": "a mapping", "a list", "nothing", or a
  // scalar's quoted text.
  static std::string describe(const YAML::Node& node);

  // The entries of a mapping, in order. Each key must be a scalar among
  // `allowed` (any name when allowed is empty) and differ from the keys
  // before it. `what` names the mapping for "expected a mapping of WHAT".
  // `unlisted`: further keys allowed but not named in that message (the
  // optional sections of event tables).
  std::vector<YamlEntry> entries(
      const YamlEntry& map, std::initializer_list<std::string_view> allowed,
      const std::string& what) const;
  // entries(), also accepting the keys `unlisted`, which the message of an
  // unknown key leaves out: sections that only some documents have (the
  // random effects of a population problem), so that the message names
  // the keys every document may use.
  std::vector<YamlEntry> entries(
      const YamlEntry& map, std::initializer_list<std::string_view> allowed,
      std::initializer_list<std::string_view> unlisted,
      const std::string& what) const;
  // The items of a list (`what` names them for "expected a list of WHAT").
  std::vector<YAML::Node> items(const YamlEntry& list,
                                const std::string& what) const;
  // A scalar's text; `what` names it for "expected WHAT".
  std::string scalar(const YamlEntry& entry, const std::string& what) const;
  // A number (the decimal form of data tables; with allow_infinity also
  // YAML's ".inf", "-.inf", "+.inf").
  double number(const YamlEntry& entry, bool allow_infinity) const;
  // "true" or "false" (also "True", "TRUE", "False", "FALSE").
  bool boolean(const YamlEntry& entry) const;

 private:
  const TextFile& file_;
  YAML::Node root_;
};

// Finds the entry named `name`, or nullptr.
const YamlEntry* find_entry(const std::vector<YamlEntry>& entries,
                            std::string_view name);

}  // namespace identify
