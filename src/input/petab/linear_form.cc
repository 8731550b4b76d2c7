// Affine forms of model formulas. Each node of the formula's tree gives a
// form (c_1..c_N, c_0) built from those of its children:
//   a ± b:  (a_i ± b_i), (a_0 ± b_0)
//   a·b:    if b has no state, (a_i·b_0), (a_0·b_0), and alike with a and b
//           exchanged; two factors with states make the formula nonlinear
//   a/b:    b without a state: (a_i/b_0), (a_0/b_0)
//   f(a):   a without a state: (0, f(a_0))
// The coefficient texts are built with every operand in parentheses, so
// that they read back in the grammar of problem/expression.h with the
// meaning they had in the tree.
#include "input/petab/linear_form.h"

#include <sbml/math/L3FormulaFormatter.h>

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace identify {
namespace {

constexpr int kMaxFormulaDepth = 200;

class FormBuilder {
 public:
  FormBuilder(int states,
              const std::function<SymbolMeaning(const std::string&)>& symbol)
      : states_(states), symbol_(symbol) {}

  LinearForm form(const ASTNode& node, int depth) {
    if (depth > kMaxFormulaDepth) {
      throw LinearFormError("expected a formula nested at most " +
                            std::to_string(kMaxFormulaDepth) + " deep");
    }
    if (node.isNumber()) {
      if (!std::isfinite(node.getValue()))
        throw LinearFormError("expected finite numbers");
      return constant(formula_number(node.getValue()));
    }
    const unsigned n = node.getNumChildren();
    switch (node.getType()) {
      case AST_NAME: {
        const SymbolMeaning m = symbol_(node.getName());
        if (m.state < 0) return constant(m.text);
        LinearForm f = zero();
        f.coefficients[m.state] = "1";
        return f;
      }
      case AST_CONSTANT_PI:
        return constant(formula_number(M_PI));
      case AST_CONSTANT_E:
        return constant(formula_number(std::exp(1.0)));
      case AST_PLUS: {
        LinearForm f = zero();
        for (unsigned k = 0; k < n; ++k)
          f = add(f, form(*node.getChild(k), depth + 1), false);
        return f;
      }
      case AST_MINUS:
        if (n == 1)
          return add(zero(), form(*node.getChild(0), depth + 1), true);
        if (n != 2) break;
        return add(form(*node.getChild(0), depth + 1),
                   form(*node.getChild(1), depth + 1), true);
      case AST_TIMES: {
        LinearForm f = constant("1");
        for (unsigned k = 0; k < n; ++k)
          f = multiply(f, form(*node.getChild(k), depth + 1));
        return f;
      }
      case AST_DIVIDE: {
        if (n != 2) break;
        const LinearForm d = form(*node.getChild(1), depth + 1);
        if (d.has_state())
          throw LinearFormError("expected no state in a denominator");
        LinearForm f = form(*node.getChild(0), depth + 1);
        for (std::string& c : f.coefficients) c = quotient_text(c, d.constant);
        f.constant = quotient_text(f.constant, d.constant);
        return f;
      }
      case AST_POWER:
      case AST_FUNCTION_POWER:
        if (n == 2) return power(node, depth);
        break;
      case AST_FUNCTION_EXP:
        if (n == 1) return function("exp", node, depth);
        break;
      case AST_FUNCTION_LN:
        if (n == 1) return function("log", node, depth);
        break;
      case AST_FUNCTION_LOG:
        // log with one argument is log10; log(b, x) has its base first.
        if (n == 1) return log10(form(*node.getChild(0), depth + 1));
        break;
      case AST_FUNCTION_ROOT:
        // sqrt(a) is root(2, a): the degree comes first.
        if (n == 1) return function("sqrt", node, depth);
        if (n == 2) return root(node, depth);
        break;
      case AST_NAME_TIME:
        throw LinearFormError("expected no time-dependent term");
      default:
        break;
    }
    throw LinearFormError(
        "expected sums, products and quotients of states and "
        "parameters, exp, ln, log10 and sqrt");
  }

 private:
  LinearForm zero() const {
    LinearForm f;
    f.coefficients.assign(static_cast<std::size_t>(states_), "");
    return f;
  }
  LinearForm constant(std::string text) const {
    LinearForm f = zero();
    f.constant = std::move(text);
    return f;
  }
  static LinearForm add(LinearForm a, const LinearForm& b, bool subtract) {
    const auto op = [subtract](const std::string& x, const std::string& y) {
      return sum_text(x, subtract ? negated_text(y) : y);
    };
    for (std::size_t i = 0; i < a.coefficients.size(); ++i)
      a.coefficients[i] = op(a.coefficients[i], b.coefficients[i]);
    a.constant = op(a.constant, b.constant);
    return a;
  }
  static LinearForm multiply(const LinearForm& a, const LinearForm& b) {
    if (a.has_state() && b.has_state())
      throw LinearFormError("expected at most one factor with a state");
    const LinearForm& s = a.has_state() ? a : b;
    const std::string& k = a.has_state() ? b.constant : a.constant;
    LinearForm f = s;
    for (std::string& c : f.coefficients) c = product_text(c, k);
    f.constant = product_text(s.constant, k);
    return f;
  }
  LinearForm state_free(const ASTNode& node, int depth) {
    LinearForm f = form(node, depth + 1);
    if (f.has_state())
      throw LinearFormError("expected no state inside a function or power");
    return f;
  }
  LinearForm function(const char* name, const ASTNode& node, int depth) {
    const LinearForm a = state_free(*node.getChild(0), depth);
    return constant(std::string(name) + "(" +
                    (a.constant.empty() ? "0" : a.constant) + ")");
  }
  LinearForm log10(const LinearForm& a) const {
    if (a.has_state())
      throw LinearFormError("expected no state inside a function or power");
    return constant("log(" + (a.constant.empty() ? "0" : a.constant) +
                    ")/log(10)");
  }
  // The d-th root of a state-free a: sqrt for d = 2, else exp(ln(a)/d).
  LinearForm root(const ASTNode& node, int depth) {
    const LinearForm d = state_free(*node.getChild(0), depth);
    const LinearForm a = state_free(*node.getChild(1), depth);
    const std::string base = a.constant.empty() ? "0" : a.constant;
    if (d.constant == "2") return constant("sqrt(" + base + ")");
    return constant("exp(log(" + base + ")/(" +
                    (d.constant.empty() ? "0" : d.constant) + "))");
  }

  // a^k: a state-free base with any exponent, by exp(k·ln a); a form with
  // a state only to the power 1.
  LinearForm power(const ASTNode& node, int depth) {
    const LinearForm k = state_free(*node.getChild(1), depth);
    const LinearForm a = form(*node.getChild(0), depth + 1);
    if (k.constant == "1") return a;
    if (a.has_state())
      throw LinearFormError("expected a state only to the power 1");
    const std::string base = a.constant.empty() ? "0" : a.constant;
    const std::string exponent = k.constant.empty() ? "0" : k.constant;
    char* end = nullptr;
    const double whole = std::strtod(exponent.c_str(), &end);
    if (*end == '\0' && whole == std::trunc(whole) && std::abs(whole) <= 8) {
      std::string text = "1";
      for (int j = 0; j < std::abs(whole); ++j) text = product_text(text, base);
      return constant(whole < 0 ? quotient_text("1", text) : text);
    }
    return constant("exp((" + exponent + ")*log(" + base + "))");
  }

  int states_;
  const std::function<SymbolMeaning(const std::string&)>& symbol_;
};

}  // namespace

bool LinearForm::has_state() const {
  for (const std::string& c : coefficients) {
    if (!c.empty()) return true;
  }
  return false;
}

LinearForm linear_form(
    const ASTNode& formula, int states,
    const std::function<SymbolMeaning(const std::string&)>& symbol) {
  return FormBuilder(states, symbol).form(formula, 0);
}

std::string formula_text(const ASTNode& formula) {
  char* text = SBML_formulaToL3String(&formula);
  std::string out = text != nullptr ? text : "";
  std::free(text);
  return out;
}

std::string formula_number(double value) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  static_cast<void>(ec);
  return std::string(buffer, end);
}

std::string sum_text(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  // A sum is the loosest binding: its left operand needs no parentheses,
  // so that a long sum does not nest.
  return a + "+(" + b + ")";
}

std::string product_text(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return "";
  if (a == "1") return b;
  if (b == "1") return a;
  return "(" + a + ")*(" + b + ")";
}

std::string quotient_text(const std::string& a, const std::string& b) {
  if (a.empty()) return "";
  if (b == "1") return a;
  return "(" + a + ")/(" + (b.empty() ? "0" : b) + ")";
}

std::string negated_text(const std::string& a) {
  return a.empty() ? "" : "-(" + a + ")";
}

}  // namespace identify
