// Expressions of parameters, with exact derivatives.
//
// Grammar (ASCII, blanks and tabs between tokens are ignored):
//   expression := term (("+" | "-") term)*
//   term       := unary (("*" | "/") unary)*
//   unary      := "-" unary | "+" unary | power
//   power      := primary ["^" unary]
//   primary    := number | name | function "(" expression ")"
//               | "(" expression ")"
//   function   := "exp" | "log" | "sqrt"     (log is the natural logarithm)
//   number     := digits ["." digits] [("e" | "E") ["+" | "-"] digits]
//                 (also ".5" and "5."; read correctly rounded)
//   name       := letter or "_", then letters, digits, "_"
// A name followed by "(" must be one of the functions; a function name
// without "(" is an ordinary name. "^" is the power a^b: it binds tighter
// than a sign and groups to the right, so -a^2 is -(a^2), a^b^c is
// a^(b^c) and 2^-1 is 0.5. Values follow IEEE arithmetic: log of a
// negative number is NaN, 1/0 is inf, and a^b with a <= 0 and b not a
// whole number is NaN (0^0.5 included: its derivative does not exist);
// nothing throws at evaluation. Only binding refuses a power whose operands
// are both constant there and outside that domain (EvaluationError), since
// it could never be evaluated. Parentheses, function calls, signs and
// powers nest at most kMaxExpressionDepth levels deep ("-(-(ka))" is four
// levels, "a^b^c" two), so that parsing needs a bounded stack whatever the
// text.
//
// An Expression is the parsed text with its names as written. Binding it in
// a context (a problem's parameters, an experiment's overrides) gives a
// BoundExpression: the names resolved to parameter indices or constants and
// constant subtrees folded, so that a constant expression costs nothing to
// evaluate. Its value and its gradient with respect to the parameters it
// uses come from one forward and one reverse pass over the compiled postfix
// program (reverse-mode automatic differentiation): exact to rounding, never
// finite differences.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace identify {

inline constexpr int kMaxExpressionDepth = 1000;

// A parse error: the text, the 0-based byte offset where the fault is, what
// was expected and what was found there ("end of expression" at the end).
// what(): `in "ka*": column 4: expected a number, a name or "(", found end
// of expression` (column = offset + 1).
class ExpressionError : public std::runtime_error {
 public:
  ExpressionError(std::string text, std::size_t offset, std::string expected,
                  std::string found);
  const std::string& text() const { return text_; }
  std::size_t offset() const { return offset_; }
  const std::string& expected() const { return expected_; }
  const std::string& found() const { return found_; }

 private:
  std::string text_;
  std::size_t offset_;
  std::string expected_;
  std::string found_;
};

// A power a^b with a <= 0 and b not a whole number, both constant where the
// expression is bound (numbers, or names that stand for numbers there):
// `in "(WT - 80)^0.75": a power a^b with a above 0 or a whole number b,
// found -2.5^0.75`.
class EvaluationError : public std::runtime_error {
 public:
  explicit EvaluationError(const std::string& message)
      : std::runtime_error(message) {}
};

// a^b, NaN for a <= 0 and b not a whole number.
double power_value(double a, double b);

class Expression {
 public:
  // The constant 0.
  Expression();
  // Parses `text`; throws ExpressionError.
  static Expression parse(std::string_view text);
  // The number `value` (its text is the shortest that reads back as it).
  static Expression number(double value);

  const std::string& text() const { return text_; }
  // The names used, each once, in order of first use.
  std::vector<std::string> names() const;
  // This expression with every name for which `definition` gives an
  // expression replaced by that whole expression (as if parenthesised); the
  // text stays this one's, as written.
  Expression substituted(
      const std::function<const Expression*(const std::string&)>& definition)
      const;

  // Postfix program; public for BoundExpression and tests, not for callers.
  enum class Op : unsigned char {
    kNumber,
    kName,
    kAdd,
    kSub,
    kMul,
    kDiv,
    kNeg,
    kExp,
    kLog,
    kSqrt,
    kPow
  };
  struct Node {
    Op op = Op::kNumber;
    double number = 0.0;  // kNumber
    int name = 0;         // kName: index into names_
  };
  const std::vector<Node>& program() const { return program_; }
  const std::vector<std::string>& name_table() const { return names_; }

 private:
  std::string text_;
  std::vector<Node> program_;
  std::vector<std::string> names_;  // distinct, in order of first use
};

// What a name stands for in one context: a parameter (index into the
// problem's parameters) or a constant.
struct Resolved {
  int parameter = -1;  // >= 0: that parameter
  double constant = 0.0;
};

class BoundExpression {
 public:
  // The constant 0.
  BoundExpression();
  // The constant `value`.
  explicit BoundExpression(double value);
  // The parameter `index` itself.
  static BoundExpression parameter(int index);

  // Resolves every name of `e` through `resolve` (which throws, typically a
  // ProblemError, for a name it does not know) and folds constant subtrees.
  // Throws EvaluationError for a constant power outside its domain.
  static BoundExpression bind(
      const Expression& e,
      const std::function<Resolved(const std::string&)>& resolve);

  bool is_constant() const { return parameters_.empty(); }
  // The value of a constant expression (valid when is_constant()).
  double constant_value() const { return constant_; }
  // The parameter index if the expression is exactly one parameter (no
  // arithmetic), else -1.
  int single_parameter() const { return single_; }
  // The distinct parameters it depends on, ascending.
  const std::vector<int>& parameters() const { return parameters_; }
  // The text it was bound from ("" for one built from a number or index).
  const std::string& text() const { return text_; }

  // Value at θ (θ indexed by parameter). `scratch` is working storage that
  // grows once to the size this expression needs and is then reused.
  double value(std::span<const double> theta,
               std::vector<double>& scratch) const;
  // Value at θ, and grad[i] = ∂value/∂θ_k for k = parameters()[i];
  // grad.size() must be parameters().size().
  double value_and_gradient(std::span<const double> theta,
                            std::span<double> grad,
                            std::vector<double>& scratch) const;
  // Value at θ in a number type T other than double, typically one that
  // carries derivatives: the same forward pass as value(), each operation
  // applied in T (exp, log, sqrt and pow of T found by argument-dependent
  // lookup), so T gets the expression's derivatives of every order it
  // carries, exactly. Defined in problem/expression_generic.h.
  template <class T>
  T generic_value(std::span<const T> theta, std::vector<T>& scratch) const;

 private:
  struct Node {
    Expression::Op op = Expression::Op::kNumber;
    double number = 0.0;  // kNumber
    int slot = 0;         // kName: index into parameters_
    int left = 0;         // operand nodes (positions in program_)
    int right = 0;
  };
  // Empty for a constant, and for a single parameter built by parameter()
  // (value and gradient then come from single_ alone, with no program to
  // store: a legacy problem has one such expression per entry of A).
  std::vector<Node> program_;
  std::vector<int> parameters_;
  double constant_ = 0.0;
  int single_ = -1;
  std::string text_;
};

}  // namespace identify
