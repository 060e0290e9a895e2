#include "support/ScratchDisk.h"

#include <QFile>
#include <QStorageInfo>
#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

namespace {

constexpr unsigned long baseFlags = MS_NOSUID | MS_NODEV;

} // namespace

ScratchDisk::ScratchDisk(qint64 bytes)
{
    if (geteuid() != 0) {
        m_problem = "not root: a test cannot mount a small file system of its own";
        return;
    }
    const QByteArray options = "size=" + QByteArray::number(bytes);
    if (::mount("tmpfs", QFile::encodeName(path()).constData(), "tmpfs", baseFlags,
                options.constData()) != 0) {
        m_problem = std::string("mount -t tmpfs failed: ") + std::strerror(errno);
        return;
    }
    m_mounted = true;
}

ScratchDisk::~ScratchDisk()
{
    if (m_mounted)
        ::umount2(QFile::encodeName(path()).constData(), MNT_DETACH);
}

bool ScratchDisk::remount(bool readOnly)
{
    const unsigned long flags = MS_REMOUNT | baseFlags | (readOnly ? MS_RDONLY : 0);
    return ::mount("tmpfs", QFile::encodeName(path()).constData(), "tmpfs", flags, nullptr) == 0;
}

bool ScratchDisk::fillLeaving(qint64 left) const
{
    QFile filler(fillerPath());
    const qint64 take = QStorageInfo(path()).bytesAvailable() - left;
    return take > 0 && filler.open(QIODevice::WriteOnly) &&
           filler.write(QByteArray(take, 'x')) == take && filler.flush();
}

bool ScratchDisk::dropFiller() const
{
    return QFile::remove(fillerPath());
}
