#include "sync/LiveWitness.h"

#include "support/TestSupport.h"
#include "sync/Continuation.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace Qt::StringLiterals;

namespace {

QDateTime local(int y, int mo, int d, int h, int mi, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

} // namespace

TEST(Continuation, StartedAtReadsTheNameTime)
{
    EXPECT_EQ(Continuation::startedAt(u"20250601-205810"_s), local(2025, 6, 1, 20, 58, 10));
    EXPECT_EQ(Continuation::startedAt(u"REC 20250601-205810 b"_s), local(2025, 6, 1, 20, 58, 10));
    EXPECT_EQ(Continuation::startedAt(u"REC_0003"_s), std::nullopt);
    EXPECT_EQ(Continuation::startedAt(u"20251301-205810"_s), std::nullopt); // month 13
}

TEST(Continuation, TrueStartFromEvidence)
{
    const LiveWitness seen{local(2025, 3, 1, 10, 0), local(2025, 3, 1, 10, 5)};
    const struct {
        const char* what;
        QString base;
        std::optional<LiveWitness> witness;
        double duration;
        Continuation::TrueStart want;
    } cases[] = {
        {"no evidence",
         u"20250101-120000"_s,
         std::nullopt,
         1800,
         {local(2025, 1, 1, 12, 0), false}},
        {"name far outside: midpoint of 10:00 and 10:05",
         u"20250101-120000"_s,
         seen,
         1800,
         {local(2025, 3, 1, 10, 2, 30), true}},
        {"name within tolerance",
         u"20250301-100100"_s,
         seen,
         1800,
         {local(2025, 3, 1, 10, 1), false}},
        {"no name time: evidence alone",
         u"REC_0001"_s,
         seen,
         1800,
         {local(2025, 3, 1, 10, 2, 30), true}},
        {"short recording raises the lower bound",
         u"REC_0001"_s,
         LiveWitness{std::nullopt, local(2025, 3, 1, 10, 5)},
         60,
         {local(2025, 3, 1, 10, 4, 30), true}},
        {"contradicting evidence is ignored",
         u"20250101-120000"_s,
         LiveWitness{local(2025, 3, 1, 10, 6), local(2025, 3, 1, 10, 5)},
         1800,
         {local(2025, 1, 1, 12, 0), false}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Continuation::trueStart(c.base, c.witness, c.duration, 1800), c.want) << c.what;
    }
}

TEST(Continuation, SplitRecordings)
{
    // 10700 s after 00:00:00 is 02:58:20.
    const QString first = u"20250101-000000"_s;
    const struct {
        double prevSeconds;
        QString next;
        bool want;
    } cases[] = {
        {10700, u"20250101-025825"_s, true},  // gap 5 s
        {10700, u"20250101-025820"_s, true},  // gap 0
        {10700, u"20250101-025826"_s, false}, // gap 6 s
        {10700, u"20250101-025819"_s, false}, // gap -1 s
        {10699.9, u"20250101-025820"_s, false}, {10700, u"REC_0002"_s, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Continuation::isContinuation(first, c.prevSeconds, c.next), c.want)
            << c.prevSeconds << " " << c.next.toStdString();
    }

    const QList<QStringList> groups = Continuation::groupContinuations({
        {u"20250101-000000"_s, 10700},
        {u"20250101-025822"_s, 10700},
        {u"20250101-055642"_s, 300},
        {u"20250101-090000"_s, 10},
        {u"REC_1"_s, 10700},
    });
    EXPECT_EQ(groups, (QList<QStringList>{
                          {u"20250101-000000"_s, u"20250101-025822"_s, u"20250101-055642"_s},
                          {u"20250101-090000"_s},
                          {u"REC_1"_s}}));

    EXPECT_EQ(Continuation::concatRawPackets({QByteArray(80, 'a'), QByteArray()}), std::nullopt);
    EXPECT_EQ(Continuation::concatRawPackets({QByteArray(80, 'a'), QByteArray(41, 'b')}),
              std::nullopt);
    EXPECT_EQ(Continuation::concatRawPackets({}), std::nullopt);
    EXPECT_EQ(Continuation::concatRawPackets({QByteArray(80, 'a'), QByteArray(40, 'b')}),
              QByteArray(80, 'a') + QByteArray(40, 'b'));
}

TEST(LiveWitness, ObservationsKeepTheFirstSighting)
{
    LiveWitness::Map witnesses;
    const QDateTime t0 = local(2025, 3, 1, 10, 0);
    std::optional<QDateTime> notRecording;

    auto obs = LiveWitness::observe(2, std::nullopt, t0, notRecording, witnesses);
    EXPECT_EQ(obs.lastNotRecordingAt, t0);
    EXPECT_FALSE(obs.addedBase);
    notRecording = obs.lastNotRecordingAt;

    obs = LiveWitness::observe(3, u""_s, t0.addSecs(60), notRecording, witnesses);
    EXPECT_FALSE(obs.addedBase);
    EXPECT_TRUE(witnesses.empty());

    obs = LiveWitness::observe(1, u"20250301-100200.opus"_s, t0.addSecs(300), notRecording,
                               witnesses);
    EXPECT_EQ(obs.addedBase, u"20250301-100200"_s);
    obs = LiveWitness::observe(1, u"20250301-100200.opus"_s, t0.addSecs(360), notRecording,
                               witnesses);
    EXPECT_FALSE(obs.addedBase);
    EXPECT_EQ(witnesses, (LiveWitness::Map{{u"20250301-100200"_s, {t0, t0.addSecs(300)}}}));

    obs = LiveWitness::observe(std::nullopt, u"x"_s, t0.addSecs(400), notRecording, witnesses);
    EXPECT_EQ(obs.lastNotRecordingAt, t0);
    EXPECT_EQ(witnesses.size(), 1u);
}

TEST(LiveWitness, FileUsesSecondsSince2001AndOmitsAbsentDates)
{
    const QDateTime live = QDateTime::fromSecsSinceEpoch(978307200 + 100, Qt::UTC).addMSecs(250);
    const LiveWitness::Map witnesses = {
        {u"a"_s, {std::nullopt, live}},
        {u"b"_s, {live.addSecs(-60), live}},
    };
    const QByteArray text = LiveWitness::encodeFile(witnesses);
    const auto doc = nlohmann::json::parse(text.toStdString());
    EXPECT_EQ(doc["a"], nlohmann::json::parse(R"({"firstSeenLiveAt": 100.25})"));
    EXPECT_DOUBLE_EQ(doc["b"]["notRecordingAt"].get<double>(), 40.25);

    QTemporaryDir tmp;
    const QString path = tmp.path() + u"/录音时刻证据.json"_s;
    EXPECT_EQ(LiveWitness::loadFile(path), std::nullopt);
    ASSERT_NO_THROW(LiveWitness::saveFile(path, witnesses));
    EXPECT_EQ(LiveWitness::loadFile(path), witnesses);

    // Written elsewhere with sub-millisecond dates and a null; still read.
    TestSupport::writeFile(path,
                           R"({"c": {"firstSeenLiveAt": 762000000.1234, "notRecordingAt": null}})");
    const auto read = LiveWitness::loadFile(path);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->at(u"c"_s).firstSeenLiveAt.toMSecsSinceEpoch(),
              (978307200LL + 762000000LL) * 1000 + 123);
    for (const char* bad : {"[]", "x"}) {
        TestSupport::writeFile(path, bad);
        EXPECT_EQ(LiveWitness::loadFile(path), std::nullopt) << bad;
    }
}

TEST(LiveWitness, ADamagedEntryCostsNoOtherEvidence)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + u"/录音时刻证据.json"_s;
    TestSupport::writeFile(path, R"({"good": {"firstSeenLiveAt": 100},
                                     "noDate": {"notRecordingAt": 1},
                                     "notAnObject": 5,
                                     "badDate": {"firstSeenLiveAt": 200, "notRecordingAt": "x"}})");

    std::optional<LiveWitness::Map> loaded = LiveWitness::loadFile(path);
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->size(), 1u);
    ASSERT_TRUE(loaded->contains(u"good"_s));

    // The next new witness rewrites the file: the damaged entries go back as they were.
    loaded->emplace(u"new"_s, LiveWitness{std::nullopt, QDateTime::currentDateTime()});
    ASSERT_NO_THROW(LiveWitness::saveFile(path, *loaded));
    const auto doc = nlohmann::json::parse(TestSupport::readFile(path).toStdString());
    EXPECT_EQ(doc.size(), 5u);
    EXPECT_EQ(doc["notAnObject"], 5);
    EXPECT_EQ(doc["badDate"]["notRecordingAt"], "x");
    EXPECT_EQ(LiveWitness::loadFile(path)->size(), 2u);
}
