// A BoundExpression held by many rows at once, as the sigma of every
// measurement of an observable is: a constant is kept as its value alone,
// any other expression once, shared by all its copies, so that a row pays
// 8 bytes for it whatever the expression (a BoundExpression takes about
// 100). Values and gradients are those of the expression it was made from,
// bit for bit; the text of a constant is not kept.
//
// The 8 bytes hold either the constant's own bits or, for a shared
// expression, a NaN whose top 16 bits are kSharedTag and whose low 48 bits
// are the address of a reference-counted node (user-space addresses on
// x86-64 and AArch64 fit in 48 bits). A NaN constant is kept as the one
// canonical quiet NaN, so no constant carries the tag.
#pragma once

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "problem/expression.h"

namespace identify {

class SharedExpression {
 public:
  // The constant `value` (implicit, as a sigma is often a number).
  SharedExpression(double value = 0.0)  // NOLINT
      : bits_(std::bit_cast<std::uint64_t>(
            std::isnan(value) ? std::numeric_limits<double>::quiet_NaN()
                              : value)) {}
  // `e` itself: its value if constant, else a shared copy (implicit, so
  // that a bound expression stands wherever a shared one is wanted).
  SharedExpression(const BoundExpression& e)  // NOLINT
      : SharedExpression(e.is_constant() ? e.constant_value() : 0.0) {
    if (!e.is_constant()) bits_ = tagged(new Node{{1}, e});
  }
  SharedExpression(const SharedExpression& other) : bits_(other.bits_) {
    if (Node* n = node()) n->refs.fetch_add(1, std::memory_order_relaxed);
  }
  SharedExpression(SharedExpression&& other) noexcept : bits_(other.bits_) {
    other.bits_ = 0;
  }
  SharedExpression& operator=(SharedExpression other) noexcept {
    std::swap(bits_, other.bits_);
    return *this;
  }
  ~SharedExpression() {
    Node* n = node();
    if (n != nullptr && n->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      delete n;
    }
  }

  bool is_constant() const { return node() == nullptr; }
  double constant_value() const {
    return is_constant() ? std::bit_cast<double>(bits_) : 0.0;
  }
  int single_parameter() const {
    return is_constant() ? -1 : node()->e.single_parameter();
  }
  // The distinct parameters it depends on, ascending.
  const std::vector<int>& parameters() const {
    static const std::vector<int> kNone;
    return is_constant() ? kNone : node()->e.parameters();
  }
  // The text it was bound from; "" for a constant.
  const std::string& text() const {
    static const std::string kNone;
    return is_constant() ? kNone : node()->e.text();
  }
  // As BoundExpression::value and value_and_gradient.
  double value(std::span<const double> theta,
               std::vector<double>& scratch) const {
    return is_constant() ? constant_value() : node()->e.value(theta, scratch);
  }
  double value_and_gradient(std::span<const double> theta,
                            std::span<double> grad,
                            std::vector<double>& scratch) const {
    return is_constant() ? constant_value()
                         : node()->e.value_and_gradient(theta, grad, scratch);
  }
  // The expression held; null for a constant.
  const BoundExpression* bound() const {
    return is_constant() ? nullptr : &node()->e;
  }
  // Whether two hold the very same expression (or equal constants).
  bool same_as(const SharedExpression& other) const {
    if (is_constant() != other.is_constant()) return false;
    return is_constant() ? constant_value() == other.constant_value()
                         : bits_ == other.bits_;
  }

 private:
  struct Node {
    std::atomic<long> refs;
    BoundExpression e;
  };
  static constexpr std::uint64_t kSharedTag = 0xFFFC;
  static constexpr std::uint64_t kAddressMask = (std::uint64_t{1} << 48) - 1;

  static std::uint64_t tagged(Node* n) {
    const auto address = reinterpret_cast<std::uintptr_t>(n);
    if ((address & ~kAddressMask) != 0) {
      delete n;
      throw std::runtime_error(
          "an expression was allocated above the 48-bit address space");
    }
    return (kSharedTag << 48) | address;
  }
  Node* node() const {
    if ((bits_ >> 48) != kSharedTag) return nullptr;
    return reinterpret_cast<Node*>(
        static_cast<std::uintptr_t>(bits_ & kAddressMask));
  }

  std::uint64_t bits_;
};

static_assert(sizeof(SharedExpression) == 8);

}  // namespace identify
