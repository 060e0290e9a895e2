#include "VaultFixture.h"
#include "audio/OggWrap.h"
#include "cloud/VaultFailure.h"

#include <QTimeZone>
#include <QUrl>
#include <cmath>
#include <functional>
#include <numbers>
#include <opus/opus.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// An Ogg file as the client pushes it: 16 kHz mono in the pen's 40-byte packets, wrapped.
QByteArray penOgg(double seconds, const std::function<float(double)>& signal)
{
    constexpr int rate = 16000, frame = rate / 50;
    int error = 0;
    OpusEncoder* encoder = opus_encoder_create(rate, 1, OPUS_APPLICATION_VOIP, &error);
    EXPECT_EQ(error, OPUS_OK);
    opus_encoder_ctl(encoder, OPUS_SET_BITRATE(16000));
    opus_encoder_ctl(encoder, OPUS_SET_VBR(0));
    QByteArray raw;
    std::vector<float> pcm(frame);
    for (int n = 0; n < int(seconds * 50); ++n) {
        for (int i = 0; i < frame; ++i)
            pcm[size_t(i)] = signal(double(n * frame + i) / rate);
        unsigned char packet[OggWrap::packetLen];
        const int length = opus_encode_float(encoder, pcm.data(), frame, packet, sizeof packet);
        EXPECT_GT(length, 0);
        EXPECT_EQ(opus_packet_pad(packet, length, OggWrap::packetLen), OPUS_OK);
        raw.append(reinterpret_cast<const char*>(packet), OggWrap::packetLen);
    }
    opus_encoder_destroy(encoder);
    return OggWrap::wrap(raw, rate, u"test"_s);
}

constexpr qint64 MiB8 = Mindvault::maxChunkBytes;

class MindvaultUpload : public VaultFixture {
protected:
    QByteArray audio(qint64 size) const
    {
        QByteArray bytes(size, Qt::Uninitialized);
        for (qint64 i = 0; i < size; ++i)
            bytes[i] = char(i * 31 + 7);
        return bytes;
    }

    UploadResult push(AudioSource source, const QString& requestId, QStringList* steps = nullptr)
    {
        return TestSupport::run(vault->upload(std::move(source), u"周会"_s, 95.5, requestId,
                                              u"audio/ogg"_s,
                                              QDateTime(QDate(2024, 5, 1), QTime(8, 30), Qt::UTC),
                                              std::nullopt, [steps](const QString& line) {
                                                  if (steps)
                                                      steps->append(line);
                                              }));
    }

    std::string sessionOf(const QString& requestId) const
    {
        return server.sessionIdFor(requestId.toStdString()).value_or("");
    }
};

} // namespace

TEST_F(MindvaultUpload, ChunksAreCutAt8MiB)
{
    signedIn();
    struct Case {
        qint64 size;
        bool fromFile;
        QList<qint64> chunks;
    };
    const Case cases[] = {
        {0, false, {0}},
        {MiB8, false, {MiB8}},
        {MiB8 + 1, false, {MiB8, 1}},
        {MiB8 + 1, true, {MiB8, 1}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << (c.fromFile ? " from a file" : ""));
        const QString id = u"mac-ble-case"_s + QString::number(n++);
        AudioSource source(audio(c.size));
        if (c.fromFile) {
            const QString path = dir.path() + u"/audio.ogg"_s;
            TestSupport::writeFile(path, audio(c.size));
            source = AudioSource::fromFile(path);
        }
        QStringList steps;
        const UploadResult result = push(source, id, &steps);
        EXPECT_EQ(result, (UploadResult{QString::fromStdString(sessionOf(id)), int(c.chunks.size()),
                                        false}));
        for (int i = 0; i < c.chunks.size(); ++i)
            EXPECT_EQ(server.storedChunkBytes(sessionOf(id), i), c.chunks[i]) << "chunk " << i;
        EXPECT_FALSE(server.storedChunkBytes(sessionOf(id), int(c.chunks.size())));
        EXPECT_EQ(steps.first(), u"分片 1/"_s + QString::number(c.chunks.size()));
        EXPECT_EQ(server.session(sessionOf(id))->value("status", ""), "ready");
    }
}

