// All-entry derivative of cᵀ·exp(s·B)·z from B = V·Λ·V⁻¹ (the formulas are
// in spectral_frechet.h): per load one eigendecomposition and inverse,
// per sample the divided differences Φ and R = Φ·diag(ỹ)·Vᵀ (O(m³)), per
// observable c̃ = Vᵀ·c, the packed rows c̃_p·V⁻¹_p· and one real product
// Gᵀ-sized O(m³).
#include "model/exact/spectral_frechet.h"

#include <cmath>
#include <complex>
#include <cstring>

namespace identify {
namespace {

using Complex = std::complex<double>;

// φ(d) = (e^d − 1)/d for |d| < 1/2, by its series Σ d^k/(k+1)!: the terms
// fall by more than 2 each, 20 of them reach below the unit roundoff.
Complex phi_series(Complex d) {
  Complex sum = 0.0, term = 1.0;
  for (int k = 1; k <= 20; ++k) {
    sum += term;
    term *= d / static_cast<double>(k + 1);
  }
  return sum;
}

}  // namespace

SpectralFrechet::SpectralFrechet(int m)
    : m_(m),
      solver_(m),
      lu_(m),
      lambda_(m),
      V_(m, m),
      Vinv_(m, m),
      kind_(m),
      growth_(m),
      ytilde_(m),
      ctilde_(m),
      work_(m),
      phi_(m, m),
      scaled_(m, m),
      R_(m, m),
      packed_R_(m, m),
      packed_c_(m, m) {}

bool SpectralFrechet::load(const Eigen::Ref<const Eigen::MatrixXd>& B) {
  for (Observed& o : observed_) o.ready = false;
  // The same B, bit for bit, as the last load (the next experiment of a
  // model whose experiments share A): the same decomposition.
  if (loaded_.rows() == B.rows() && loaded_.cols() == B.cols()) {
    bool same = true;
    for (Eigen::Index j = 0; same && j < B.cols(); ++j) {
      same = std::memcmp(loaded_.col(j).data(), B.col(j).data(),
                         sizeof(double) * B.rows()) == 0;
    }
    if (same) return accepted_;
  }
  loaded_ = B;
  accepted_ = decompose(B);
  return accepted_;
}

bool SpectralFrechet::decompose(const Eigen::MatrixXd& B) {
  if (!B.allFinite()) return false;
  solver_.compute(B, true);
  if (solver_.info() != Eigen::Success) return false;
  lambda_ = solver_.eigenvalues();
  // The eigenvectors from the real pseudo-eigenvectors: a conjugate pair
  // (p, p + 1) keeps its real and imaginary parts in columns p and p + 1.
  const Eigen::MatrixXd& pseudo = solver_.pseudoEigenvectors();
  for (int p = 0; p < m_; ++p) {
    if (lambda_[p].imag() == 0.0) {
      kind_[p] = 0;
      V_.col(p) = pseudo.col(p).cast<Complex>();
    } else if (p + 1 < m_ && lambda_[p + 1] == std::conj(lambda_[p])) {
      kind_[p] = 1;
      kind_[p + 1] = 2;
      V_.col(p).real() = pseudo.col(p);
      V_.col(p).imag() = pseudo.col(p + 1);
      V_.col(p + 1) = V_.col(p).conjugate();
      ++p;
    } else {
      return false;
    }
  }
  V_.colwise().normalize();
  lu_.compute(V_);
  Vinv_ = lu_.inverse();
  const double norm = V_.cwiseAbs().colwise().sum().maxCoeff();
  const double inverse_norm = Vinv_.cwiseAbs().colwise().sum().maxCoeff();
  condition_ = norm * inverse_norm;
  return std::isfinite(condition_) && condition_ <= kConditionLimit;
}

void SpectralFrechet::set_sample(double s,
                                 const Eigen::Ref<const Eigen::VectorXd>& z) {
  for (int p = 0; p < m_; ++p) growth_[p] = std::exp(s * lambda_[p]);
  ytilde_.noalias() = Vinv_ * z.cast<Complex>();
  for (int q = 0; q < m_; ++q) {
    for (int p = q; p < m_; ++p) {
      // From the eigenvalue with the larger real part, so that d has a
      // real part <= 0.
      const bool p_leads = lambda_[p].real() >= lambda_[q].real();
      const int lead = p_leads ? p : q, other = p_leads ? q : p;
      const Complex d = s * (lambda_[other] - lambda_[lead]);
      const Complex value =
          std::abs(d) < 0.5
              ? s * growth_[lead] * phi_series(d)
              : (growth_[p] - growth_[q]) / (lambda_[p] - lambda_[q]);
      phi_(p, q) = value;
      phi_(q, p) = value;
    }
  }
  scaled_ = ytilde_.asDiagonal() * V_.transpose();
  R_.noalias() = phi_ * scaled_;
  for (int p = 0; p < m_; ++p) {
    if (kind_[p] == 2) {
      packed_R_.row(p) = R_.row(p - 1).imag();
    } else {
      packed_R_.row(p) = R_.row(p).real();
    }
  }
}

void SpectralFrechet::pack_observable(const Eigen::VectorXcd& ctilde,
                                      Eigen::MatrixXd& packed) const {
  packed.resize(m_, m_);
  for (int p = 0; p < m_; ++p) {
    switch (kind_[p]) {
      case 0:
        packed.row(p) = (ctilde[p] * Vinv_.row(p)).real();
        break;
      case 1:
        packed.row(p) = 2.0 * (ctilde[p] * Vinv_.row(p)).real();
        break;
      default:
        packed.row(p) = -2.0 * (ctilde[p - 1] * Vinv_.row(p - 1)).imag();
        break;
    }
  }
}

void SpectralFrechet::derivative(const Eigen::VectorXd& c, Eigen::MatrixXd& G,
                                 Eigen::VectorXd* adjoint,
                                 Eigen::VectorXd* state, int observable) {
  const Eigen::VectorXcd* ctilde = &ctilde_;
  const Eigen::MatrixXd* packed = &packed_c_;
  if (observable >= 0) {
    if (static_cast<std::size_t>(observable) >= observed_.size()) {
      observed_.resize(observable + 1);
    }
    Observed& o = observed_[observable];
    if (!o.ready) {
      o.ctilde.noalias() = V_.transpose() * c.cast<Complex>();
      pack_observable(o.ctilde, o.packed);
      o.ready = true;
    }
    ctilde = &o.ctilde;
    packed = &o.packed;
  } else {
    ctilde_.noalias() = V_.transpose() * c.cast<Complex>();
    pack_observable(ctilde_, packed_c_);
  }
  G.noalias() = packed->transpose() * packed_R_;
  if (adjoint != nullptr) {
    work_ = growth_.cwiseProduct(*ctilde);
    adjoint->noalias() = (Vinv_.transpose() * work_).real();
  }
  if (state != nullptr) {
    work_ = growth_.cwiseProduct(ytilde_);
    state->noalias() = (V_ * work_).real();
  }
}

}  // namespace identify
