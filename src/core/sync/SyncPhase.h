#pragma once

#include <QString>

// What the engine is doing right now, with the text the UI shows for it.
class SyncPhase {
public:
    enum class Kind {
        Idle,
        WaitingForDevice,
        Connecting,
        Listing,
        Downloading,
        Uploading,
        Cleaning,
        Failed
    };

    SyncPhase() = default;

    static SyncPhase idle() { return SyncPhase(Kind::Idle); }
    static SyncPhase waitingForDevice() { return SyncPhase(Kind::WaitingForDevice); }
    static SyncPhase connecting() { return SyncPhase(Kind::Connecting); }
    static SyncPhase listing() { return SyncPhase(Kind::Listing); }
    static SyncPhase cleaning() { return SyncPhase(Kind::Cleaning); }
    static SyncPhase downloading(const QString& fileName, int percent);
    static SyncPhase uploading(const QString& name, const QString& detail);
    static SyncPhase failed(const QString& message);

    Kind kind() const { return m_kind; }
    bool is(Kind k) const { return m_kind == k; }
    // Payloads: file name / name for downloading and uploading, detail for uploading,
    // message for failed; percent for downloading.
    const QString& name() const { return m_text; }
    const QString& detail() const { return m_detail; }
    const QString& message() const { return m_text; }
    int percent() const { return m_percent; }

    QString label() const;

    bool operator==(const SyncPhase&) const = default;

private:
    explicit SyncPhase(Kind k) : m_kind(k) {}

    Kind m_kind = Kind::Idle;
    QString m_text;
    QString m_detail;
    int m_percent = 0;
};
