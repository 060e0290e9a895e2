#include "sync/SyncPaths.h"

#include "platform/StandardFolders.h"
#include "sync/FileError.h"

#include <QDir>
#include <QFileInfo>
#include <filesystem>
#include <system_error>

using namespace Qt::StringLiterals;

SyncPaths::SyncPaths(QString root) : m_root(std::move(root)) {}

SyncPaths SyncPaths::standard()
{
    static const QString root = StandardFolders::documents() + u"/录音项目"_s;
    return SyncPaths(root);
}

QString SyncPaths::dest() const
{
    return m_root + u"/导入"_s;
}

QString SyncPaths::rawPackets() const
{
    return m_root + u"/导入/原始包"_s;
}

QString SyncPaths::manifest() const
{
    return m_root + u"/导入/manifest.json"_s;
}

QString SyncPaths::witnesses() const
{
    return m_root + u"/导入/录音时刻证据.json"_s;
}

QString SyncPaths::mindvaultConfig() const
{
    return m_root + u"/importer/mindvault.json"_s;
}

QString SyncPaths::syncLog() const
{
    return m_root + u"/out/swift-同步日志.txt"_s;
}

QString SyncPaths::cleanupSettings() const
{
    return m_root + u"/out/swift-settings.json"_s;
}

void SyncPaths::ensureDirs() const
{
    // std::filesystem rather than QDir::mkpath: it tells why it failed.
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(rawPackets().toStdU16String()), ec);
    if (ec) {
        // Name the folder that refused: the deepest one that exists.
        QFileInfo missing(rawPackets());
        while (!missing.dir().exists() && !missing.dir().isRoot())
            missing.setFile(missing.absolutePath());
        throw FileError::writeFailed(missing.filePath(), QString::fromLocal8Bit(ec.message()),
                                     ec.value());
    }
}
