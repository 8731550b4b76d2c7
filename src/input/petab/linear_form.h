// A formula of the model read as an affine function of the states,
//
//   f = sum over i of c_i·x_i + c_0,
//
// each c an expression of parameters only, written as text in the grammar
// of problem/expression.h. Sums, differences, negation, products with at
// most one factor that holds a state, and quotients whose denominator holds
// no state keep a formula affine; exp, ln, log10, sqrt and integer powers
// are allowed on parts without a state. Anything else (a product of two
// states, a state under a function, the time symbol, piecewise, a function
// call) is refused with the reason, so that the caller can name the element.
#pragma once

#include <sbml/math/ASTNode.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace identify {

// Why a formula is not affine in the states: "found \"k1*A*B\"" follows.
class LinearFormError : public std::runtime_error {
 public:
  explicit LinearFormError(const std::string& reason)
      : std::runtime_error(reason) {}
};

// What a symbol of a formula stands for: a state (index >= 0), or the text
// of a state-free expression (a parameter's name, a number).
struct SymbolMeaning {
  int state = -1;
  std::string text;
};

struct LinearForm {
  std::vector<std::string> coefficients;  // one per state; "" is 0
  std::string constant;                   // "" is 0

  bool has_state() const;
};

// The affine form of `formula` in `states` states; `symbol` resolves every
// name (and throws LinearFormError for one it refuses).
LinearForm linear_form(
    const ASTNode& formula, int states,
    const std::function<SymbolMeaning(const std::string&)>& symbol);

// The formula as the infix text libSBML writes, for messages.
std::string formula_text(const ASTNode& formula);

// The shortest text that reads back as `value`.
std::string formula_number(double value);

// Text operations on expressions where "" is 0.
std::string sum_text(const std::string& a, const std::string& b);
std::string product_text(const std::string& a, const std::string& b);
std::string quotient_text(const std::string& a, const std::string& b);
std::string negated_text(const std::string& a);

}  // namespace identify
