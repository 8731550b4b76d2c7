// Recursive descent: expression = term {(+|-) term}; term = unary {(*|/)
// unary}; unary = (-|+) unary | power; power = primary [^ unary]; primary =
// number | name | function ( expression ) | ( expression ). Each rule emits
// its operands' nodes before its operator's, so the program is postfix and
// is evaluated with one stack.
#include "problem/expression_parser.h"

#include <cctype>
#include <charconv>
#include <cmath>
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

}  // namespace

ExpressionError::ExpressionError(std::string text, std::size_t offset,
                                 std::string expected, std::string found)
    : std::runtime_error("in \"" + text + "\": column " +
                         std::to_string(offset + 1) + ": expected " + expected +
                         ", found " + found),
      text_(std::move(text)),
      offset_(offset),
      expected_(std::move(expected)),
      found_(std::move(found)) {}

void parse_expression(std::string_view text,
                      std::vector<Expression::Node>& program,
                      std::vector<std::string>& names) {
  Parser(text).parse(program, names);
}

}  // namespace identify
