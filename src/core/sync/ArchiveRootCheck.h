#pragma once

#include <QString>
#include <optional>

// Whether a folder can serve as the archive root, said in one sentence the user can act on.
// Every front end asks before it touches the archive, so a bad --archive-root is named first
// instead of surfacing later as a silent failed round or an empty report.
namespace ArchiveRootCheck {

enum class Use {
    read,  // reports and audits: the folder must exist and be listable; nothing is created
    write, // syncing: the folder is created when missing and must take a new file
};

// Absent when the root serves; otherwise the complete sentence naming the root.
std::optional<QString> problem(const QString& root, Use use);

} // namespace ArchiveRootCheck
