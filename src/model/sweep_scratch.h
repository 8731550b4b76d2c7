// The six scratch Vectors that both sweeps borrow: the four stage increments,
// the stage argument y and the right-hand side f. The caller allocates them
// once per run so that no sweep allocates inside the descent loop.
#pragma once

#include "model/table.h"

namespace identify {

struct SweepScratch {
  explicit SweepScratch(int n)
      : k1(n), k2(n), k3(n), k4(n), y(n), f(n), w(n) {}
  Vector k1, k2, k3, k4, y, f;
  Vector w;  // the running state of a sweep
};

}  // namespace identify
