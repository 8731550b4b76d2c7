// A small memo of exp(s·B): entries (s, exp(s·B)) for one B at a time,
// looked up by s; a different B (any bit of any entry) empties it, and
// when it is full the oldest entry makes room.
#include "model/exact/exponential_memo.h"

#include <algorithm>
#include <cstring>

namespace identify {

namespace {

constexpr std::size_t kBudgetDoubles = std::size_t{1} << 17;

bool same_bits(const Eigen::Ref<const Eigen::MatrixXd>& a,
               const Eigen::MatrixXd& b) {
  if (a.rows() != b.rows() || a.cols() != b.cols()) return false;
  for (Eigen::Index j = 0; j < a.cols(); ++j) {
    if (std::memcmp(a.col(j).data(), b.col(j).data(),
                    sizeof(double) * a.rows()) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

ExponentialMemo::ExponentialMemo(int m)
    : capacity_(std::max<std::size_t>(
          1, kBudgetDoubles /
                 std::max<std::size_t>(1, static_cast<std::size_t>(m) * m))),
      scaled_(m, m) {
  capacity_ = std::min<std::size_t>(capacity_, 64);
}

const Eigen::MatrixXd& ExponentialMemo::exponential(
    const Eigen::Ref<const Eigen::MatrixXd>& B, double s,
    MatrixExponential& expm) {
  if (!same_bits(B, B_)) {
    B_ = B;
    lengths_.clear();
    next_ = 0;
  }
  for (std::size_t k = 0; k < lengths_.size(); ++k) {
    if (lengths_[k] == s) return exponentials_[k];
  }
  std::size_t slot = lengths_.size();
  if (slot < capacity_) {
    lengths_.push_back(s);
    if (exponentials_.size() < lengths_.size()) exponentials_.emplace_back();
  } else {
    slot = next_;
    next_ = (next_ + 1) % capacity_;
    lengths_[slot] = s;
  }
  scaled_ = s * B;
  expm.compute(scaled_, exponentials_[slot]);
  return exponentials_[slot];
}

}  // namespace identify
