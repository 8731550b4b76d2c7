// The matrix exponential of a small square matrix of jets (jet.h) or of
// dual jets (dual_jet.h), so that exp(A(z)·τ(z)) carries its exact first
// and second derivatives with respect to z (and, for dual jets, their
// derivatives along one direction): the Fréchet derivatives of exp come out
// of the jet arithmetic of the same algorithm that gives the value.
#pragma once

#include <vector>

#include "fit/population/dual_jet.h"
#include "fit/population/jet.h"

namespace identify {

// A row-major n×n matrix of jets J (Jet or DualJet).
template <class J>
struct JetMatrixOf {
  int n = 0;
  std::vector<J> a;
  J& operator()(int r, int c) { return a[r * n + c]; }
  const J& operator()(int r, int c) const { return a[r * n + c]; }
};
using JetMatrix = JetMatrixOf<Jet>;

// exp(M) for a matrix of jets of one size m.
template <class J>
JetMatrixOf<J> jet_exponential(const JetMatrixOf<J>& m);

// M·x.
template <class J>
std::vector<J> jet_product(const JetMatrixOf<J>& m, const std::vector<J>& x);

extern template JetMatrixOf<Jet> jet_exponential(const JetMatrixOf<Jet>&);
extern template JetMatrixOf<DualJet> jet_exponential(
    const JetMatrixOf<DualJet>&);
extern template std::vector<Jet> jet_product(const JetMatrixOf<Jet>&,
                                             const std::vector<Jet>&);
extern template std::vector<DualJet> jet_product(const JetMatrixOf<DualJet>&,
                                                 const std::vector<DualJet>&);

}  // namespace identify
