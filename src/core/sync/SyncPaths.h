#pragma once

#include <QString>

// The archive layout under one root folder.
class SyncPaths {
public:
    explicit SyncPaths(QString root);

    // The user's documents folder + "/录音项目".
    static SyncPaths standard();

    const QString& root() const { return m_root; }
    QString dest() const;            // "导入": Ogg files, manifest, evidence
    QString rawPackets() const;      // "导入/原始包": raw packet files and partial downloads
    QString manifest() const;        // "导入/manifest.json"
    QString witnesses() const;       // "导入/录音时刻证据.json"
    QString mindvaultConfig() const; // "importer/mindvault.json"
    QString syncLog() const;         // "out/swift-同步日志.txt"
    QString cleanupSettings() const; // "out/swift-settings.json"

    // Creates rawPackets (and with it dest and root); throws FileError.
    void ensureDirs() const;

    bool operator==(const SyncPaths&) const = default;

private:
    QString m_root;
};
