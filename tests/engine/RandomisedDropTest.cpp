// Many runs in which the pen drops the link at random points of the transfer, round after
// round: whatever happens, the archive ends up exact and the ledger complete.

#include "EngineHarness.h"
#include "support/TestSupport.h"
#include "sync/SyncPlanner.h"

#include <QFileInfo>
#include <gtest/gtest.h>
#include <random>

using namespace Qt::Literals::StringLiterals;

namespace {

qint64 partialSize(EngineHarness& h, const QString& base)
{
    const QFileInfo f(h.engine().partialPath(base, u".part"_s));
    return f.exists() ? f.size() : 0;
}

} // namespace

TEST(RandomisedDrops, ArchiveEndsUpExactWhereverTheLinkDrops)
{
    constexpr int runs = 12;
    int dropped = 0; // rounds cut short by the link, over all runs
    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE(run);
        std::mt19937 rng(uint32_t(7919 * (run + 1)));
        EngineHarness h;

        QMap<QString, QByteArray> contents; // base -> packets
        qint64 total = 0;
        const int files = 2 + int(rng() % 4);
        for (int i = 0; i < files; ++i) {
            const QString base = u"2026030%1-1%2000"_s.arg(1 + i).arg(i);
            const QByteArray packets = VirtualPen::generatePackets(1 + int(rng() % 150), rng());
            h.pen().addFile(base + u".opus"_s, packets);
            contents.insert(base, packets);
            total += packets.size();
        }

        QList<qint64> drops; // per connection: content bytes before the link drops, -1 none
        int rounds = 0;
        for (; rounds < 60 && h.manifest().imported.size() < size_t(files); ++rounds) {
            drops.append(rng() % 5 == 0 ? -1 : qint64(rng() % uint32_t(total + 1)));
            h.pen().faults().dropAfterBytes = drops;
            QMap<QString, qint64> partsBefore;
            for (const QString& base : contents.keys())
                partsBefore.insert(base, partialSize(h, base));
            const size_t importedBefore = h.manifest().imported.size();

            h.round();

            bool progressed = h.manifest().imported.size() > importedBefore;
            for (const QString& base : contents.keys()) {
                const qint64 now = partialSize(h, base);
                EXPECT_EQ(now % 40, 0) << base.toStdString();
                progressed = progressed || now > partsBefore.value(base);
            }
            // A dropped round that moved the transfer on is productive; otherwise it is idle.
            EXPECT_EQ(h.engine().monitorPolicy().idleRounds().value(h.pen().address()) == 0,
                      progressed)
                << "round " << rounds;
        }

        const SyncManifest m = h.manifest();
        ASSERT_EQ(m.imported.size(), size_t(files)) << "not done after " << rounds << " rounds";
        for (const VirtualPen::File& f : h.pen().files()) {
            const QString base = SyncPlanner::normalizedBase(f.name);
            EXPECT_EQ(h.raw(base), f.content) << base.toStdString();
            EXPECT_EQ(m.imported.count(SyncPlanner::manifestKey(
                          {f.time, uint32_t(f.content.size()), f.name, {}})),
                      1u);
            EXPECT_FALSE(h.ogg(base).isEmpty());
        }
        EXPECT_TRUE(m.downloadFailures.empty());
        EXPECT_TRUE(h.partialFiles().isEmpty());
        dropped += h.loggedCount(u"断线中断 "_s);
    }
    EXPECT_GE(dropped, runs); // the runs did exercise interrupted transfers
}
