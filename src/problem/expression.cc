// Expressions: a recursive-descent parser that emits a postfix program, and
// its evaluation with derivatives. For a bound program of L nodes the
// forward pass computes every node's value v_i; the reverse pass starts from
// the adjoint 1 at the root and hands each node's adjoint a_i to its
// operands by the local derivatives (a + b: a_i to both; a·b: a_i·v_b and
// a_i·v_a; a/b: a_i/v_b and −a_i·v_i/v_b; −a: −a_i; exp a: a_i·v_i; log a:
// a_i/v_a; sqrt a: a_i/(2·v_i); a^b: a_i·b·a^(b−1) to a and a_i·v_i·ln a
// to b, which is 0 at a = 0 and does not exist for a < 0), so that a name's
// adjoint sums to ∂v/∂θ of its parameter. Both passes cost O(L) and use 2L
// doubles of scratch.
#include "problem/expression.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <utility>

#include "core/quoted_text.h"

namespace identify {

namespace {

using Op = Expression::Op;

// The text at `offset` as a message shows it: the token there, quoted, or
// "end of expression".
std::string found_at(std::string_view text, std::size_t offset) {
  if (offset >= text.size()) return "end of expression";
  const auto word = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
  };
  std::size_t end = offset + 1;
  if (word(text[offset])) {
    while (end < text.size() && word(text[end])) ++end;
  }
  return quote_text(text.substr(offset, end - offset));
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  void parse(std::vector<Expression::Node>& program,
             std::vector<std::string>& names) {
    program_ = &program;
    names_ = &names;
    expression();
    skip_blanks();
    if (pos_ < text_.size()) {
      fail("an operator (+, -, *, /) or the end of the expression");
    }
  }

