#pragma once

#include "cloud/AudioSource.h"
#include "cloud/Mindvault.h"
#include "cloud/TokenStore.h"
#include "cloud/UploadBook.h"
#include "cloud/UploadTiming.h"
#include "cloud/VaultProvider.h"
#include "common/WakeableSleep.h"
#include "sync/SyncManifest.h"

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class EngineContext;
class QNetworkAccessManager;

// The engine's way into the service: owns the connected client, builds the upload queue from
// the ledger and the archive, pushes due recordings (short ones stay local, files the pen cut at
// its 3-hour limit go up as one), backs off after failures, pauses everything when the sign-in is
// revoked, and polls pushed recordings until the service has a transcript.
//
// Owns the upload bookkeeping (UploadBook: the queue, service states, titles, speaker counts)
// and the flushing flag, and is their only writer; the engine reads the book for the list.
// install() hands the engine its flush and loop hooks; the destructor takes them back. Every
// coroutine re-checks that both the queue and the engine still exist after each wait, so either
// may be destroyed while a push or a poll is on the wire.
//
// Choices the queue makes for the engine:
// - A recording without a planned title is called "录音 yyyy-MM-dd HH:mm" after its start
//   (name time or live evidence); when nothing dates it, "录音 " + its base.
// - The later segments of a cut recording keep their own queue entries until the merged push
//   succeeds; they are never pushed on their own while their chain holds together, and a failed
//   merged push backs off every segment alike. Success records the session id for every segment
//   (first segment first).
// - The queue keeps recordings the ledger lists as deleted from the pen or dismissed in the
//   list: the archive still holds them and the service should still get them.
// - A short recording's "只落盘" line is written once per run, not at every flush.
// - Nothing dates a recording without a name time or evidence: it is sent as starting now.
// - Every ledger change is load -> change -> save right after the wait that produced it, so a
//   poll never writes back a ledger a push changed meanwhile; an answer about a session the
//   recording has since left (repushed while the query was out) is dropped.
class UploadQueue : public QObject {
    Q_OBJECT

public:
    using Timing = UploadTiming;

    using Local = UploadBook::Local;
    using LocalFiles = UploadBook::LocalFiles;

    // Sessions queried per polling round.
    static constexpr int pollLimit = 12;

    // store: where the credential lives; nam: shared network manager or nullptr (the client
    // owns one). The service configuration is read from the archive's "importer/mindvault.json"
    // each time a client has to be made.
    UploadQueue(EngineContext& engine, Timing timing, TokenStore store,
                QNetworkAccessManager* nam = nullptr, Mindvault::Timing vaultTiming = {},
                QObject* parent = nullptr);
    ~UploadQueue() override;

    // Installs flushUploadQueue, startBackgroundLoops and stopBackgroundLoops into the engine.
    void install();

    // --- the client ---

    // The connected client, or nullptr (signed out or revoked, not configured, unreachable).
    // Connections are made one at a time: a rotated refresh token must never be spent twice.
    QCoro::Task<Mindvault*> ensureVault();
    // For binding and cleanup: the borrowed client stays valid while the queue lives.
    VaultProvider provider();
    // For UI actions: the connected client, or (when allowed) an unconnected one made from the
    // configuration file; nullptr when neither is possible.
    QCoro::Task<std::shared_ptr<Mindvault>> uiVault(bool allowUnauthenticated);

    // --- the queue ---

    const UploadBook& book() const { return m_book; }
    // A flush is under way (a second one waits for it).
    bool isFlushing() const { return m_flushing; }

    // The Ogg and m4a files in folder (an Ogg file wins over an m4a of the same base).
    static LocalFiles scanUploadable(const QString& folder);
    // The queue becomes the local recordings without a session, ascending by base; entries
    // already queued keep their attempts, last error and next attempt.
    void rebuildUploadQueue(const LocalFiles& local, const SyncManifest& manifest);
    // Pushes the due entries (all with force); returns how many recordings went up.
    QCoro::Task<int> flushUploadQueue(bool force);
    // The list's "重试": every entry, due or not, in the background.
    void retryUploads();
    // What the service last said about a pushed recording (the status poll records it).
    void noteServiceState(const QString& base, const SyncPlanner::VaultState& state);
    // The user named speakers in a transcript: the list's counter follows without a poll.
    void noteSpeakersNamed(const QString& transcriptId, int unconfirmed);

    // --- sign-in ---

    // Pauses every push until a new sign-in. The credential now on disk counts as refused
    // unless a client says which token the service refused.
    void markSessionRevoked();
    // The user signed out here: the client's tokens in memory must not push anything more.
    void signedOut();
    // After a new sign-in: resume, and push the backlog in the background. (A credential that
    // a sign-in in another process stored is noticed by the next flush or poll as well.)
    void signedInAgain();

