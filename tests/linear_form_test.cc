// Affine forms of formulas in the states: the coefficients and constant as
// expression texts, evaluated to check their meaning (not their spelling),
// and the refusals of what is not affine, as one table each.
#include "input/petab/linear_form.h"

#include <gtest/gtest.h>
#include <sbml/math/L3Parser.h>

#include <cmath>
#include <memory>
#include <string>

#include "problem/expression.h"

namespace identify {
namespace {

// States x (0) and y (1); parameters k = 2, v = 4.
SymbolMeaning symbol(const std::string& name) {
  if (name == "x") return {0, ""};
  if (name == "y") return {1, ""};
  if (name == "k" || name == "v") return {-1, name};
  throw LinearFormError("unknown " + name);
}

double value(const std::string& text) {
  if (text.empty()) return 0.0;
  const BoundExpression e =
      BoundExpression::bind(Expression::parse(text), [](const std::string& n) {
        return Resolved{-1, n == "k" ? 2.0 : 4.0};
      });
  return e.constant_value();
}

LinearForm form(const std::string& text) {
  std::unique_ptr<ASTNode> ast(SBML_parseL3Formula(text.c_str()));
  EXPECT_NE(ast, nullptr) << text;
  return linear_form(*ast, 2, symbol);
}

TEST(LinearForm, ReadsAffineFormulas) {
  const struct {
    const char* text;
    double x, y, constant;
  } cases[] = {
      {"k*x", 2, 0, 0},
      {"k*x - v*y + 3", 2, -4, 3},
      {"(x + y)*k/v", 0.5, 0.5, 0},
      {"-(x - k)", -1, 0, 2},
      {"k^2*y + exp(0)", 0, 4, 1},
      {"x/v + ln(v)", 0.25, 0, std::log(4.0)},
      {"x^1 * sqrt(v)", 2, 0, 0},
      {"k*(x*v)", 8, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const LinearForm f = form(c.text);
    EXPECT_DOUBLE_EQ(value(f.coefficients[0]), c.x);
    EXPECT_DOUBLE_EQ(value(f.coefficients[1]), c.y);
    EXPECT_DOUBLE_EQ(value(f.constant), c.constant);
  }
}

TEST(LinearForm, RefusesWhatIsNotAffine) {
  const struct {
    const char* text;
    const char* reason;
  } cases[] = {
      {"k*x*y", "at most one factor with a state"},
      {"k/x", "no state in a denominator"},
      {"exp(x)", "no state inside a function"},
      {"x^2", "a state only to the power 1"},
      {"x + time", "no time-dependent term"},
      {"x + z", "unknown z"},
      {"piecewise(x, k > 1, y)", "sums, products and quotients"},
  };
  for (const auto& c : cases) {
    try {
      form(c.text);
      ADD_FAILURE() << "no refusal of " << c.text;
    } catch (const LinearFormError& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos)
          << c.text << ": " << e.what();
    }
  }
}

}  // namespace
}  // namespace identify