 private:
  [[noreturn]] void fail(const std::string& expected) const {
    throw ExpressionError(std::string(text_), pos_, expected,
                          found_at(text_, pos_));
  }
  void skip_blanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) {
      ++pos_;
    }
  }
  bool take(char c) {
    skip_blanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  void emit(Op op, double number = 0.0, int name = 0) {
    program_->push_back(Expression::Node{op, number, name});
  }

  void expression() {
    term();
    for (;;) {
      if (take('+')) {
        term();
        emit(Op::kAdd);
      } else if (take('-')) {
        term();
        emit(Op::kSub);
      } else {
        return;
      }
    }
  }
  void term() {
    unary();
    for (;;) {
      if (take('*')) {
        unary();
        emit(Op::kMul);
      } else if (take('/')) {
        unary();
        emit(Op::kDiv);
      } else {
        return;
      }
    }
  }
  // Enters one more level of nesting opened by the character at `at`.
  void nest(std::size_t at) {
    if (++depth_ > kMaxExpressionDepth) {
      pos_ = at;
      fail("nesting at most " + std::to_string(kMaxExpressionDepth) +
           " levels deep (parentheses, functions and signs)");
    }
  }
  void unary() {
    skip_blanks();
    const std::size_t at = pos_;
    if (take('-')) {
      nest(at);
      unary();
      emit(Op::kNeg);
    } else if (take('+')) {
      nest(at);
      unary();
    } else {
      power();
      return;
    }
    --depth_;
  }
  // A primary, raised to a power when "^" follows; the exponent is a unary,
  // so that a^b^c groups as a^(b^c) and a^-b is allowed.
  void power() {
    primary();
    skip_blanks();
    const std::size_t at = pos_;
    if (!take('^')) return;
    nest(at);
    unary();
    emit(Op::kPow);
    --depth_;
  }
  void primary() {
    skip_blanks();
    const std::size_t at = pos_;
    if (take('(')) {
      nest(at);
      expression();
      if (!take(')')) fail("\")\"");
      --depth_;
      return;
    }
    if (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
        return number();
      }
      if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
        return name();
      }
    }
    fail("a number, a name or \"(\"");
  }
  void number() {
    const std::size_t start = pos_;
    const auto digits = [&] {
      const std::size_t from = pos_;
      while (pos_ < text_.size() &&
             std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
        ++pos_;
      }
      return pos_ - from;
    };
    std::size_t count = digits();
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      count += digits();
    }
    if (count == 0) {
      pos_ = start;
      fail("a number, a name or \"(\"");
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      std::size_t p = pos_ + 1;
      if (p < text_.size() && (text_[p] == '+' || text_[p] == '-')) ++p;
      const std::size_t exponent = p;
      while (p < text_.size() &&
             std::isdigit(static_cast<unsigned char>(text_[p]))) {
        ++p;
      }
      if (p == exponent) {
        pos_ = start;
        fail("a number, a name or \"(\"");
      }
      pos_ = p;
    }
    double value = 0.0;
    const auto [end, ec] =
        std::from_chars(text_.data() + start, text_.data() + pos_, value);
    static_cast<void>(end);
    if (ec == std::errc::result_out_of_range) {
      // from_chars leaves the value alone when it is out of range; strtod
      // tells overflow (an error) from underflow (0 or a subnormal).
      const std::string digits(text_.substr(start, pos_ - start));
      value = std::strtod(digits.c_str(), nullptr);
      if (std::isinf(value)) {
        pos_ = start;
        fail("a finite number");
      }
    }
    emit(Op::kNumber, value);
  }
  void name() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() &&
           (std::isalnum(static_cast<unsigned char>(text_[pos_])) ||
            text_[pos_] == '_')) {
      ++pos_;
    }
    const std::string word(text_.substr(start, pos_ - start));
    const std::size_t after = pos_;
    if (take('(')) {
      Op op;
      if (word == "exp") {
        op = Op::kExp;
      } else if (word == "log") {
        op = Op::kLog;
      } else if (word == "sqrt") {
        op = Op::kSqrt;
      } else {
        pos_ = start;
        fail("a function (exp, log or sqrt) before \"(\"");
      }
      nest(start);
      expression();
      if (!take(')')) fail("\")\"");
      emit(op);
      --depth_;
      return;
    }
    pos_ = after;
    const auto [known, added] =
        name_index_.try_emplace(word, static_cast<int>(names_->size()));
    if (added) names_->push_back(word);
    emit(Op::kName, 0.0, known->second);
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int depth_ = 0;
  std::vector<Expression::Node>* program_ = nullptr;
  std::vector<std::string>* names_ = nullptr;
  std::unordered_map<std::string, int> name_index_;  // into *names_
};

std::string shortest_text(double value) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  static_cast<void>(ec);
  return std::string(buffer, end);
}

int arity(Op op) {
  switch (op) {
    case Op::kNumber:
    case Op::kName:
      return 0;
    case Op::kNeg:
    case Op::kExp:
    case Op::kLog:
    case Op::kSqrt:
      return 1;
    default:
      return 2;
  }
}

double apply(Op op, double a, double b) {
  switch (op) {
    case Op::kAdd:
      return a + b;
    case Op::kSub:
      return a - b;
    case Op::kMul:
      return a * b;
    case Op::kDiv:
      return a / b;
    case Op::kNeg:
      return -a;
    case Op::kExp:
      return std::exp(a);
    case Op::kLog:
      return std::log(a);
    case Op::kSqrt:
      return std::sqrt(a);
    case Op::kPow:
      return power_value(a, b);
    default:
      return a;
  }
}

std::string power_text(double a, double b) {
  return shortest_text(a) + "^" + shortest_text(b);
}

}  // namespace

double power_value(double a, double b) {
  if (a <= 0.0 && b != std::trunc(b)) return std::nan("");
  return std::pow(a, b);
}

ExpressionError::ExpressionError(std::string text, std::size_t offset,
                                 std::string expected, std::string found)
    : std::runtime_error("in \"" + text + "\": column " +
                         std::to_string(offset + 1) + ": expected " + expected +
                         ", found " + found),
      text_(std::move(text)),
      offset_(offset),
      expected_(std::move(expected)),
      found_(std::move(found)) {}

