#pragma once

#include "sync/SyncPlanner.h"

#include <QString>

namespace ArchiveScan {

// base -> size of every file in folder whose lower-cased name ends in "." + ext.
SyncPlanner::Sizes sizes(const QString& folder, const QString& ext);

} // namespace ArchiveScan
