// Expressions: the evaluation with derivatives of the postfix program that
// the parser (expression_parser.h) emits. For a bound program of L nodes the
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

#include "problem/expression_parser.h"

namespace identify {

namespace {

using Op = Expression::Op;

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

Expression::Expression() : text_("0"), program_{Node{Op::kNumber, 0.0, 0}} {}

Expression Expression::parse(std::string_view text) {
  Expression e;
  e.text_ = std::string(text);
  e.program_.clear();
  parse_expression(text, e.program_, e.names_);
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