Expression::Expression() : text_("0"), program_{Node{Op::kNumber, 0.0, 0}} {}

Expression Expression::parse(std::string_view text) {
  Expression e;
  e.text_ = std::string(text);
  e.program_.clear();
  Parser(text).parse(e.program_, e.names_);
  return e;
}

Expression Expression::number(double value) {
  Expression e;
  e.text_ = shortest_text(value);
  e.program_[0].number = value;
  return e;
}

std::vector<std::string> Expression::names() const { return names_; }

Expression Expression::substituted(
    const std::function<const Expression*(const std::string&)>& definition)
    const {
  Expression out;
  out.text_ = text_;
  out.program_.clear();
  std::unordered_map<std::string, int> index;
  const auto name_slot = [&](const std::string& name) {
    const auto [it, added] =
        index.try_emplace(name, static_cast<int>(out.names_.size()));
    if (added) out.names_.push_back(name);
    return it->second;
  };
  // A postfix program splices: the definition's nodes in place of the name
  // leave one operand on the stack, as the name did.
  for (const Node& node : program_) {
    if (node.op != Op::kName) {
      out.program_.push_back(node);
      continue;
    }
    const Expression* d = definition(names_[node.name]);
    if (d == nullptr) {
      out.program_.push_back(
          Node{Op::kName, 0.0, name_slot(names_[node.name])});
      continue;
    }
    for (const Node& inner : d->program_) {
      Node copy = inner;
      if (copy.op == Op::kName) copy.name = name_slot(d->names_[inner.name]);
      out.program_.push_back(copy);
    }
  }
  return out;
}

BoundExpression::BoundExpression() = default;

BoundExpression::BoundExpression(double value) : constant_(value) {}

BoundExpression BoundExpression::parameter(int index) {
  BoundExpression b;
  b.parameters_ = {index};
  b.single_ = index;
  return b;
}

BoundExpression BoundExpression::bind(
    const Expression& e,
    const std::function<Resolved(const std::string&)>& resolve) {
  std::vector<Resolved> resolved;
  for (const std::string& name : e.name_table()) {
    resolved.push_back(resolve(name));
  }
  BoundExpression out;
  out.text_ = e.text();
  for (const Resolved& r : resolved) {
    if (r.parameter >= 0) out.parameters_.push_back(r.parameter);
  }
  std::sort(out.parameters_.begin(), out.parameters_.end());
  out.parameters_.erase(
      std::unique(out.parameters_.begin(), out.parameters_.end()),
      out.parameters_.end());

  // Walk the postfix program with a stack of operands that are either
  // constants (folded at once, with the same operations as at run time) or
  // nodes already emitted.
  struct Item {
    bool constant = true;
    double value = 0.0;
    int node = 0;
  };
  std::vector<Item> stack;
  const auto emit = [&](Node node) {
    out.program_.push_back(node);
    return Item{false, 0.0, static_cast<int>(out.program_.size()) - 1};
  };
  const auto as_node = [&](const Item& item) {
    return item.constant ? emit(Node{Op::kNumber, item.value, 0, 0, 0}).node
                         : item.node;
  };
  for (const Expression::Node& node : e.program()) {
    const int n = arity(node.op);
    if (n == 0) {
      if (node.op == Op::kNumber) {
        stack.push_back(Item{true, node.number, 0});
        continue;
      }
      const Resolved& r = resolved[node.name];
      if (r.parameter < 0) {
        stack.push_back(Item{true, r.constant, 0});
        continue;
      }
      const int slot = static_cast<int>(
          std::lower_bound(out.parameters_.begin(), out.parameters_.end(),
                           r.parameter) -
          out.parameters_.begin());
      stack.push_back(emit(Node{Op::kName, 0.0, slot, 0, 0}));
      continue;
    }
    const Item b = stack.back();
    stack.pop_back();
    if (n == 1) {
      stack.push_back(b.constant ? Item{true, apply(node.op, b.value, 0.0), 0}
                                 : emit(Node{node.op, 0.0, 0, b.node, 0}));
      continue;
    }
    const Item a = stack.back();
    stack.pop_back();
    if (a.constant && b.constant) {
      if (node.op == Op::kPow && std::isnan(power_value(a.value, b.value)) &&
          !std::isnan(a.value) && !std::isnan(b.value)) {
        throw EvaluationError("in \"" + e.text() +
                              "\": a power a^b with a above 0 or a whole "
                              "number b, found " +
                              power_text(a.value, b.value));
      }
      stack.push_back(Item{true, apply(node.op, a.value, b.value), 0});
      continue;
    }
    const int left = as_node(a);
    const int right = as_node(b);
    stack.push_back(emit(Node{node.op, 0.0, 0, left, right}));
  }
  const Item root = stack.back();
  if (root.constant) {
    out.program_.clear();
    out.parameters_.clear();
    out.constant_ = root.value;
  } else if (out.program_.size() == 1) {
    out.single_ = out.parameters_[0];
  }
  return out;
}

