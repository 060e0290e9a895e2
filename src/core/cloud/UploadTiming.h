#pragma once

#include <algorithm>
#include <cmath>

// The upload queue's back-off and loop periods, in seconds. The defaults are the production
// values; tests shrink the loop periods (back-off times are checked on the injected clock).
struct UploadTiming {
    double firstRetry = 30;   // delay after the first failed push; doubles per failure
    double retryCap = 1800;   // longest delay between two attempts
    double retryPeriod = 600; // the upload-retry loop
    double pollPeriod = 45;   // the status-polling loop

    // Delay before the next attempt after `attempts` failed pushes (attempts >= 1).
    double retryDelay(int attempts) const
    {
        const int doublings = std::clamp(attempts - 1, 0, 30);
        return std::min(firstRetry * std::pow(2.0, doublings), retryCap);
    }

    UploadTiming scaled(double factor) const
    {
        UploadTiming t = *this;
        for (double* v : {&t.firstRetry, &t.retryCap, &t.retryPeriod, &t.pollPeriod})
            *v *= factor;
        return t;
    }
};
