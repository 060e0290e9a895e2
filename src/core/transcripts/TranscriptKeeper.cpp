#include "TranscriptKeeper.h"

#include "cloud/Mindvault.h"

#include <QFutureWatcher>
#include <QPointer>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

QCoro::Task<std::optional<TranscriptKeeper::Fetched>> fetchWith(VaultProvider provider,
                                                                QString transcriptId)
{
    Mindvault* client = co_await provider();
    if (!client)
        co_return std::nullopt;
    TranscriptKeeper::Fetched out;
    out.segments = co_await client->segments(transcriptId);
    out.speakers = co_await client->speakers(transcriptId);
    co_return out;
}

} // namespace

QList<TranscriptKeeper::Recording> TranscriptKeeper::fromItems(const QList<RecordingItem>& items)
{
    QList<Recording> out;
    for (const RecordingItem& i : items) {
        Recording r;
        r.base = i.base;
        if (i.vaultStatus == u"ready"_s && i.transcriptId && !i.transcriptId->isEmpty())
            r.transcriptId = i.transcriptId;
        r.title = i.vaultTitle;
        r.serviceDeleted = i.serverGone || i.vaultStatus == u"deleted"_s;
        out.append(r);
    }
    return out;
}

TranscriptKeeper::FetchFn TranscriptKeeper::fetchThrough(VaultProvider provider)
{
    return [provider](QString id) {
        return fetchWith(provider, std::move(id));
    };
}

TranscriptKeeper::TranscriptKeeper(QString storePath, FetchFn fetch, LogFn log, Timing timing,
                                   Clock clock, QObject* parent)
    : QObject(parent), m_path(std::move(storePath)), m_fetch(std::move(fetch)),
      m_log(std::move(log)), m_timing(timing), m_clock(std::move(clock))
{}

TranscriptKeeper::~TranscriptKeeper() = default;

void TranscriptKeeper::noteRecordings(const QList<Recording>& recordings)
{
    m_latest = recordings;
    if (m_unusable)
        return;
    if (!m_store) {
        if (!m_opening)
            openStore();
        return;
    }
    for (const Recording& r : recordings)
        consider(r);
    pump();
}

void TranscriptKeeper::openStore()
{
    m_opening = true;
    // The integrity check reads the whole file, and a store of an older version has its
    // indexes rebuilt: neither on the event loop.
    auto* check = new QFutureWatcher<bool>(this);
    connect(check, &QFutureWatcher<bool>::finished, this, [this, check] {
        check->deleteLater();
        openChecked(check->result());
    });
    check->setFuture(QtConcurrent::run([path = m_path] {
        const bool sound = TranscriptStore::sound(path);
        if (sound)
            TranscriptStore::upgrade(path);
        return sound;
    }));
}

void TranscriptKeeper::openChecked(bool sound)
{
    m_opening = false;
    try {
        m_store =
            TranscriptStore::open(m_path, TranscriptStore::Mode::write, m_log,
                                  sound ? TranscriptStore::Check::no : TranscriptStore::Check::yes);
        m_known = m_store->transcriptIds();
    } catch (const TranscriptStoreError& e) {
        m_unusable = true;
        if (m_log)
            m_log(e.description() + u" 转写先不存到本机，导入照常。"_s);
    }
    if (m_store)
        noteRecordings(m_latest);
    Q_EMIT ready();
    checkIdle();
}

void TranscriptKeeper::guarded(const std::function<void()>& change)
{
    try {
        change();
    } catch (const TranscriptStoreError& e) {
        if (!m_loggedWriteFailure && m_log)
            m_log(e.description());
        m_loggedWriteFailure = true;
    }
}

void TranscriptKeeper::consider(const Recording& r)
{
    const auto stored = m_known.constFind(r.base);
    if (stored != m_known.constEnd()) {
        if (r.serviceDeleted && !m_markedDeleted.contains(r.base)) {
            guarded([&] { m_store->setServiceDeleted(r.base, true); });
            m_markedDeleted.insert(r.base);
        }
        if (r.title && (!m_titles.contains(r.base) || m_titles.value(r.base) != r.title)) {
            guarded([&] { m_store->setTitle(r.base, r.title); });
            m_titles.insert(r.base, r.title);
        }
    }
    if (!r.transcriptId || (stored != m_known.constEnd() && *stored == *r.transcriptId))
        return;
    if (m_inFlight.contains(r.base) || m_waiting.contains(r.base))
        return;
    const auto queued = std::find_if(m_pending.begin(), m_pending.end(),
                                     [&](const Recording& p) { return p.base == r.base; });
    if (queued != m_pending.end())
        *queued = r;
    else
        m_pending.append(r);
}

