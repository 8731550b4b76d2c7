// Whether a method that does not use the least-squares structure stopped
// short of what that structure still offers: at its end point, the decrease
// of S that a Gauss–Newton step over the resolved directions predicts,
// compared with the noise spread of S (noise_stop.h).
#pragma once

#include <string>
#include <vector>

#include "fit/scaled_unknowns.h"

namespace identify {

// For a sum of squares with more residuals than unknowns, at the scaled
// point y (one Jacobian there): "; lbfgsb stopped where a Gauss–Newton step
// still predicts a decrease of the objective by X, above its noise spread
// Y: lm suits least-squares problems" when the predicted decrease exceeds
// the spread, else empty (also for −2 ln L, for y empty, and where the
// model call was cut short).
std::string gauss_newton_left_text(ScaledUnknowns& unknowns,
                                   const std::vector<double>& y,
                                   const std::string& method);

}  // namespace identify
