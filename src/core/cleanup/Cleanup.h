#pragma once

#include "device/FileEntry.h"
#include "sync/SyncManifest.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <map>
#include <optional>

// Which files on the pen may be deleted, file by file, each verdict with its reason in one
// short sentence for the user. Deletes nothing: the engine carries out the decisions after one
// more check of the local archive. Every condition must hold; they are tested in a fixed order
// and the first one that fails is the reason a file is kept.
namespace Cleanup {

struct Decision {
    QString name;              // the pen's name with one trailing "." removed
    bool shouldDelete = false; // true: the file may be deleted from the pen
    QString reason;

    bool operator==(const Decision&) const = default;
};

// What one cleanup pass judges against.
struct Context {
    std::map<QString, SyncManifest::Imported> imported; // the ledger's recording key -> archive
    std::map<QString, QString> uploaded; // the ledger's archived base -> service session id
    QString dest;                        // Ogg folder: <name>.ogg
    QString rawDir;                      // raw packet folder: <name>.opus
    int coolingDays = 3;
    QDateTime now;
    std::optional<int> recordStatus;      // the pen's recording state; 2 = not recording
    std::optional<QString> deviceCurrent; // the file the pen reports as its current one
};

constexpr double durationToleranceSec = 2.0;
constexpr qint64 earliestPlausible = 1577836800; // 2020-01-01 00:00:00 UTC
constexpr qint64 futureAllowanceSec = 86400;

// Vetoes for the whole pass; see deviceVeto.
inline const QString planVetoSuffix = QStringLiteral("，本轮不删任何文件");
inline const QString wipeVetoSuffix = QStringLiteral("，不删任何文件");

// The recording time a file name carries ("yyyyMMdd-HHmmss" anywhere in it, local time);
// nullopt without one or for an impossible date.
std::optional<QDateTime> recordedAt(const QString& name);

// Unless the pen is known not to be recording (state 2), every entry is kept with the reason
// "设备" + state + suffix and nothing else is checked; nullopt when there is no veto.
std::optional<QList<Decision>> deviceVeto(const QList<FileEntry>& entries,
                                          std::optional<int> recordStatus, const QString& suffix);

// Whether the pen reports this (stripped) name as its current file; the pen may wrap the name
// in an extension or a path.
bool isDeviceCurrent(const QString& name, const std::optional<QString>& deviceCurrent);

// The base the ledger archived this very pen recording under, found by its recording key: a
// later recording that reuses an archived name is stored under a numbered base, and must never
// be judged by the earlier one's upload and files. Absent when the ledger has no such recording.
std::optional<QString> archivedBase(const FileEntry& entry,
                                    const std::map<QString, SyncManifest::Imported>& imported);

// The local archive check: nullopt when the archive holds a complete copy of the entry, else
// the keep decision saying what is wrong. name is the archived base the files go by. Reads only the
// Ogg file's first four bytes and the raw file's size.
std::optional<Decision> checkLocalArchive(const QString& name, const FileEntry& entry,
                                          const QString& dest, const QString& rawDir);

// The time rules (stamp present, plausible, cool-off passed) once everything else holds.
Decision judgeAge(const QString& name, int coolingDays, const QDateTime& now);

} // namespace Cleanup
