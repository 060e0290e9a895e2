// The five links of a recording, rule by rule.

#include "widgets/ChainStatus.h"

#include "widgets/ChainView.h"

#include <QLabel>
#include <array>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

using L = LinkState;

RecordingItem item(std::function<void(RecordingItem&)> change)
{
    RecordingItem it(u"20250301-101500"_s, 90);
    change(it);
    return it;
}

struct Case {
    const char* name;
    RecordingItem item;
    std::optional<RecordingActivity> activity;
    std::array<L, 5> states;
    QStringList notes; // empty: not checked
};

} // namespace

TEST(ChainStatus, FollowsTheRules)
{
    const QString noSpeech = u"ASR_NO_SPEECH"_s;
    const std::vector<Case> cases{
        {"nothing known",
         item([](RecordingItem&) {}),
         std::nullopt,
         {L::pending, L::pending, L::pending, L::pending, L::pending},
         {u"设备上没有"_s, u"尚未落盘"_s, u"尚未推送"_s, u"等推送"_s, u"等转写"_s}},
        {"on the pen, downloading",
         item([](RecordingItem& i) { i.deviceSize = 2'400'000; }),
         RecordingActivity{u"下载中"_s, 0.42},
         {L::done, L::active, L::pending, L::pending, L::pending},
         {u"2.4 MB"_s, u"下载中"_s, {}, {}, {}}},
        {"cleaned from the pen, archived",
         item([](RecordingItem& i) { i.localBytes = 12'345; }),
         std::nullopt,
         {L::skipped, L::done, L::pending, L::pending, L::pending},
         {u"设备上已不在（已清理）"_s, u"12 KB"_s, {}, {}, {}}},
        {"pushing",
         item([](RecordingItem& i) { i.localBytes = 1; }),
         RecordingActivity{u"推送：分片 1/3"_s, std::nullopt},
         {L::skipped, L::done, L::active, L::pending, L::pending},
         {{}, {}, u"推送：分片 1/3"_s, u"等推送"_s, {}}},
        {"pushed, being transcribed",
         item([](RecordingItem& i) {
             i.sessionId = u"s1"_s;
             i.vaultStatus = u"processing"_s;
         }),
         std::nullopt,
         {L::pending, L::pending, L::active, L::active, L::pending},
         {{}, {}, u"分析中"_s, u"Mindvault正在转写"_s, {}}},
        {"transcribed, analysed",
         item([](RecordingItem& i) {
             i.sessionId = u"s1"_s;
             i.vaultStatus = u"ready"_s;
             i.transcriptId = u"t1"_s;
             i.vaultTitle = u"周会"_s;
         }),
         std::nullopt,
         {L::pending, L::pending, L::done, L::done, L::done},
         {{}, {}, u"已就绪，转写完成"_s, u"转写就绪"_s, u"判断已沉进大脑"_s}},
        {"transcribed, analysis pending",
         item([](RecordingItem& i) {
             i.vaultStatus = u"ready"_s;
             i.transcriptId = u"t1"_s;
         }),
         std::nullopt,
         {L::pending, L::pending, L::done, L::done, L::active},
         {{}, {}, {}, {}, u"分析进行中"_s}},
        {"session with a last error",
         item([](RecordingItem& i) {
             i.sessionId = u"s1"_s;
             i.lastError = u"分片上传超时"_s;
         }),
         std::nullopt,
         {L::pending, L::pending, L::failed, L::active, L::pending},
         {{}, {}, u"分片上传超时"_s, {}, {}}},
        {"failed without a text",
         item([](RecordingItem& i) {
             i.sessionId = u"s1"_s;
             i.vaultStatus = u"failed"_s;
         }),
         std::nullopt,
         {L::pending, L::pending, L::failed, L::failed, L::pending},
         {{}, {}, u"推送失败"_s, u"转写失败"_s, u"等转写"_s}},
        {"rejected for no speech, whatever else is set",
         item([&](RecordingItem& i) {
             i.sessionId = u"s1"_s;
             i.vaultStatus = u"failed"_s;
             i.vaultErrorCode = noSpeech;
             i.lastError = u"别的错误"_s;
             i.transcriptId = u"t1"_s;
             i.vaultTitle = u"标题"_s;
         }),
         std::nullopt,
         {L::pending, L::pending, L::done, L::skipped, L::skipped},
         {{}, {}, u"已收到"_s, {}, u"没有可分析的内容"_s}},
    };
    for (const Case& c : cases) {
        const ChainStatus s(c.item, c.activity);
        const std::array<L, 5> got{s.device, s.disk, s.vault, s.transcript, s.analysis};
        const QStringList notes{s.deviceNote, s.diskNote, s.vaultNote, s.transcriptNote,
                                s.analysisNote};
        EXPECT_EQ(got, c.states) << c.name;
        for (int i = 0; i < 5; ++i) {
            if (!c.notes.value(i).isEmpty()) {
                EXPECT_EQ(notes[i], c.notes[i]) << c.name << " link " << i;
            }
        }
    }
}

TEST(ChainStatus, NoSpeechNoteIsTheServiceExplanation)
{
    const ChainStatus s(item([](RecordingItem& i) {
                            i.vaultStatus = u"failed"_s;
                            i.vaultErrorCode = u"ASR_NO_SPEECH"_s;
                        }),
                        std::nullopt);
    EXPECT_FALSE(s.transcriptNote.isEmpty());
    EXPECT_NE(s.transcriptNote, u"转写失败"_s);
}

TEST(ChainStatus, ByteCounts)
{
    const std::vector<std::pair<qint64, QString>> cases{{0, u"—"_s},
                                                        {400, u"1 KB"_s},
                                                        {12'345, u"12 KB"_s},
                                                        {2'400'000, u"2.4 MB"_s},
                                                        {1'230'000'000, u"1.23 GB"_s}};
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(ChainStatus::bytes(bytes), text) << bytes;
}

TEST(ChainView, VerboseShowsEveryNoteAndFollowsChanges)
{
    ChainStatus s(item([](RecordingItem&) {}), std::nullopt);
    ChainView view(s, true);
    EXPECT_EQ(view.findChildren<QLabel*>().size(), 15);
    s.vaultNote = u"已就绪，转写完成"_s;
    view.setStatus(s);
    bool found = false;
    for (const QLabel* l : view.findChildren<QLabel*>())
        found = found || l->text() == s.vaultNote;
    EXPECT_TRUE(found);
}