    // --- background loops ---

    void startBackgroundLoops();
    void startVaultPolling();
    void startUploadRetry();
    // Both loops end: at once when asleep, else after the push or poll on the wire, without
    // touching anything.
    void stopBackgroundLoops();

    // --- status polling and per-recording actions ---

    // manifest: chooses the recordings to poll; every change goes to the ledger on disk.
    QCoro::Task<> refreshVaultStatus(SyncManifest manifest, int limit);
    void clearPollGiveUp(const QString& base);
    // Pushes the recording again under a new key ("-r" + round): a new service session.
    QCoro::Task<> repushFailed(QString base);
    // Pushes a recording that was kept local (short) under its normal key.
    QCoro::Task<> pushNow(QString base);

private:
    // stop: the sign-in was revoked (or the engine went away); the flush ends.
    enum class Outcome { pushed, skipped, failed, stop };
    struct Unit; // one recording, or the segments of one the pen cut
    struct Meta {
        QString title;
        std::optional<QString> project;
        QDateTime startedAt;
    };
    // What one upload call answered: a session, or the error to show (revoked: the sign-in is
    // gone and every push stops).
    struct Attempt {
        UploadResult result;
        std::optional<QString> error;
        bool revoked = false;
    };

    bool alive() const { return !m_closing && !m_engine.isNull(); }
    EngineContext& engine() const { return m_engineRef; }

    QCoro::Task<int> flushBody(bool force);
    // (recordings pushed, flush must stop)
    QCoro::Task<std::pair<int, bool>> pushUnit(const Unit& unit);
    QCoro::Task<Outcome> pushSingle(QString base, std::optional<double> seconds);
    QCoro::Task<Outcome> upload(QStringList bases, AudioSource audio, double seconds,
                                double headSeconds, QString clientRequestId, QString mime);
    QCoro::Task<> manualPush(QString base, bool newRound);
    // Never throws; touches the queue only before its first wait.
    QCoro::Task<Attempt> attempt(std::shared_ptr<Mindvault> client, AudioSource audio,
                                 double seconds, QString clientRequestId, QString mime, Meta meta);
    QCoro::Task<> fetchSpeakersAndTitles(std::shared_ptr<Mindvault> client);
    QCoro::Task<> pollLoop(int generation);
    QCoro::Task<> retryLoop(int generation);

    QList<Unit> planUnits() const;
    std::optional<double> durationOf(const QString& base, const QString& ext) const;
    QString localPath(const QString& base, const QString& ext) const;
    QString titleFor(const QString& base, const std::optional<QDateTime>& start) const;
    Meta metaFor(const QString& head, double headSeconds);
    // The raw packets of every segment joined; absent when one is missing or does not fit.
    std::optional<QByteArray> joinedSegments(const Unit& unit) const;
    // False (logged, error noted) when the local file cannot be read.
    bool readable(const QString& base, const std::optional<double>& seconds);
    // True (noted in skippedShort) when the recording stays local as too short.
    bool keptShort(const QString& base, double seconds);
    void noteFailure(const QStringList& bases, const QString& error);
    void notePushed(const QStringList& bases, const QString& sessionId);
    // Progress lines of one upload: logged, and shown as the phase when nothing else is.
    static Mindvault::StepFn stepLogger(QPointer<UploadQueue> queue, QString title);
    void showStep(const QString& title, const QString& step);
    void endUploadingPhase();
    void blockUploads(bool signInLost);
    // client: the one the service refused; its spent token, not what is on disk by now, is what
    // a new sign-in must replace.
    void markSessionRevoked(const Mindvault& client);
    void markSessionRevoked(std::optional<QString> refusedToken);
    // Leaves the paused state after a new sign-in.
    void resume();

    EngineContext& m_engineRef;
    QPointer<QObject> m_engine; // tells whether m_engineRef still exists
    Timing m_timing;
    TokenStore m_store;
    QPointer<QNetworkAccessManager> m_nam;
    Mindvault::Timing m_vaultTiming;

    UploadBook m_book;
    bool m_flushing = false;
    std::shared_ptr<Mindvault> m_vault;
    bool m_connected = false;
    bool m_connecting = false;
    std::optional<QString> m_rejectedToken; // the stored refresh token the service refused
    // Clients replaced after a configuration change stay alive for borrowers until the end.
    QList<std::shared_ptr<Mindvault>> m_retired;
    QSet<QString> m_described; // transcripts whose title has been asked for since start
    bool m_polling = false;
    int m_pollGeneration = 0;
    int m_retryGeneration = 0;
    bool m_closing = false; // set by the destructor: no flow touches anything any more
    // Where both loops wait between rounds; stopping them wakes them.
    WakeableSleep m_loopSleep;

Q_SIGNALS:
    void connectAttemptEnded();
};
