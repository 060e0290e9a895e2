#pragma once

#include "sync/EngineTiming.h"

// --fast-timing: every cool-down and period divided by `factor`, for demos, trials and
// screenshots; the pen's own time-outs keep their values because the pen needs them.
namespace FastTiming {

constexpr double factor = 20;

EngineTiming engine();

} // namespace FastTiming
