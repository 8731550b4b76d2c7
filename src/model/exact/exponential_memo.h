// exp(s·B) for the lengths s met since B last changed, so that experiments
// that share B and their sample times (the whole matrix A observed from
// several initial states) compute each exponential once per pass instead
// of once per experiment. A remembered exponential is the matrix that
// computing it again would give, to the last bit: the memo changes no
// result.
#pragma once

#include <Eigen/Core>
#include <cstddef>
#include <vector>

#include "model/exact/matrix_exponential.h"

namespace identify {

class ExponentialMemo {
 public:
  // Room for up to 64 exponentials of m×m matrices within a budget of 2^17
  // doubles, and never fewer than one, allocated here: the calls allocate
  // nothing.
  explicit ExponentialMemo(int m);

  // exp(s·B) by `expm`, or the one computed for the same B (bit for bit)
  // and s. B is m×m; the reference holds until the next call.
  const Eigen::MatrixXd& exponential(const Eigen::Ref<const Eigen::MatrixXd>& B,
                                     double s, MatrixExponential& expm);

 private:
  std::size_t capacity_;
  Eigen::MatrixXd B_;  // the B the entries belong to, once holds_
  bool holds_ = false;
  std::vector<double> lengths_;
  std::vector<Eigen::MatrixXd> exponentials_;
  std::size_t next_ = 0;  // the entry to replace when all are in use
  Eigen::MatrixXd scaled_;
};

}  // namespace identify
