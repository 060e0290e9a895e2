#pragma once

#include "ProcessFigures.h"
#include "SoakRecording.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

// A week of the station in a few minutes: the real engine with its services, listening to a
// virtual pen, runs round after round while the pen drops links and gains recordings and the
// stand-in service answers 5xx and revokes the sign-in. The importer's resident memory and open
// file descriptors are sampled at the first round, every 50 rounds and at the last.
class SoakRun {
public:
    struct Options {
        int rounds = 500;
        uint32_t seed = 1;
        int minUploadSeconds = 5;
        // Rounds from this one on add no recordings: the importer's own growth, apart from its
        // growing archive and ledger.
        int newRecordingsUntil = 1 << 30;
        QString standInProgram; // the mindvault-dev executable
        QString workDir;        // archive, credentials and the stand-in's configuration
    };

    struct Sample {
        int round = 0;
        ProcessFigures importer;
        std::optional<ProcessFigures> standIn;
        qint64 penBytes = 0; // what the virtual pen (in this process) holds
        int recordings = 0;  // put on the pen so far
    };

    // What was injected and what came of it.
    struct Tally {
        int linkDrops = 0;
        int serviceFaults = 0;
        int revocations = 0;
        int signIns = 0;
        int failedRounds = 0;
        int settleRounds = 0; // rounds after the last sample until everything was pushed
        bool settled = false;
    };

    explicit SoakRun(Options options);

    // Runs on the caller's event loop (a QCoreApplication must exist); never throws for what
    // the engine does, only when the stand-in cannot be started or reached.
    void run();

    const QList<Sample>& samples() const { return m_samples; }
    const QList<SoakRecording>& recordings() const { return m_recordings; }
    const Tally& tally() const { return m_tally; }
    // The final check: empty when every recording is archived once, whole, and pushed once.
    const QStringList& problems() const { return m_problems; }

private:
    Options m_options;
    QList<Sample> m_samples;
    QList<SoakRecording> m_recordings;
    Tally m_tally;
    QStringList m_problems;
};
