// The misfit between model samples and measurements and the stopping test.
#pragma once

#include "core/table.h"

namespace identify {

// sqrt of sum over series k and samples n of (M[k][n] − data[k][n])², in
// that order, each square added to the running sum. M and data have the same
// shape (K rows of points).
double residual_norm(const Table& M, const Table& data);

// The adjoint jumps of the misfit: H = (M − data)·2.0, entry by entry, the
// derivative of the sum of squared residuals with respect to each sample.
void residual_jumps(const Table& M, const Table& data, Table& H);

// epsilon >= residual_norm(M, data). A NaN norm gives false.
bool misfit_converged(double epsilon, const Table& M, const Table& data);

}  // namespace identify
