#pragma once

#include <QString>

// Moves a finished file to its name only when nothing is there yet, so a file someone already
// has under that name (in any letter case, on a file system that ignores case) is never
// replaced or deleted.
namespace ExclusiveRename {

enum class Result {
    Moved,
    Taken,  // something is there; nothing was changed
    Failed, // the move itself failed (see errno); nothing was changed
};

Result move(const QString& from, const QString& to) noexcept;

} // namespace ExclusiveRename

namespace ExclusiveRename {

// Moves `from` into `folder` as stem + extension, else as "stem (2)" + extension, "stem (3)", …,
// whichever is free first. The full path it took, or empty when a move failed (errno says why)
// or no name up to "stem (999)" was free.
QString moveToFreeName(const QString& from, const QString& folder, const QString& stem,
                       const QString& extension) noexcept;

} // namespace ExclusiveRename
