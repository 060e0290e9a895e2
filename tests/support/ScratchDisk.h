#pragma once

#include <QString>
#include <QTemporaryDir>
#include <string>

// A small tmpfs of its own, mounted on a temporary folder for the life of the object, so a test
// can fill a disk or turn it read-only under the code. Mounting needs root: check problem() and
// skip when it says why there is no disk.
class ScratchDisk {
public:
    explicit ScratchDisk(qint64 bytes);
    ~ScratchDisk();
    ScratchDisk(const ScratchDisk&) = delete;
    ScratchDisk& operator=(const ScratchDisk&) = delete;

    // Why the disk is not there (empty when it is).
    const std::string& problem() const { return m_problem; }
    QString path() const { return m_dir.path(); }

    bool remount(bool readOnly);
    // Fills the disk until only `left` bytes are free; false when that fails.
    bool fillLeaving(qint64 left) const;
    bool dropFiller() const;

private:
    QString fillerPath() const { return path() + QStringLiteral("/filler"); }

    QTemporaryDir m_dir;
    bool m_mounted = false;
    std::string m_problem;
};
