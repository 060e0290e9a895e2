#include "sync/FileError.h"

#include <QFileInfo>
#include <QStorageInfo>
#include <cerrno>

using namespace Qt::StringLiterals;

namespace {

FileError::Kind kindOf(int err, const QString& folder, qint64 needed)
{
    switch (err) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return FileError::Kind::DiskFull;
    case EROFS:
        return FileError::Kind::ReadOnly;
    case EACCES:
        return FileError::Kind::NoPermission;
    default:
        break;
    }
    const QStorageInfo storage(folder);
    if (!storage.isValid())
        return FileError::Kind::Other;
    if (storage.isReadOnly())
        return FileError::Kind::ReadOnly;
    // A temporary copy is written beside the target before the rename, so needed is all of it.
    const qint64 available = storage.bytesAvailable();
    if (available >= 0 && available < needed)
        return FileError::Kind::DiskFull;
    return FileError::Kind::Other;
}

} // namespace

FileError FileError::writeFailed(const QString& path, const QString& osText, int err, qint64 needed)
{
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    const QString name = info.fileName();
    switch (const Kind kind = kindOf(err, folder, needed)) {
    case Kind::DiskFull:
        return {kind,
                u"磁盘满了：文件夹 %1 所在的磁盘没有空间了，%2 写不进去。"
                u"请在这块磁盘上腾出空间（删掉用不着的大文件、清空回收站）。"_s.arg(folder, name)};
    case Kind::ReadOnly:
        return {kind, u"文件夹 %1 是只读的，%2 写不进去。"
                      u"请让它可写（比如把它所在的磁盘重新挂载为可读写）。"_s.arg(folder, name)};
    case Kind::NoPermission:
        return {kind, u"没有权限往文件夹 %1 里写 %2。请把这个文件夹的写权限交还给当前用户。"_s.arg(
                          folder, name)};
    case Kind::Other:
        break;
    }
    return FileError(osText);
}

std::optional<FileError> FileError::refusal(const QString& path, qint64 needed)
{
    FileError judged = writeFailed(path, {}, 0, needed);
    if (!judged.blocksWrites())
        return std::nullopt;
    return judged;
}
