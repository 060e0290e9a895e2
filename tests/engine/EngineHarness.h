#pragma once

#include "VirtualPen.h"
#include "sync/SyncEngine.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>

// An engine on a temporary archive, talking to a virtual pen, with every device time-out cut to
// a fraction of a second. The cool-down steps keep their real values: tests that need time to
// pass move the fake clock instead.
class EngineHarness {
public:
    struct Note {
        QString body;
        QString title;
    };

    // A pen without files; add them with pen().addFile(). The archive goes under archiveRoot,
    // or into a temporary folder when that is empty.
    explicit EngineHarness(const QString& archiveRoot = {});
    ~EngineHarness();

    VirtualPen& pen() { return *m_pen; }
    SyncEngine& engine() { return *m_engine; }
    const SyncPaths& paths() const { return m_engine->paths(); }

    // The engine's clock: real time unless frozen at a date (then it moves only by advance()).
    void freezeClock(const QDateTime& at) { m_frozen = at; }
    void advance(double seconds) { *m_frozen = m_frozen->addMSecs(qint64(seconds * 1000)); }

    // The pen's sighting as the loop would pick it.
    Discovered sighting() const;
    // One round against the pen, run to its end.
    void round();

    // Log lines without their time stamps, oldest first.
    const QStringList& log() const { return m_log; }
    bool logged(const QString& line) const { return m_log.contains(line); }
    int loggedCount(const QString& prefix) const;
    const QList<Note>& notes() const { return m_notes; }

    QByteArray raw(const QString& base) const;
    QByteArray ogg(const QString& base) const;
    SyncManifest manifest() const;
    QStringList partialFiles() const;
    // Import requests the pen received since the last clearRequests(), as (name, offset).
    QList<std::pair<QString, uint32_t>> importRequests() const;

    // Decodes an Ogg Opus stream with libopusfile; the number of 48 kHz samples, or absent
    // when the decoder refuses it.
    static std::optional<qint64> decodedSamples(const QByteArray& ogg);

private:
    QTemporaryDir m_dir;
    std::unique_ptr<VirtualPen> m_pen;
    std::optional<QDateTime> m_frozen;
    QStringList m_log;
    QList<Note> m_notes;
    std::unique_ptr<SyncEngine> m_engine;
};
