#include "platform/ExclusiveRename.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ExclusiveRename {

namespace {

bool unsupported(int err)
{
    return err == EINVAL || err == ENOSYS || err == ENOTSUP || err == EOPNOTSUPP;
}

} // namespace

Result move(const QString& from, const QString& to) noexcept
{
    const QByteArray src = QFile::encodeName(from);
    const QByteArray dst = QFile::encodeName(to);
#if defined(__linux__)
    if (::renameat2(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0)
        return Result::Moved;
    if (errno == EEXIST)
        return Result::Taken;
    if (!unsupported(errno))
        return Result::Failed;
#elif defined(__APPLE__)
    if (::renamex_np(src.constData(), dst.constData(), RENAME_EXCL) == 0)
        return Result::Moved;
    if (errno == EEXIST)
        return Result::Taken;
    if (!unsupported(errno))
        return Result::Failed;
#endif
    // A link refuses an existing name just as atomically; then the temporary name goes.
    if (::link(src.constData(), dst.constData()) == 0) {
        ::unlink(src.constData());
        return Result::Moved;
    }
    if (errno == EEXIST)
        return Result::Taken;
    // File systems without links (FAT): look, then move. The lookup on such a file system
    // ignores case as the rename does, so "X.WAV" stops "x.wav".
    struct stat info {};
    if (::lstat(dst.constData(), &info) == 0)
        return Result::Taken;
    return std::rename(src.constData(), dst.constData()) == 0 ? Result::Moved : Result::Failed;
}

QString moveToFreeName(const QString& from, const QString& folder, const QString& stem,
                       const QString& extension) noexcept
{
    for (int n = 1; n < 1000; ++n) {
        const QString name =
            n == 1 ? stem : stem + QStringLiteral(" (") + QString::number(n) + QLatin1Char(')');
        const QString to = folder + QLatin1Char('/') + name + extension;
        switch (move(from, to)) {
        case Result::Moved:
            return to;
        case Result::Taken:
            continue;
        case Result::Failed:
            return {};
        }
    }
    errno = EEXIST;
    return {};
}

} // namespace ExclusiveRename
