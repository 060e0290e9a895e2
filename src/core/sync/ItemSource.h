#pragma once

#include "sync/SyncPlanner.h"

// A component whose own state shows in the recording list (the upload queue's service states,
// the pen deletions' queue): the engine asks each one for its part whenever it rebuilds the list.
class ItemSource {
public:
    virtual ~ItemSource() = default;
    virtual void describe(SyncPlanner::ItemContext& context) const = 0;
};
