// The misfit between model samples and measurements, the stopping test, and
// the trapezoid quadrature that turns an adjoint row and a model row into one
// gradient entry.
#pragma once

#include "model/table.h"

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

// Trapezoid integral of a·b over [0, T] on count uniform nodes, in the
// arrangement (h / 2)·sum_i (a[i+1]·b[i+1] + a[i]·b[i]). count >= 2.
double gradient_entry(double T, int count, const double* a, const double* b);

}  // namespace identify
