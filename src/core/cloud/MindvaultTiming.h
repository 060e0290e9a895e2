#pragma once

#include <QtGlobal>

// The client's time-outs: seconds without progress on the connection before a request is given
// up; and the largest reply it reads. Tests shrink them.
struct MindvaultTiming {
    double request = 300;
    double objectStorage = 600; // the direct chunk PUT to object storage
    // A transcript's rows are far smaller; a reply beyond this is not the service talking.
    qint64 replyLimit = qint64(32) * 1024 * 1024;
};
