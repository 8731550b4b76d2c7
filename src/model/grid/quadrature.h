// The trapezoid quadrature that turns an adjoint row and a model row on the
// TimeGrid into one gradient entry.
#pragma once

namespace identify {

// Trapezoid integral of a·b over [0, T] on count uniform nodes, in the
// arrangement (h / 2)·sum_i (a[i+1]·b[i+1] + a[i]·b[i]). count >= 2.
double gradient_entry(double T, int count, const double* a, const double* b);

}  // namespace identify
