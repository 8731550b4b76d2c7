// Checked access to a YAML document. yaml-cpp marks are 0-based line and
// column of a node's first byte (the opening quote of a quoted scalar); a
// value left empty gets the mark of whatever follows it, so the place of an
// empty value is taken from its key. Scalars are read as text and converted
// here, so that "1,5" or "yes" are reported rather than guessed at.
#include "input/yaml_document.h"

#include <yaml-cpp/depthguard.h>

#include <cmath>
#include <limits>
#include <string>

#include "core/name_index.h"
#include "input/decimal.h"

namespace identify {

namespace {

// Line and column of the first tab in the indentation of a line, if any.
void refuse_indenting_tabs(const TextFile& file) {
  const std::string& text = file.text();
  bool line_start = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n' || c == '\r') {
      line_start = true;
    } else if (line_start && c == '\t') {
      std::size_t eol = text.find_first_of("\r\n", i);
      if (eol == std::string::npos) eol = text.size();
      bool content = false;
      for (std::size_t k = i; k < eol; ++k) {
        content |= text[k] != ' ' && text[k] != '\t';
      }
      if (content) {
        throw input_error(file.pos(i), "blanks for indentation", "a tab");
      }
    } else if (c != ' ') {
      line_start = false;
    }
  }
}

std::string allowed_list(std::initializer_list<std::string_view> allowed) {
  std::string list;
  std::size_t k = 0;
  for (const std::string_view name : allowed) {
    if (k > 0) list += k + 1 == allowed.size() ? " or " : ", ";
    list += name;
    ++k;
  }
  return list;
}

// A NUL byte, which YAML does not allow in its text (the YAML library would
// take it for the end of the text or for an escape).
void refuse_nul_bytes(const TextFile& file) {
  const std::size_t at = file.text().find('\0');
  if (at != std::string::npos) {
    throw input_error(file.pos(at), "text", "a NUL byte");
  }
}

}  // namespace

YamlDocument::YamlDocument(const TextFile& file) : file_(file) {
  refuse_indenting_tabs(file);
  refuse_nul_bytes(file);
  try {
    root_ = YAML::Load(file.text());
  } catch (const YAML::DeepRecursion& e) {
    // The library's limit on nesting, which keeps its recursion on the stack.
    throw input_error(e.mark.is_null() ? file.end()
                                       : SourcePos{file.name(), e.mark.line + 1,
                                                   e.mark.column + 1},
                      "valid YAML",
                      "a node nested deeper than " +
                          std::to_string(e.depth() - 1) + " levels");
  } catch (const YAML::Exception& e) {
    const SourcePos at =
        e.mark.is_null()
            ? file.end()
            : SourcePos{file.name(), e.mark.line + 1, e.mark.column + 1};
    throw input_error(at, "valid YAML",
                      "a syntax error: " + printable_text(e.msg));
  }
}

SourcePos YamlDocument::pos(const YAML::Node& node) const {
  if (!node.IsDefined() || node.Mark().is_null()) {
    return SourcePos{file_.name(), 1, 1};
  }
  return SourcePos{file_.name(), node.Mark().line + 1, node.Mark().column + 1};
}

SourcePos YamlDocument::pos(const YamlEntry& entry) const {
  if (!entry.value.IsDefined() || entry.value.IsNull()) return pos(entry.key);
  return pos(entry.value);
}

SourcePos YamlDocument::scalar_pos(const YAML::Node& node,
                                   std::size_t offset) const {
  SourcePos at = pos(node);
  const std::string_view line = file_.line(at.line);
  const std::size_t col = static_cast<std::size_t>(at.column - 1);
  if (col >= line.size()) return at;
  const bool quoted = line[col] == '"' || line[col] == '\'';
  const std::size_t start = col + (quoted ? 1 : 0);
  if (line.substr(start, node.Scalar().size()) == node.Scalar()) {
    at.column = static_cast<int>(start + offset) + 1;
  }
  return at;
}

void YamlDocument::fail(const SourcePos& at, const std::string& expected,
                        const std::string& found) const {
  throw input_error(at, expected, found);
}

std::string YamlDocument::describe(const YAML::Node& node) {
  if (!node.IsDefined() || node.IsNull()) return "nothing";
  if (node.IsMap()) return "a mapping";
  if (node.IsSequence()) return "a list";
  return quote_text(node.Scalar());
}

std::vector<YamlEntry> YamlDocument::entries(
    const YamlEntry& map, std::initializer_list<std::string_view> allowed,
    const std::string& what,
    std::initializer_list<std::string_view> unlisted) const {
  if (!map.value.IsMap()) {
    fail(pos(map), "a mapping of " + what, describe(map.value));
  }
  std::vector<YamlEntry> out;
  NameIndex taken;
  for (const auto& kv : map.value) {
    const YAML::Node& key = kv.first;
    if (!key.IsScalar()) fail(pos(key), "a key", describe(key));
    const std::string& name = key.Scalar();
    bool known = allowed.size() == 0;
    for (const std::string_view a : allowed) known |= a == name;
    for (const std::string_view a : unlisted) known |= a == name;
    if (!known) fail(pos(key), allowed_list(allowed), quote_text(name));
    if (!taken.add(name)) {
      fail(pos(key), "a key not given before in this mapping",
           quote_text(name));
    }
    out.push_back(YamlEntry{name, key, kv.second});
  }
  return out;
}

std::vector<YAML::Node> YamlDocument::items(const YamlEntry& list,
                                            const std::string& what) const {
  if (!list.value.IsSequence()) {
    fail(pos(list), "a list of " + what, describe(list.value));
  }
  std::vector<YAML::Node> out;
  for (const YAML::Node& item : list.value) out.push_back(item);
  return out;
}

std::string YamlDocument::scalar(const YamlEntry& entry,
                                 const std::string& what) const {
  if (!entry.value.IsScalar()) fail(pos(entry), what, describe(entry.value));
  return entry.value.Scalar();
}

double YamlDocument::number(const YamlEntry& entry, bool allow_infinity) const {
  const std::string text = scalar(entry, "a number for " + entry.name);
  if (allow_infinity) {
    if (text == ".inf" || text == "+.inf") {
      return std::numeric_limits<double>::infinity();
    }
    if (text == "-.inf") return -std::numeric_limits<double>::infinity();
  }
  const Decimal d = parse_decimal(text);
  if (d.fault == DecimalFault::kTooLarge) {
    fail(pos(entry), "a finite number for " + entry.name, quote_text(text));
  }
  if (d.fault == DecimalFault::kNotANumber) {
    fail(pos(entry), "a number for " + entry.name, quote_text(text));
  }
  return d.value;
}

bool YamlDocument::boolean(const YamlEntry& entry) const {
  const std::string text = scalar(entry, "true or false for " + entry.name);
  if (text == "true" || text == "True" || text == "TRUE") return true;
  if (text == "false" || text == "False" || text == "FALSE") return false;
  fail(pos(entry), "true or false for " + entry.name, quote_text(text));
}

const YamlEntry* find_entry(const std::vector<YamlEntry>& entries,
                            std::string_view name) {
  for (const YamlEntry& e : entries) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

}  // namespace identify
