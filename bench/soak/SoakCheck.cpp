#include "SoakCheck.h"

#include "audio/AudioFileReader.h"
#include "audio/OggWrap.h"
#include "sync/SyncManifest.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString stem(const QString& file)
{
    const qsizetype dot = file.lastIndexOf(u'.');
    return dot > 0 ? file.left(dot) : file;
}

// The recording a session's clientRequestId belongs to: "mac-ble-" + base, optionally followed
// by a repush or merge suffix ("-r2", "-merged3"). Empty when it names none of ours.
QString sessionBase(const QString& requestId, const QSet<QString>& bases)
{
    const QString prefix = u"mac-ble-"_s;
    if (!requestId.startsWith(prefix))
        return {};
    QString rest = requestId.mid(prefix.size());
    while (!rest.isEmpty()) {
        if (bases.contains(rest))
            return rest;
        const qsizetype dash = rest.lastIndexOf(u'-');
        if (dash <= 0)
            break;
        rest = rest.left(dash);
    }
    return {};
}

} // namespace

namespace SoakCheck {

QStringList problems(const Inputs& in)
{
    QStringList out;
    const SyncManifest ledger = SyncManifest::load(in.paths.manifest());
    if (!ledger.isTrustworthy)
        return {u"the ledger does not parse"_s};

    // The archive: each recording once, whole.
    QHash<QString, const SoakRecording*> byBase;
    QSet<QString> archivedFiles;
    for (const SoakRecording& r : in.recordings) {
        const auto it = ledger.imported.find(r.ledgerKey());
        if (it == ledger.imported.end()) {
            out << r.name + u": lost (not in the ledger)"_s;
            continue;
        }
        const QString base = stem(it->second.file);
        if (archivedFiles.contains(it->second.file))
            out << r.name + u": archived over another recording's file "_s + it->second.file;
        archivedFiles.insert(it->second.file);
        byBase.insert(base, &r);
        if (readFile(in.paths.rawPackets() + u'/' + base + u".opus"_s) != r.content())
            out << r.name + u": archived raw packets differ from the pen's"_s;
        // The Ogg file's last granule tells its length: a cut-short file ends early.
        const auto ogg = AudioFileReader::tryOpen(in.paths.dest() + u'/' + base + u".ogg"_s);
        const double seconds = r.packets * OggWrap::frameMs / 1000.0;
        if (!ogg) {
            out << r.name + u": no readable Ogg file"_s;
            continue;
        }
        const double oggSeconds = double(ogg->length()) / ogg->sampleRate();
        if (std::abs(oggSeconds - seconds) > 0.1)
            out << r.name + u": the Ogg file is %1 s long, the recording %2 s"_s.arg(oggSeconds)
                                .arg(seconds);
    }
    if (ledger.imported.size() != size_t(in.recordings.size())) {
        out << u"the ledger lists %1 recordings for the %2 the pen held"_s
                   .arg(ledger.imported.size())
                   .arg(in.recordings.size());
    }

    // The pen: nothing gone that the engine did not delete, nothing deleted twice.
    QSet<QString> onPen(in.penFiles.cbegin(), in.penFiles.cend());
    QSet<QString> deleted;
    for (const QString& name : in.penDeleted) {
        if (deleted.contains(name))
            out << name + u": deleted from the pen twice"_s;
        deleted.insert(name);
    }
    for (const SoakRecording& r : in.recordings) {
        if (!onPen.contains(r.name) && !deleted.contains(r.name))
            out << r.name + u": gone from the pen without a deletion"_s;
    }

    // The service: one session per pushed recording, none for the short ones.
    const QSet<QString> bases(byBase.keyBegin(), byBase.keyEnd());
    QHash<QString, int> sessionsPerBase;
    QHash<QString, nlohmann::json> sessionById;
    for (const nlohmann::json& s : in.sessions) {
        const QString id = QString::fromStdString(s.value("id", ""));
        sessionById.insert(id, s);
        const QString requestId = QString::fromStdString(s.value("clientRequestId", ""));
        const QString base = sessionBase(requestId, bases);
        if (base.isEmpty())
            out << u"session "_s + id + u" (" + requestId + u") belongs to no recording"_s;
        else
            ++sessionsPerBase[base];
    }
    for (auto it = byBase.cbegin(); it != byBase.cend(); ++it) {
        const QString& base = it.key();
        const bool longEnough = int(it.value()->listedSeconds()) >= in.minUploadSeconds;
        const int sessions = sessionsPerBase.value(base);
        if (sessions > 1)
            out << base + u": pushed %1 times"_s.arg(sessions);
        if (!longEnough && sessions > 0)
            out << base + u": pushed although shorter than the threshold"_s;
        const auto uploaded = ledger.uploaded.find(base);
        if (longEnough && uploaded == ledger.uploaded.end()) {
            out << base + u": never pushed"_s;
            continue;
        }
        if (uploaded == ledger.uploaded.end())
            continue;
        const auto s = sessionById.constFind(uploaded->second);
        if (s == sessionById.cend()) {
            out << base + u": the ledger names session "_s + uploaded->second +
                       u", which the service does not have"_s;
        } else if (s->value("stored_bytes", int64_t(0)) <= 0) {
            out << base + u": its session holds no audio"_s;
        }
    }
    return out;
}

} // namespace SoakCheck