TEST_F(MindvaultUpload, ResumedUploadAfterAFailedPutSkipsVerifiedChunks)
{
    signedIn();
    const QByteArray bytes = audio(MiB8 + 1);
    server.failStep("put", 500, 1, /*after=*/1); // the second chunk's PUT fails
    const MindvaultError e = errorOf(vault->upload(
        bytes, u"周会"_s, 95.5, u"mac-ble-r"_s, u"audio/ogg"_s, QDateTime::currentDateTimeUtc()));
    EXPECT_TRUE(e.description().startsWith(u"直传 COS 失败 HTTP 500："_s)) << e.what();
    const std::string session = sessionOf(u"mac-ble-r"_s);
    EXPECT_EQ(server.session(session)->value("status", ""), "uploading");

    QStringList steps;
    const UploadResult result = push(bytes, u"mac-ble-r"_s, &steps);
    EXPECT_EQ(result.sessionId.toStdString(), session);
    EXPECT_EQ(result.chunks, 2);
    EXPECT_TRUE(steps.contains(u"分片 1 已在服务端，跳过"_s)) << steps.join(u" | "_s).toStdString();
    EXPECT_EQ(server.requestCount("put"), 3); // chunk 1 was not sent again
    EXPECT_EQ(server.requestCount("complete"), 2);
    EXPECT_EQ(server.storedChunkBytes(session, 1), 1);
    EXPECT_EQ(server.session(session)->value("status", ""), "ready");
}

TEST_F(MindvaultUpload, FinishedSessionIsReplayedWithoutSendingAgain)
{
    signedIn();
    push(audio(1000), u"mac-ble-done"_s);
    const int tickets = server.requestCount("ticket");

    QStringList steps;
    const UploadResult again = push(audio(1000), u"mac-ble-done"_s, &steps);
    EXPECT_EQ(again, (UploadResult{QString::fromStdString(sessionOf(u"mac-ble-done"_s)), 1, true}));
    EXPECT_EQ(steps, QStringList{u"会话已是 ready，无需重传"_s});
    EXPECT_EQ(server.requestCount("ticket"), tickets);
}

TEST_F(MindvaultUpload, FailedSessionBlocksItsKeyUntilANewOne)
{
    signedIn();
    push(audio(10), u"mac-ble-x"_s);
    const std::string id = sessionOf(u"mac-ble-x"_s);
    server.failSession(id, "ASR_NO_SPEECH");

    EXPECT_EQ(errorOf(vault->upload(audio(10), u"t"_s, 1, u"mac-ble-x"_s, u"audio/ogg"_s,
                                    QDateTime::currentDateTimeUtc()))
                  .description(),
              u"应答不符合预期：Mindvault那边这条会话是 failed 状态（"_s +
                  QString::fromStdString(id) +
                  u"）。它挡着重传——换一个幂等键重推，或先在Mindvault里删掉这条会话。"_s);
    EXPECT_FALSE(push(audio(10), u"mac-ble-x-r1"_s).alreadyDone);
}

TEST_F(MindvaultUpload, EachStepsFailureNamesTheStep)
{
    signedIn();
    const std::pair<const char*, QString> steps[] = {
        {"create", u"建会话"_s},       {"ticket", u"申请上传地址"_s}, {"put", u"直传 COS"_s},
        {"complete", u"确认分片 1"_s}, {"stop", u"冻结清单"_s},       {"finalize", u"收尾"_s},
    };
    int n = 0;
    for (const auto& [step, label] : steps) {
        SCOPED_TRACE(step);
        server.failStep(step, 503);
        const MindvaultError e =
            errorOf(vault->upload(audio(100), u"t"_s, 1, u"mac-ble-f"_s + QString::number(n++),
                                  u"audio/ogg"_s, QDateTime::currentDateTimeUtc()));
        EXPECT_EQ(e.kind(), MindvaultError::Kind::http);
        EXPECT_EQ(e.whatText(), label);
        EXPECT_EQ(e.status(), 503);
    }
    // A conflict that is not "already verified" is a failure, not a skip.
    server.failStep("ticket", 409);
    EXPECT_EQ(errorOf(vault->upload(audio(100), u"t"_s, 1, u"mac-ble-409"_s, u"audio/ogg"_s,
                                    QDateTime::currentDateTimeUtc()))
                  .whatText(),
              u"申请上传地址"_s);
}

