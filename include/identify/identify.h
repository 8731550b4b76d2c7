// The identify library: fits linear ODE models dx/dt = A x + inputs to
// measured time series.
#pragma once

#include "identify/callbacks.h"
#include "identify/errors.h"
#include "identify/fit.h"
#include "identify/options.h"
#include "identify/problem.h"
#include "identify/result.h"
#include "identify/table.h"
