// The TimeGrid of the original sweeps: nodes k = 0 .. kStepCount at time
// k·dt, dt = T / 3000.0, formed once and handed to both sweeps.
#pragma once

namespace identify {

inline constexpr int kStepCount = 3000;
inline constexpr int kNodeCount = kStepCount + 1;

}  // namespace identify