TEST_F(MindvaultUpload, SessionStateFollowsTheServiceToReadyFailedAndGone)
{
    signedIn();
    server.setProcessing(std::chrono::hours(1));
    const QString id = push(audio(10), u"mac-ble-s"_s).sessionId;
    EXPECT_EQ(TestSupport::run(vault->sessionState(id)),
              (SessionState{u"processing"_s, std::nullopt, std::nullopt}));

    server.setProcessing(std::chrono::milliseconds(0));
    const QString id2 = push(audio(10), u"mac-ble-s2"_s).sessionId;
    const SessionState ready = TestSupport::run(vault->sessionState(id2));
    EXPECT_EQ(ready.status, u"ready"_s);
    EXPECT_TRUE(ready.transcriptId.has_value());

    server.failSession(id.toStdString(), "PROVIDER_UNAVAILABLE");
    EXPECT_EQ(TestSupport::run(vault->sessionState(id)),
              (SessionState{u"failed"_s, std::nullopt, u"PROVIDER_UNAVAILABLE"_s}));

    server.deleteSession(id.toStdString());
    EXPECT_EQ(errorOf(vault->sessionState(id)).description(),
              u"查会话 "_s + id + u"：Mindvault里已经没有这条记录了"_s);
}

// The service fails a recording without speech; with detection on, so does the stand-in.
TEST_F(MindvaultUpload, WithSpeechDetectionOnlyRecordingsWithSpeechAreTranscribed)
{
    signedIn();
    server.setDetectSpeech(true);
    const auto hum = [](double t) {
        return 0.05f * float(std::sin(2 * std::numbers::pi * 100 * t));
    };
    const struct {
        QString name;
        QByteArray audio;
        std::optional<QString> code; // nullopt: transcribed
    } cases[] = {
        {u"speech"_s,
         TestSupport::readFile(QStringLiteral(KESTREL_FIXTURES "/audio/speech-opusenc.ogg")),
         std::nullopt},
        {u"hum"_s, penOgg(5, hum), u"ASR_NO_SPEECH"_s},
        {u"silence"_s, penOgg(5, [](double) { return 0.0f; }), u"ASR_NO_SPEECH"_s},
        // Silence, then a fan starts: level changes once, but never swings like speech.
        {u"silence-then-hum"_s, penOgg(5, [&](double t) { return t < 2 ? 0.0f : hum(t); }),
         u"ASR_NO_SPEECH"_s},
        {u"not-audio"_s, audio(4000), u"PROVIDER_REJECTED"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString id = push(c.audio, u"mac-ble-speech-"_s + c.name).sessionId;
        const SessionState state = TestSupport::run(vault->sessionState(id));
        if (!c.code) {
            EXPECT_EQ(state.status, u"ready"_s);
            EXPECT_TRUE(state.transcriptId.has_value());
            continue;
        }
        EXPECT_EQ(state, (SessionState{u"failed"_s, std::nullopt, c.code}));
        EXPECT_EQ(VaultFailure::isNoSpeech(state.errorCode), *c.code == u"ASR_NO_SPEECH");
    }
}

TEST_F(MindvaultUpload, RequestBodiesAreExactlyWhatTheServiceExpects)
{
    signedIn();
    // Milliseconds and a local offset: the service wants UTC to the second.
    const QDateTime started(QDate(2024, 5, 1), QTime(16, 30, 0, 750), QTimeZone(8 * 3600));
    TestSupport::run(vault->upload(audio(MiB8 + 1), u"周会"_s, 95.5, u"mac-ble-pin"_s,
                                   u"audio/ogg"_s, started, u"pj-1"_s));

    const auto bodies = [this](const char* step) {
        std::vector<nlohmann::json> out;
        for (const auto& seen : server.requests(step))
            out.push_back(nlohmann::json::parse(seen.body));
        return out;
    };
    using nlohmann::json;
    EXPECT_EQ(bodies("create"), std::vector<json>{json::parse(R"({
        "clientRequestId": "mac-ble-pin", "title": "周会", "captureClient": "macos",
        "capabilities": ["mic"], "startedAt": "2024-05-01T08:30:00Z", "projectId": "pj-1"})")});
    EXPECT_EQ(bodies("ticket"), (std::vector<json>{json::parse(R"({
        "sequence": 0, "idempotencyKey": "mac-ble-pin-0", "mimeType": "audio/ogg",
        "byteLength": 8388608, "startedAtMs": 0, "endedAtMs": 47750,
        "uploadMode": "background"})"),
                                                   json::parse(R"({
        "sequence": 1, "idempotencyKey": "mac-ble-pin-1", "mimeType": "audio/ogg",
        "byteLength": 1, "startedAtMs": 47750, "endedAtMs": 95500,
        "uploadMode": "background"})")}));
    EXPECT_EQ(bodies("stop"),
              std::vector<json>{json::parse(R"({"durationMs": 95500, "expectedChunkCount": 2})")});
}

TEST_F(MindvaultUpload, TheStandInRefusesLooseDatesAndBrokenChunkSpans)
{
    Mindvault& v = signedIn();
    const QString api = config().apiBase + u"/api/recordings"_s;
    const auto post = [&](const QString& url, const nlohmann::json& body) {
        return TestSupport::run(v.authed(
                                    "POST", url, [&v] { return v.authHeaders(); }, body))
            .status;
    };
    const auto create = [&](const std::string& id, const std::string& startedAt) {
        return post(api, {{"clientRequestId", id},
                          {"title", "t"},
                          {"captureClient", "macos"},
                          {"capabilities", {"mic"}},
                          {"startedAt", startedAt}});
    };
    for (const char* loose : {"2024-05-01T08:30:00.000Z", "2024-05-01T16:30:00+08:00",
                              "2024-05-01T08:30:00", "2024-05-01 08:30:00Z", ""}) {
        SCOPED_TRACE(loose);
        EXPECT_EQ(create("mac-ble-loose", loose), 400);
    }
    ASSERT_EQ(create("mac-ble-spans", "2024-05-01T08:30:00Z"), 201);

    const QString session = api + u'/' + QString::fromStdString(sessionOf(u"mac-ble-spans"_s));
    const auto ticket = [&](int seq, int from, int to) {
        return post(session + u"/chunks/ticket"_s, {{"sequence", seq},
                                                    {"idempotencyKey", "k" + std::to_string(seq)},
                                                    {"mimeType", "audio/ogg"},
                                                    {"byteLength", 10},
                                                    {"startedAtMs", from},
                                                    {"endedAtMs", to},
                                                    {"uploadMode", "background"}});
    };
    const auto stop = [&](int durationMs) {
        return post(session + u"/stop"_s, {{"durationMs", durationMs}, {"expectedChunkCount", 2}});
    };
    const struct {
        const char* name;
        std::function<int()> request;
        int status;
    } steps[] = {
        {"first chunk not at 0", [&] { return ticket(0, 5, 100); }, 400},
        {"first chunk", [&] { return ticket(0, 0, 100); }, 200},
        {"gap after the first", [&] { return ticket(1, 150, 200); }, 400},
        {"ends before it starts", [&] { return ticket(1, 100, 90); }, 400},
        {"second chunk", [&] { return ticket(1, 100, 200); }, 200},
        {"stop before the last chunk ends", [&] { return stop(150); }, 400},
        {"stop after the last chunk ends", [&] { return stop(250); }, 400},
        {"stop where it ends", [&] { return stop(200); }, 200},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        EXPECT_EQ(step.request(), step.status);
    }
}

TEST_F(MindvaultUpload, ChunksGoOnlyToObjectStorageOverASafeScheme)
{
    signedIn();
    const QString victim = dir.path() + u"/victim.txt"_s;
    TestSupport::writeFile(victim, "keep me");
    int n = 0;
    for (const QString& url : {QUrl::fromLocalFile(victim).toString(),
                               u"http://example.com/_storage/abc"_s, u"ftp://127.0.0.1/abc"_s}) {
        SCOPED_TRACE(url.toStdString());
        server.answerStep("ticket", 200, {{"uploadUrl", url.toStdString()}});
        const MindvaultError e =
            errorOf(vault->upload(audio(100), u"t"_s, 1, u"mac-ble-url"_s + QString::number(n++),
                                  u"audio/ogg"_s, QDateTime::currentDateTimeUtc()));
        EXPECT_EQ(e.kind(), MindvaultError::Kind::badResponse);
        EXPECT_TRUE(e.description().contains(u"上传地址不是 https"_s)) << e.what();
        EXPECT_FALSE(e.description().contains(u"_storage"_s)); // the address is a credential
    }
    EXPECT_EQ(TestSupport::readFile(victim), "keep me");
    EXPECT_EQ(server.requestCount("put"), 0);
}

TEST_F(MindvaultUpload, AnAnswerWithoutASessionIdIsAnError)
{
    signedIn();
    // A replayed session that is done but has no id would be recorded as pushed to nowhere.
    for (const char* status : {"ready", "processing", "recording"}) {
        SCOPED_TRACE(status);
        server.answerStep("create", 200, {{"session", {{"status", status}}}});
        EXPECT_EQ(errorOf(vault->upload(audio(10), u"t"_s, 1, u"mac-ble-noid"_s, u"audio/ogg"_s,
                                        QDateTime::currentDateTimeUtc()))
                      .description(),
                  u"应答不符合预期：建会话没返回 id"_s);
    }
}
