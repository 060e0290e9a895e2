#pragma once

#include <QLockFile>
#include <QString>
#include <chrono>
#include <memory>

// One importer per archive on this computer: the desktop application and a pen station (or two
// stations) on the same archive would both download, write and account for the same
// recordings, and the ledger must never be written by two processes. The lock lives in the
// user's runtime folder, not in the archive, because the archive is often a synchronised
// folder and a lock there would travel to other computers. A lock left by a process that died
// is taken over.
class ArchiveLock {
public:
    // lockFolder: where lock files live; empty means the user's runtime folder.
    explicit ArchiveLock(const QString& archiveRoot, const QString& lockFolder = {});

    // True when this process now holds the archive; waits up to `wait` for the holder to go.
    bool tryLock(std::chrono::milliseconds wait = std::chrono::milliseconds(0));
    bool isLocked() const { return m_file->isLocked(); }

    // Who holds it, as one sentence for the user; call after tryLock failed.
    QString heldBy() const;

    QString lockPath() const { return m_path; }

private:
    QString m_root;
    QString m_path;
    std::unique_ptr<QLockFile> m_file;
};
