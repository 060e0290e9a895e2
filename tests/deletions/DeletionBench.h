#pragma once

#include "cleanup/ArchiveFixture.h"
#include "cleanup/PenDeletions.h"
#include "device/BLEError.h"
#include "engine/EngineHarness.h"
#include "support/TestSupport.h"
#include "sync/SyncPlanner.h"

#include <QDate>
#include <QTime>
#include <map>

// An engine on a temporary archive (its pen is never connected here), the deletion code on it,
// and a pen stand-in that answers each deletion as told, remembering what it was asked.
struct DeletionBench {
    enum class Answer { gone, refuses, throws };

    // "Now" for every test: 2025-11-20 10:00 local time.
    static QDateTime today() { return QDateTime(QDate(2025, 11, 20), QTime(10, 0)); }
    static QString todayStamp() { return QStringLiteral("2025-11-20 10:00:00"); }

    static constexpr qsizetype packetCount = 250; // 5 s

    static FileEntry entry(const QString& name, qsizetype packets = packetCount)
    {
        const QByteArray raw = name.toUtf8().leftJustified(20, '\0', true);
        return FileEntry{uint32_t(packets * 20 / 1000), uint32_t(packets * 40), name, raw};
    }

    // The ledger's entries for these recordings, each archived under its own name.
    static PenDeletions::Imported ledgerOf(const QList<FileEntry>& entries)
    {
        PenDeletions::Imported out;
        for (const FileEntry& e : entries) {
            out[SyncPlanner::manifestKey(e)] = {e.base() + QStringLiteral(".ogg"), e.size, {}};
        }
        return out;
    }

    DeletionBench()
    {
        harness.freezeClock(today());
        // A manual trigger would start a real round against the pen: keep it out of the way.
        harness.engine().holdRoundGuard(true);
    }

    SyncEngine& engine() { return harness.engine(); }

    // The raw packets and the Ogg file of a recording, as the importer leaves them.
    void archive(const QString& base, qsizetype packets = packetCount) const
    {
        TestSupport::writeFile(rawPath(base), ArchiveFixture::packets(packets));
        TestSupport::writeFile(harness.paths().dest() + u'/' + base + QStringLiteral(".ogg"),
                               ArchiveFixture::ogg(packets));
    }
    QString rawPath(const QString& base) const
    {
        return harness.paths().rawPackets() + u'/' + base + QStringLiteral(".opus");
    }

    void editManifest(const std::function<void(SyncManifest&)>& change)
    {
        SyncManifest m = harness.manifest();
        change(m);
        m.save(harness.paths().manifest());
    }

    EngineHarness harness;
    PenDeletions deletions{harness.engine(), VaultProvider()};
    std::map<QString, Answer> answers; // by listed name; default: gone
    QStringList asked;                 // listed names the pen was asked to delete
    PenDeletions::DeleteFn deleteOne =
        [this](FileEntry e, double timeout) -> QCoro::Task<BLEClient::DeleteOutcome> {
        asked.append(e.name);
        timeouts.append(timeout);
        const auto it = answers.find(e.name);
        const Answer a = it == answers.end() ? Answer::gone : it->second;
        if (a == Answer::throws) {
            throw BLEError::notConnected();
        }
        co_return BLEClient::DeleteOutcome{a == Answer::gone, e.name + QStringLiteral(" → 应答 0")};
    };
    QList<double> timeouts;
};
