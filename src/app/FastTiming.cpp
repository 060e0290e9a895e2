#include "FastTiming.h"

namespace FastTiming {

EngineTiming engine()
{
    EngineTiming t;
    for (double& s : t.backoffSteps)
        s /= factor;
    t.resumeCooldown /= factor;
    t.sightingInterval /= factor;
    t.returnGap /= factor;
    return t;
}

} // namespace FastTiming
