#pragma once

// The client's time-outs: seconds without progress on the connection before a request is given
// up. Tests shrink them.
struct MindvaultTiming {
    double request = 300;
    double objectStorage = 600; // the direct chunk PUT to object storage
};
