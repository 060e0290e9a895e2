#pragma once

#include "cloud/SessionState.h"
#include "cloud/Speakers.h"
#include "cloud/UploadResult.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <nlohmann/json.hpp>
#include <optional>

// What the service's answers say, read from their parsed bodies. Pure, so every answer the
// client relies on can be checked against hostile input without a network. Readers that throw
// throw MindvaultError::badResponse; the others drop what they cannot use.
namespace MindvaultReplies {

// The gateway's grant (sign-in and refresh): both tokens, neither empty, or nothing.
struct Tokens {
    QString access;
    QString refresh;
};
std::optional<Tokens> tokens(const QByteArray& data);

// The first membership row's organisation, if it names one.
std::optional<QString> firstOrg(const nlohmann::json& rows);

// The answer to creating (or finding) a recording session. A failed session or one without an
// id throws; alreadyDone when the service holds the whole recording already.
struct CreatedSession {
    QString id;
    QString status;
    bool alreadyDone = false;
    int expectedChunks = 0; // the service's count, for an already-done session
};
CreatedSession createdSession(const nlohmann::json& reply);

std::optional<QString> uploadUrl(const nlohmann::json& reply);

// Throws when the "session" object is missing.
SessionState sessionState(const nlohmann::json& reply);

// A device registration's refusal code ("error"), if the body carries one.
std::optional<QString> errorCode(const QByteArray& data);

// The object rows of a table read; a reply that is not an array throws, naming the read.
QList<nlohmann::json> rows(const nlohmann::json& reply, const QString& what);

QMap<QString, int> unconfirmedCounts(const QList<nlohmann::json>& rows);
// id -> title, for titles worth showing (not the service's placeholders).
QMap<QString, QString> titles(const QList<nlohmann::json>& rows);
std::optional<QString> firstTitle(const QList<nlohmann::json>& rows);
QList<SpeakerRow> speakers(const QList<nlohmann::json>& rows);
QList<PersonProfile> profiles(const QList<nlohmann::json>& rows);
QList<ProjectEntry> projects(const QList<nlohmann::json>& rows);
// The first row's "segments", complete ones only, ordered by start.
QList<TranscriptSegment> segments(const QList<nlohmann::json>& rows);
// Each speaker's longest sentence; ties go to the earlier one.
QMap<QString, SpeakerSample> samples(const QList<TranscriptSegment>& segments);
std::optional<QString> firstId(const QList<nlohmann::json>& rows);

// The answer to a speaker assignment through the recording session: throws unless it names at
// least one updated speaker.
void assigned(const nlohmann::json& reply, const QString& label);

} // namespace MindvaultReplies