double BoundExpression::value(std::span<const double> theta,
                              std::vector<double>& scratch) const {
  if (single_ >= 0) return theta[single_];
  if (program_.empty()) return constant_;
  if (scratch.size() < program_.size()) scratch.resize(program_.size());
  double* v = scratch.data();
  for (std::size_t i = 0; i < program_.size(); ++i) {
    const Node& node = program_[i];
    switch (node.op) {
      case Op::kNumber:
        v[i] = node.number;
        break;
      case Op::kName:
        v[i] = theta[parameters_[node.slot]];
        break;
      default:
        v[i] = apply(node.op, v[node.left], v[node.right]);
        break;
    }
  }
  return v[program_.size() - 1];
}

double BoundExpression::value_and_gradient(std::span<const double> theta,
                                           std::span<double> grad,
                                           std::vector<double>& scratch) const {
  std::fill(grad.begin(), grad.end(), 0.0);
  if (single_ >= 0) {
    grad[0] = 1.0;
    return theta[single_];
  }
  if (program_.empty()) return constant_;
  const std::size_t count = program_.size();
  if (scratch.size() < 2 * count) scratch.resize(2 * count);
  const double result = value(theta, scratch);
  const double* v = scratch.data();
  double* a = scratch.data() + count;
  std::fill(a, a + count, 0.0);
  a[count - 1] = 1.0;
  for (std::size_t q = count; q-- > 0;) {
    const Node& node = program_[q];
    const double adj = a[q];
    const int l = node.left, r = node.right;
    switch (node.op) {
      case Op::kNumber:
        break;
      case Op::kName:
        grad[node.slot] += adj;
        break;
      case Op::kAdd:
        a[l] += adj;
        a[r] += adj;
        break;
      case Op::kSub:
        a[l] += adj;
        a[r] -= adj;
        break;
      case Op::kMul:
        a[l] += adj * v[r];
        a[r] += adj * v[l];
        break;
      case Op::kDiv:
        a[l] += adj / v[r];
        a[r] -= adj * v[q] / v[r];
        break;
      case Op::kNeg:
        a[l] -= adj;
        break;
      case Op::kExp:
        a[l] += adj * v[q];
        break;
      case Op::kLog:
        a[l] += adj / v[l];
        break;
      case Op::kSqrt:
        a[l] += adj / (2.0 * v[q]);
        break;
      case Op::kPow: {
        const double base = v[l], exponent = v[r];
        a[l] += adj * exponent * std::pow(base, exponent - 1.0);
        if (base > 0.0) {
          a[r] += adj * v[q] * std::log(base);
        } else if (base < 0.0) {
          a[r] += std::nan("");
        }
        break;
      }
    }
  }
  return result;
}

}  // namespace identify
