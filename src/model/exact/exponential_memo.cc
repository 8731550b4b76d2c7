// A small memo of exp(s·B): entries (s, exp(s·B)) for one B at a time,
// looked up by s; a different B (any bit of any entry) empties it, and
// when it is full the oldest entry makes room.
#include "model/exact/exponential_memo.h"

#include <algorithm>
#include <cstring>

namespace identify {

namespace {

constexpr std::size_t kBudgetDoubles = std::size_t{1} << 17;
constexpr std::size_t kMostLengths = 64;

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
    : capacity_(std::clamp<std::size_t>(
          kBudgetDoubles /
              std::max<std::size_t>(1, static_cast<std::size_t>(m) * m),
          1, kMostLengths)),
      B_(m, m),
      exponentials_(capacity_, Eigen::MatrixXd(m, m)),
      scaled_(m, m) {
  lengths_.reserve(capacity_);
}

const Eigen::MatrixXd& ExponentialMemo::exponential(
    const Eigen::Ref<const Eigen::MatrixXd>& B, double s,
    MatrixExponential& expm) {
  if (!holds_ || !same_bits(B, B_)) {
    B_ = B;
    holds_ = true;
    lengths_.clear();
    next_ = 0;
  }
  for (std::size_t k = 0; k < lengths_.size(); ++k) {
    if (lengths_[k] == s) return exponentials_[k];
  }
  std::size_t slot = lengths_.size();
  if (slot < capacity_) {
    lengths_.push_back(s);
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
