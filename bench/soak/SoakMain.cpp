// bench_soak: the importer running for a week, compressed into a few minutes (see SoakRun.h).
//   bench_soak [--rounds N] [--seed S] [--no-new-after N] [--keep DIR]
// Prints the samples and the growth from the first to the last; exits 1 when a recording was
// lost, archived wrongly or pushed more than once, 2 on a usage error.
#include "SoakRun.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <exception>

using namespace Qt::Literals::StringLiterals;

namespace {

// The importer's growth between two samples, beside what grew with it on purpose: the
// recordings added and the virtual pen (in this process) holding theirs.
void growth(const SoakRun::Sample& from, const SoakRun::Sample& to)
{
    const auto n = [](qint64 v) {
        return static_cast<long long>(v);
    };
    std::printf("importer, round %d -> %d: VmRSS %lld -> %lld KiB (%+lld), heap in use %+lld KiB, "
                "fds %d -> %d (%+d); meanwhile %d recordings added, the pen's files %+lld KiB\n",
                from.round, to.round, n(from.importer.rssKiB), n(to.importer.rssKiB),
                n(to.importer.rssKiB - from.importer.rssKiB),
                n(to.importer.heapKiB.value_or(0) - from.importer.heapKiB.value_or(0)),
                from.importer.openFds, to.importer.openFds,
                to.importer.openFds - from.importer.openFds, to.recordings - from.recordings,
                n((to.penBytes - from.penBytes) / 1024));
}

void printSamples(const QList<SoakRun::Sample>& samples)
{
    std::printf("%6s %12s %10s %6s %12s %10s %12s %12s\n", "round", "VmRSS KiB", "heap KiB", "fds",
                "pen bytes", "recordings", "stand-in fds", "stand-in KiB");
    for (const SoakRun::Sample& s : samples) {
        std::printf("%6d %12lld %10lld %6d %12lld %10d %12d %12lld\n", s.round,
                    static_cast<long long>(s.importer.rssKiB),
                    static_cast<long long>(s.importer.heapKiB.value_or(-1)), s.importer.openFds,
                    static_cast<long long>(s.penBytes), s.recordings,
                    s.standIn ? s.standIn->openFds : -1,
                    static_cast<long long>(s.standIn ? s.standIn->rssKiB : -1));
    }
    if (samples.size() < 2)
        return;
    growth(samples.first(), samples.last());
    // Warm-up (thread pool, codecs, the first connections) lands in the first rounds.
    if (samples.size() > 2)
        growth(samples[1], samples.last());
}

int usage()
{
    std::fprintf(stderr,
                 "usage: bench_soak [--rounds N] [--seed S] [--no-new-after N] [--keep DIR]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    SoakRun::Options options;
    options.standInProgram = QStringLiteral(MINDVAULT_DEV_BIN);
    QString keep;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (i + 1 >= args.size())
            return usage();
        const QString& value = args[++i];
        bool ok = true;
        if (args[i - 1] == u"--rounds"_s)
            options.rounds = value.toInt(&ok);
        else if (args[i - 1] == u"--seed"_s)
            options.seed = value.toUInt(&ok);
        else if (args[i - 1] == u"--no-new-after"_s)
            options.newRecordingsUntil = value.toInt(&ok);
        else if (args[i - 1] == u"--keep"_s)
            keep = value;
        else
            ok = false;
        if (!ok || options.rounds < 1)
            return usage();
    }
    QTemporaryDir temporary;
    options.workDir = keep.isEmpty() ? temporary.path() : keep;

    SoakRun soak(options);
    try {
        soak.run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_soak: %s\n", e.what());
        return 1;
    }
    printSamples(soak.samples());
    const SoakRun::Tally& t = soak.tally();
    std::printf("%d rounds (seed %u): %lld recordings, %d link drops, %d service faults, "
                "%d revocations and %d sign-ins, %d failed rounds; settled %s after %d more "
                "rounds\n",
                options.rounds, options.seed, static_cast<long long>(soak.recordings().size()),
                t.linkDrops, t.serviceFaults, t.revocations, t.signIns, t.failedRounds,
                t.settled ? "yes" : "NO", t.settleRounds);
    for (const QString& problem : soak.problems())
        std::printf("PROBLEM: %s\n", qPrintable(problem));
    if (!soak.problems().isEmpty())
        return 1;
    std::printf("every recording archived once, whole, and pushed at most once\n");
    return 0;
}
