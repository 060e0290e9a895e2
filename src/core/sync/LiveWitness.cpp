#include "sync/LiveWitness.h"

#include "sync/AtomicFile.h"
#include "sync/SyncPlanner.h"

#include <QFile>
#include <cmath>
#include <nlohmann/json.hpp>

using Json = nlohmann::json;

namespace {

// The stored dates count seconds from 2001-01-01 00:00:00 UTC, as the files other copies of
// the archive were written with.
constexpr qint64 referenceEpochMs = 978307200000LL;

double toReference(const QDateTime& t)
{
    return static_cast<double>(t.toMSecsSinceEpoch() - referenceEpochMs) / 1000.0;
}

std::optional<QDateTime> fromReference(const Json& v)
{
    if (!v.is_number()) {
        return std::nullopt;
    }
    const double seconds = v.get<double>();
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e12) {
        return std::nullopt;
    }
    const auto ms = static_cast<qint64>(std::llround(seconds * 1000.0)) + referenceEpochMs;
    return QDateTime::fromMSecsSinceEpoch(ms);
}

std::optional<LiveWitness> decodeOne(const Json& value)
{
    if (!value.is_object()) {
        return std::nullopt;
    }
    const auto live = value.find("firstSeenLiveAt");
    if (live == value.end()) {
        return std::nullopt;
    }
    const auto firstSeen = fromReference(*live);
    if (!firstSeen) {
        return std::nullopt;
    }
    LiveWitness w;
    w.firstSeenLiveAt = *firstSeen;
    const auto notRec = value.find("notRecordingAt");
    if (notRec != value.end() && !notRec->is_null()) {
        w.notRecordingAt = fromReference(*notRec);
        if (!w.notRecordingAt) {
            return std::nullopt;
        }
    }
    return w;
}

Json toJson(const LiveWitness::Map& witnesses)
{
    Json doc = Json::object();
    for (const auto& [base, w] : witnesses) {
        Json entry = Json::object();
        if (w.notRecordingAt) {
            entry["notRecordingAt"] = toReference(*w.notRecordingAt);
        }
        entry["firstSeenLiveAt"] = toReference(w.firstSeenLiveAt);
        doc[base.toStdString()] = std::move(entry);
    }
    return doc;
}

QByteArray dump(const Json& doc)
{
    return QByteArray::fromStdString(doc.dump(-1, ' ', false, Json::error_handler_t::replace));
}

} // namespace

std::optional<LiveWitness::Map> LiveWitness::decodeFile(const QByteArray& json)
{
    const Json doc = Json::parse(json.begin(), json.end(), nullptr, false);
    if (!doc.is_object()) {
        return std::nullopt;
    }
    // A damaged entry costs only itself: the others are still evidence.
    Map out;
    for (const auto& [key, value] : doc.items()) {
        if (std::optional<LiveWitness> w = decodeOne(value)) {
            out.emplace(QString::fromStdString(key), *w);
        }
    }
    return out;
}

QByteArray LiveWitness::encodeFile(const Map& witnesses)
{
    return dump(toJson(witnesses));
}

std::optional<LiveWitness::Map> LiveWitness::loadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return decodeFile(file.readAll());
}

void LiveWitness::saveFile(const QString& path, const Map& witnesses)
{
    // Entries of the file that the map lacks (damaged ones this version cannot read, or ones
    // another copy of the app added since) are carried over as they are: entries are never
    // removed.
    Json doc = toJson(witnesses);
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray before = file.readAll();
        const Json old = Json::parse(before.begin(), before.end(), nullptr, false);
        if (old.is_object()) {
            for (const auto& [key, value] : old.items()) {
                if (!doc.contains(key)) {
                    doc[key] = value;
                }
            }
        }
    }
    AtomicFile::write(path, dump(doc));
}

LiveWitness::Observation LiveWitness::observe(std::optional<uint8_t> status,
                                              const std::optional<QString>& current,
                                              const QDateTime& now,
                                              const std::optional<QDateTime>& lastNotRecordingAt,
                                              Map& witnesses)
{
    Observation out{lastNotRecordingAt, std::nullopt};
    if (!status) {
        return out;
    }
    if (*status == 2) {
        out.lastNotRecordingAt = now;
        return out;
    }
    if ((*status == 1 || *status == 3) && current && !current->isEmpty()) {
        const QString base = SyncPlanner::normalizedBase(*current);
        if (witnesses.emplace(base, LiveWitness{lastNotRecordingAt, now}).second) {
            out.addedBase = base;
        }
    }
    return out;
}
