// The matrix exponential of a small square matrix of jets (jet.h), so that
// exp(A(z)·τ(z)) carries its exact first and second derivatives with
// respect to z: the first and second Fréchet derivatives of exp come out of
// the jet arithmetic of the same algorithm that gives the value.
#pragma once

#include <vector>

#include "fit/population/jet.h"

namespace identify {

// A row-major n×n matrix of jets.
struct JetMatrix {
  int n = 0;
  std::vector<Jet> a;
  Jet& operator()(int r, int c) { return a[r * n + c]; }
  const Jet& operator()(int r, int c) const { return a[r * n + c]; }
};

// exp(M) for a JetMatrix of jets of one size m.
JetMatrix jet_exponential(const JetMatrix& m);

// M·x.
std::vector<Jet> jet_product(const JetMatrix& m, const std::vector<Jet>& x);

}  // namespace identify
