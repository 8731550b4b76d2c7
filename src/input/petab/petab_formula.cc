// PEtab formulas through libSBML's level 3 infix parser, set to read log as
// the natural logarithm (PEtab's meaning) and with "**" rewritten as "^".
#include "input/petab/petab_formula.h"

#include <sbml/math/L3Parser.h>
#include <sbml/math/L3ParserSettings.h>

namespace identify {

std::unique_ptr<ASTNode> parse_petab_formula(const PetabTable& table,
                                             const PetabCell& cell) {
  std::string text = cell.text;
  for (std::size_t at = text.find("**"); at != std::string::npos;
       at = text.find("**", at)) {
    text.replace(at, 2, "^");
  }
  if (text.find_first_not_of(" \t") == std::string::npos)
    table.fail(cell, "a formula");
  L3ParserSettings settings;
  settings.setParseLog(L3P_PARSE_LOG_AS_LN);
  std::unique_ptr<ASTNode> ast(
      SBML_parseL3FormulaWithSettings(text.c_str(), &settings));
  if (ast == nullptr) table.fail(cell, "a formula");
  return ast;
}

std::vector<std::string> override_items(const std::string& text) {
  std::vector<std::string> items;
  if (text.find_first_not_of(" \t") == std::string::npos) return items;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(';', start);
    std::string item =
        text.substr(start, end == std::string::npos ? end : end - start);
    const std::size_t a = item.find_first_not_of(" \t");
    const std::size_t b = item.find_last_not_of(" \t");
    items.push_back(a == std::string::npos ? "" : item.substr(a, b - a + 1));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return items;
}

}  // namespace identify
