#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

class SyncPaths;
struct SyncManifest;

// Read-only health check of the local archive: for every recording the ledger says was
// imported, is its raw packet file and its Ogg file still whole, and if not, what is wrong and
// what should the user do. Files the cloud folder has evicted (placeholders) are reported as not
// downloaded, never as lost. Nothing here writes a file or throws.
namespace ArchiveAudit {

// Declared in the order counts() reports them.
enum class Status { ok, notDownloaded, missing, sizeMismatch, damaged, needsReview };

QString label(Status status);    // "完好", "未下载", ...
QString rawValue(Status status); // "ok", "notDownloaded", ...

struct Item {
    QString base;
    qint64 expectedBytes = 0;   // raw size the ledger's key records
    qint64 expectedSeconds = 0; // duration the ledger's key records
    Status status = Status::ok;
    QString detail; // the finding with its evidence and remedy, for the user
    std::optional<qint64> rawBytes;
    std::optional<qint64> oggBytes;
    std::optional<double> decodedSeconds;
    // The raw file matches the ledger and holds whole packets: a new Ogg file can be wrapped.
    bool rawIntact = false;

    bool operator==(const Item&) const = default;
};

struct Report {
    QList<Item> items;              // by base, ascending
    QStringList unlistedRawPackets; // bases of raw files the ledger does not account for

    int total() const { return int(items.size()); }
    int healthy() const;
    int problems() const { return total() - healthy(); }
    // (status, number) in declaration order, statuses without items left out.
    QList<std::pair<Status, int>> counts() const;
    // "12 条：完好 10，未下载 1，需要人看一眼 1", or the empty-ledger text.
    QString summary() const;

    bool operator==(const Report&) const = default;
};

struct KeyParts {
    QString base; // normalised
    qint64 seconds = 0;
    qint64 bytes = 0;
    bool operator==(const KeyParts&) const = default;
};
// Reads an "imported" key "name|seconds|bytes"; nullopt unless it has exactly these three parts
// with two decimal numbers and a name that is not empty once normalised.
std::optional<KeyParts> parseKey(const QString& key);

// Loads the ledger (missing or unreadable: empty) and audits the archive under paths.
Report run(const SyncPaths& paths);
Report run(const QString& dest, const QString& rawDir, const SyncManifest& manifest);

// Audits one recording. oggName: the ledger's file name for the Ogg file (default base +
// ".ogg"); recorded: the byte count in the ledger's entry, checked against the key's. The
// engine's check just before deleting from the pen passes neither.
Item audit(const QString& base, qint64 expectedBytes, qint64 expectedSeconds,
           const std::optional<QString>& oggName, std::optional<qint64> recorded,
           const QString& dest, const QString& rawDir);

// Whether a file's first four bytes are "OggS"; false when it cannot be read.
bool magicIsOggS(const QString& path);

} // namespace ArchiveAudit
