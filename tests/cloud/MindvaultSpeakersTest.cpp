#include "VaultFixture.h"

using namespace Qt::Literals::StringLiterals;

namespace {

class MindvaultSpeakers : public VaultFixture {
protected:
    // Uploads a recording and returns (session id, transcript id) once it is transcribed.
    std::pair<QString, QString> transcribed(const QString& title, const QString& requestId)
    {
        const QString session =
            TestSupport::run(vault->upload(QByteArray(100, 'a'), title, 90, requestId, u"audio/ogg"_s,
                                         QDateTime::currentDateTimeUtc()))
                .sessionId;
        return {session, *TestSupport::run(vault->sessionState(session)).transcriptId};
    }
};

} // namespace

TEST_F(MindvaultSpeakers, TableReadsMapRowsAndHidePlaceholderTitles)
{
    signedIn();
    const auto [session, tid] = transcribed(u"周会"_s, u"mac-ble-a"_s);
    const auto [session2, placeholder] = transcribed(u"note2-20240501"_s, u"mac-ble-b"_s);

    const auto rows = TestSupport::run(vault->speakers(tid));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0], (SpeakerRow{tid + u"-S1"_s, u"S1"_s, std::nullopt, false, std::nullopt}));
    EXPECT_EQ(rows[1].label, u"S2"_s);

    const auto counts =
        TestSupport::run(vault->unconfirmedSpeakerCounts({tid, u"tr-manual"_s, u"tr-unknown"_s}));
    EXPECT_EQ(counts, (QMap<QString, int>{{tid, 2}, {u"tr-manual"_s, 1}}));

    EXPECT_EQ(TestSupport::run(vault->transcriptTitles({tid, placeholder})),
              (QMap<QString, QString>{{tid, u"周会"_s}}));
    EXPECT_EQ(TestSupport::run(vault->transcriptTitle(tid)), u"周会"_s);
    EXPECT_FALSE(TestSupport::run(vault->transcriptTitle(placeholder)));

    const auto segments = TestSupport::run(vault->segments(tid));
    ASSERT_EQ(segments.size(), 3);
    EXPECT_TRUE(std::is_sorted(segments.begin(), segments.end(),
                               [](const auto& a, const auto& b) { return a.startMs < b.startMs; }));
    const auto samples = TestSupport::run(vault->speakerSamples(tid));
    EXPECT_EQ(samples.keys(), (QList<QString>{u"S1"_s, u"S2"_s}));
    EXPECT_EQ(samples[u"S2"_s], (SpeakerSample{u"S2"_s, segments[1].text, segments[1].startMs}));

    EXPECT_EQ(TestSupport::run(vault->personProfiles(10)).first().displayName, u"李华"_s);
    EXPECT_EQ(TestSupport::run(vault->projects()).first(), (ProjectEntry{u"pj-1"_s, u"周会"_s}));
    EXPECT_EQ(TestSupport::run(vault->recordingSessionId(tid)), session);
    EXPECT_FALSE(TestSupport::run(vault->recordingSessionId(u"tr-manual"_s)));

    server.failStep("rest", 500);
    EXPECT_EQ(errorOf(vault->speakers(tid)).whatText(), u"查询 speakers"_s);
}

TEST_F(MindvaultSpeakers, AssignmentGoesThroughTheSessionOrTheTableAsTheServiceAllows)
{
    signedIn();
    const auto [session, tid] = transcribed(u"周会"_s, u"mac-ble-c"_s);
    const auto rows = TestSupport::run(vault->speakers(tid));

    TestSupport::run(vault->assignSpeaker(tid, rows[0], u"张三"_s, u"up-1"_s));
    EXPECT_EQ(TestSupport::run(vault->speakers(tid))[0],
              (SpeakerRow{rows[0].id, u"S1"_s, u"张三"_s, true, u"up-1"_s}));
    EXPECT_EQ(TestSupport::run(vault->unconfirmedSpeakerCounts({tid})).value(tid), 1);

    SpeakerRow unknown = rows[1];
    unknown.label = u"S9"_s;
    EXPECT_EQ(errorOf(vault->assignSpeaker(tid, unknown, u"李四"_s, std::nullopt)).description(),
              u"应答不符合预期：Mindvault没找到标签「S9」，这条没写进去"_s);

    server.markAnalyzed(session.toStdString());
    EXPECT_EQ(errorOf(vault->assignSpeaker(tid, rows[1], u"李四"_s, std::nullopt)).kind(),
              MindvaultError::Kind::alreadyAnalyzed);

    // Session gone: the write falls back to the table, which guards canonical speakers.
    server.deleteSession(session.toStdString());
    EXPECT_EQ(errorOf(vault->assignSpeaker(tid, rows[1], u"李四"_s, std::nullopt)).kind(),
              MindvaultError::Kind::canonicalReadOnly);
    EXPECT_EQ(server.requestCount("rest-patch"), 1);

    // A transcript without a recording session is written in the table directly.
    const auto manual = TestSupport::run(vault->speakers(u"tr-manual"_s));
    TestSupport::run(vault->assignSpeaker(u"tr-manual"_s, manual[0], u"王五"_s, std::nullopt));
    EXPECT_EQ(TestSupport::run(vault->speakers(u"tr-manual"_s))[0],
              (SpeakerRow{manual[0].id, u"S1"_s, u"王五"_s, true, std::nullopt}));
}