void TranscriptKeeper::pump()
{
    while (m_inFlight.size() < m_timing.concurrency && !m_pending.isEmpty()) {
        const Recording next = m_pending.takeFirst();
        m_inFlight.insert(next.base);
        fetchOne(next);
    }
    checkIdle();
}

QCoro::Task<> TranscriptKeeper::fetchOne(Recording recording)
{
    QPointer<TranscriptKeeper> self(this);
    std::optional<Fetched> fetched;
    QString error;
    try {
        fetched = co_await m_fetch(*recording.transcriptId);
    } catch (const KestrelError& e) {
        error = e.description();
    } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
    }
    if (!self)
        co_return;
    m_inFlight.remove(recording.base);
    if (fetched)
        write(recording, *fetched);
    else
        failed(recording, error);
    pump();
}

void TranscriptKeeper::write(const Recording& r, const Fetched& fetched)
{
    StoredTranscript t;
    t.base = r.base;
    t.transcriptId = *r.transcriptId;
    t.title = r.title;
    t.fetchedAt = m_clock();
    t.serviceDeleted = r.serviceDeleted;
    t.segments = fetched.segments;
    for (const SpeakerRow& s : fetched.speakers)
        t.speakers.append({s.label, s.inferredIdentity, s.confirmed, s.id});
    try {
        m_store->put(t);
    } catch (const TranscriptStoreError& e) {
        failed(r, e.description());
        return;
    }
    m_failures.remove(r.base);
    m_known.insert(r.base, t.transcriptId);
    m_titles.insert(r.base, t.title);
    if (r.serviceDeleted)
        m_markedDeleted.insert(r.base);
    Q_EMIT stored(r.base);
}

void TranscriptKeeper::failed(const Recording& r, const QString& why)
{
    const int n = ++m_failures[r.base];
    // A missing client is no failure of the recording's; only real errors are said, once.
    if (n == 1 && !why.isEmpty() && m_log)
        m_log(u"%1 的转写没取到本机：%2（稍后再试）"_s.arg(r.base, why));
    const qint64 delay = std::min<qint64>(qint64(m_timing.firstBackoffMs) << std::min(n - 1, 20),
                                          m_timing.maxBackoffMs);
    m_waiting.insert(r.base);
    QTimer::singleShot(std::chrono::milliseconds(delay), this, [this, base = r.base] {
        m_waiting.remove(base);
        // Whatever the list says by now decides whether it is still wanted.
        for (const Recording& latest : m_latest)
            if (latest.base == base)
                consider(latest);
        pump();
    });
}

void TranscriptKeeper::nameSpeaker(const QString& transcriptId, const QString& label,
                                   const std::optional<QString>& name, bool confirmed)
{
    if (m_store)
        guarded([&] { m_store->nameSpeaker(transcriptId, label, name, confirmed); });
}

void TranscriptKeeper::refreshed(const QString& transcriptId, const Fetched& fetched)
{
    if (!m_store || fetched.segments.isEmpty())
        return;
    QStringList bases;
    for (auto it = m_known.cbegin(); it != m_known.cend(); ++it)
        if (it.value() == transcriptId && !m_inFlight.contains(it.key()))
            bases << it.key();
    for (const QString& base : bases) {
        std::optional<StoredTranscript> stored;
        guarded([&] { stored = m_store->get(base); });
        if (!stored)
            continue;
        Recording r;
        r.base = base;
        r.transcriptId = transcriptId;
        r.title = m_titles.value(base, stored->title);
        r.serviceDeleted = stored->serviceDeleted;
        write(r, fetched);
    }
}

bool TranscriptKeeper::idle() const
{
    return !m_opening && m_pending.isEmpty() && m_inFlight.isEmpty() && m_waiting.isEmpty();
}

void TranscriptKeeper::checkIdle()
{
    if (idle())
        Q_EMIT becameIdle();
}
