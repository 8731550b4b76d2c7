// The normal equations of a tall, well-conditioned least-squares problem in
// the scaling that the Gauss–Newton polish and the fit statistics use: the
// columns of J scaled to unit norm, Js = J·D⁻¹, and Ns = JsᵀJs factored by
// Cholesky. They cost n·q²/2 products and q³/3 for the factor, against
// 2·n·q² for the QR of J and the SVD of its triangle, but square the
// condition: a direction with singular value σ_i is resolved to about
// ε·(σ₁/σ_i)² instead of ε·σ₁/σ_i. Up to kNormalConditionLimit that is at
// most 2e-8 relative, and no direction is near the 1e8 at which the polish
// and the statistics call a direction unresolved; above it, and wherever a
// column is zero, callers take the QR and SVD of Js instead.
#pragma once

#include <Eigen/Cholesky>
#include <Eigen/Core>
#include <cstddef>

#include "fit/gram.h"

namespace identify {

inline constexpr double kNormalConditionLimit = 1e4;

struct ScaledNormal {
  Eigen::VectorXd norms;   // D: the column norms of J
  Eigen::MatrixXd normal;  // Ns = D⁻¹·JᵀJ·D⁻¹, lower triangle
  Eigen::LLT<Eigen::MatrixXd, Eigen::Lower> cholesky;  // of Ns
  // cond(Js) = sqrt(λ_max/λ_min) of Ns from ten steps each of power and
  // inverse iteration: an estimate from below, good to a small factor.
  double condition = 0.0;
  // Every column nonzero, the factor exists and the estimate is at most
  // kNormalConditionLimit.
  bool usable = false;
};

// J: n rows of gram's q columns, row-major. `gram` keeps its buffers from
// call to call.
ScaledNormal scaled_normal(Gram& gram, const double* J, std::size_t n);

// The same from N = JᵀJ (q × q, lower triangle) already formed.
ScaledNormal scaled_normal(Eigen::MatrixXd normal);

}  // namespace identify
