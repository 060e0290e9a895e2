#pragma once

#include "common/Error.h"
#include "sync/FileError.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <optional>

class SyncLog;

// The importer's ledger ("导入/manifest.json"): what was imported, pushed, deleted, starred,
// planned, and the failure counters. Never cached: every change is load -> modify -> save.
// A ledger that could not be read is never written back, because the empty stand-in would
// erase the whole history.
struct SyncManifest {
    struct Imported {
        QString file; // archived file name (base + ".ogg")
        qint64 bytes = 0;
        QString at; // "yyyy-MM-dd HH:mm:ss", local time
        bool operator==(const Imported&) const = default;
    };

    struct Plan {
        std::optional<QString> title;
        std::optional<QString> projectId;
        bool operator==(const Plan&) const = default;
    };

    class SaveError : public KestrelError {
    public:
        enum class Kind { RefusedUntrustworthy };
        explicit SaveError(Kind k = Kind::RefusedUntrustworthy) : m_kind(k) {}
        Kind kind() const { return m_kind; }
        QString description() const override;
        bool operator==(const SaveError& o) const { return m_kind == o.m_kind; }

    private:
        Kind m_kind;
    };

    std::map<QString, Imported> imported;       // recording key -> what was archived
    std::map<QString, QString> uploaded;        // base -> session id
    std::map<QString, QString> deleted;         // pen file name -> stamp
    QStringList starred;                        // bases
    QStringList dismissed;                      // bases
    std::map<QString, QString> missingOnServer; // base -> stamp
    std::map<QString, int> pollFailures;        // base -> count
    std::map<QString, Plan> plan;               // base -> planned title/project
    std::map<QString, int> downloadFailures;    // recording key -> count
    std::map<QString, int> repushRounds;        // base -> count
    bool isTrustworthy = true;                  // not stored
    // Map entries this version could not read, kept verbatim (compact JSON) under the map's
    // key, so a save never drops what another copy of the app wrote or a hand edit damaged.
    // An entry the program writes again under the same key replaces its unread value.
    std::map<QString, std::map<QString, QByteArray>> unread;

    bool operator==(const SyncManifest&) const = default;

    static SyncManifest fresh() { return {}; }
    // How the ledger writes a moment: "yyyy-MM-dd HH:mm:ss", local time.
    static QString stamp(const QDateTime& date);

    // Never throws. No file: empty and trustworthy. Unreadable or not a JSON object: empty and
    // untrustworthy. Otherwise each key decodes on its own: a key of the wrong type comes back
    // empty, a malformed entry is kept aside in `unread` and the rest of its map is read.
    static SyncManifest load(const QString& path);
    static SyncManifest decode(const QByteArray& json);
    // Why the ledger at path cannot be read, in one paragraph for the user: the file, where
    // the parser stopped, whether path + ".bak" holds a good copy, and what to do. Absent when
    // the file reads (or does not exist yet).
    static std::optional<QString> unreadableReason(const QString& path);
    // Pretty-printed, keys sorted, all ten keys, slashes unescaped.
    QByteArray encode() const;

    // Throws SaveError when untrustworthy (nothing written), FileError when the write fails
    // (the old file stays). Keeps the previous content as path + ".bak".
    void save(const QString& path) const;

    // The engine's persist: save, and on failure log "清单没保存成功：…" and carry on.
    // Returns whether the ledger was written. When the folder itself refused the write (disk
    // full, read-only), that error also goes to *blocked, if given.
    bool persist(const QString& path, SyncLog& log,
                 std::optional<FileError>* blocked = nullptr) const noexcept;
    // load -> change -> persist in one step.
    static bool modify(const QString& path, SyncLog& log,
                       const std::function<void(SyncManifest&)>& change);
};
