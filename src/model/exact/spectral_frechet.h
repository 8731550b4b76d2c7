// The derivative of y = cᵀ·exp(s·B)·z with respect to every entry of B at
// once, from the eigendecomposition B = V·Λ·V⁻¹ (λ_p complex, in conjugate
// pairs for a real B). With f(x) = e^{s·x} and its divided differences
//
//   Φ_pq = (e^{s·λ_p} − e^{s·λ_q}) / (λ_p − λ_q),   Φ_pp = s·e^{s·λ_p},
//
// the Fréchet derivative is L(s·B, s·E) = V·(Φ ∘ (V⁻¹·E·V))·V⁻¹, and for
// E = e_i·e_jᵀ
//
//   ∂y/∂B_ij = Σ_p c̃_p·V⁻¹_pi·R_pj,   R = Φ·diag(ỹ)·Vᵀ,
//
// with c̃ = Vᵀ·c and ỹ = V⁻¹·z. R depends on (s, z) only, so the rows of
// one sample time share it, and each observable costs one real m×m×m
// product: the terms of λ_p and of its conjugate are conjugate, so their
// sum is 2·Re(·), which takes one row of real and one of imaginary parts
// in place of the pair.
//
// The divided differences are taken from the eigenvalue with the larger
// real part, Φ_pq = s·e^{s·λ_p}·φ(s·(λ_q − λ_p)) with φ(d) = (e^d − 1)/d
// summed as its series for |d| < 1/2, so close or equal eigenvalues lose
// nothing. The error of the result is about cond(V) times the unit
// roundoff: the decomposition is refused (load() returns false, and the
// caller keeps the Padé form of matrix_exponential.h) where the 1-norm
// condition of V exceeds kConditionLimit, as it does near a defective B.
#pragma once

#include <Eigen/Core>
#include <Eigen/Eigenvalues>
#include <Eigen/LU>
#include <vector>

namespace identify {

class SpectralFrechet {
 public:
  // Working storage for m×m matrices B.
  explicit SpectralFrechet(int m);

  // Above this 1-norm condition of the eigenvector matrix load() refuses:
  // the results then keep about 12 digits.
  static constexpr double kConditionLimit = 1e3;

  // Decomposes B (m×m). False where B has a non-finite entry, the
  // eigenvalue iteration fails or V is too ill-conditioned; the other
  // calls then must not be made until a load() succeeds. A B equal bit for
  // bit to the last one keeps its decomposition (and its answer).
  bool load(const Eigen::Ref<const Eigen::MatrixXd>& B);
  // The 1-norm condition of V of the last successful load().
  double condition() const { return condition_; }

  // Sets the sample: time s > 0 after a state z (m).
  void set_sample(double s, const Eigen::Ref<const Eigen::VectorXd>& z);
  // For the sample set: G(i, j) = ∂(cᵀ·exp(s·B)·z)/∂B_ij (m×m); with
  // `adjoint` non-null also *adjoint = exp(s·Bᵀ)·c, with `state` non-null
  // *state = exp(s·B)·z. The parts that depend on c alone (c̃ and its
  // packed rows) are kept from one sample to the next under `observable`
  // (0, 1, …; the same c each time until the next load()); −1 keeps
  // nothing. The results are the same doubles either way.
  void derivative(const Eigen::VectorXd& c, Eigen::MatrixXd& G,
                  Eigen::VectorXd* adjoint, Eigen::VectorXd* state,
                  int observable = -1);

 private:
  int m_;
  Eigen::EigenSolver<Eigen::MatrixXd> solver_;
  Eigen::PartialPivLU<Eigen::MatrixXcd> lu_;
  Eigen::VectorXcd lambda_;
  Eigen::MatrixXcd V_, Vinv_;
  // Per row p: 0 for a real λ_p, 1 for the first of a conjugate pair (its
  // row carries real parts), 2 for the second (imaginary parts).
  Eigen::VectorXi kind_;
  double condition_ = 0.0;
  // The B of the last load() and its answer.
  Eigen::MatrixXd loaded_;
  bool accepted_ = false;
  bool decompose(const Eigen::MatrixXd& B);
  // Of the sample: e^{s·λ}, ỹ, Φ, R packed to real rows, and scratch.
  Eigen::VectorXcd growth_, ytilde_, ctilde_, work_;
  Eigen::MatrixXcd phi_, scaled_, R_;
  Eigen::MatrixXd packed_R_, packed_c_;
  // c̃ = Vᵀ·c and its packed rows, per observable since the last load().
  struct Observed {
    bool ready = false;
    Eigen::VectorXcd ctilde;
    Eigen::MatrixXd packed;
  };
  std::vector<Observed> observed_;
  // The packed rows of c̃ into `packed`.
  void pack_observable(const Eigen::VectorXcd& ctilde,
                       Eigen::MatrixXd& packed) const;
};

}  // namespace identify
