#include "library/Triage.h"

#include "sync/RecordingItem.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

RecordingItem transcribed()
{
    RecordingItem item(QStringLiteral("20240315-093005"), 600, 9600, 9600, QStringLiteral("s1"),
                       QStringLiteral("ready"), QStringLiteral("t1"));
    return item;
}

// One row per rule, with the cases where two rules compete.
TEST(Triage, FirstRuleThatAppliesWins)
{
    struct Case {
        const char* name;
        std::function<void(RecordingItem&)> change;
        const char* busy;
        const char* text;
    };
    const QString base = QStringLiteral("20240315-093005");
    const Case cases[] = {
        {"delete beats busy", [](RecordingItem& i) { i.pendingDeviceDelete = true; },
         "20240315-093005", "等着删除"},
        {"busy", [](RecordingItem&) {}, "20240315-093005", "正在处理"},
        {"busy elsewhere", [](RecordingItem&) {}, "other", "已入Mindvault"},
        {"still recording",
         [](RecordingItem& i) { i.lastError = QStringLiteral("设备录音中，稍后再下"); }, nullptr,
         "正在录"},
        {"too short, not transcribed",
         [](RecordingItem& i) {
             i.skippedShortSeconds = 42;
             i.transcriptId.reset();
         },
         nullptr, "太短未推"},
        {"too short but pushed by hand and transcribed",
         [](RecordingItem& i) { i.skippedShortSeconds = 42; }, nullptr, "已入Mindvault"},
        {"server gone", [](RecordingItem& i) { i.serverGone = true; }, nullptr,
         "Mindvault里已删除"},
        {"no speech",
         [](RecordingItem& i) {
             i.vaultStatus = QStringLiteral("failed");
             i.vaultErrorCode = QStringLiteral("ASR_NO_SPEECH");
         },
         nullptr, "没有人声"},
        {"failed and dismissed",
         [](RecordingItem& i) {
             i.vaultStatus = QStringLiteral("failed");
             i.dismissed = true;
         },
         nullptr, "已忽略"},
        {"failed", [](RecordingItem& i) { i.vaultStatus = QStringLiteral("failed"); }, nullptr,
         "转写失败"},
        {"speakers to confirm", [](RecordingItem& i) { i.unconfirmedSpeakers = 2; }, nullptr,
         "待认人 2"},
        {"transcribed with a leftover error",
         [](RecordingItem& i) { i.lastError = QStringLiteral("网络断了"); }, nullptr,
         "已入Mindvault"},
        {"untranscribed with an error",
         [](RecordingItem& i) {
             i.vaultStatus = QStringLiteral("processing");
             i.transcriptId.reset();
             i.lastError = QStringLiteral("网络断了");
         },
         nullptr, "推送卡住"},
        {"archived, never tried",
         [](RecordingItem& i) {
             i.sessionId.reset();
             i.vaultStatus.reset();
             i.transcriptId.reset();
         },
         nullptr, "排队等推送"},
        {"archived, tried and no session",
         [](RecordingItem& i) {
             i.sessionId.reset();
             i.vaultStatus.reset();
             i.transcriptId.reset();
             i.uploadAttempts = 2;
         },
         nullptr, "推送卡住"},
        {"only on the pen",
         [](RecordingItem& i) {
             i.localBytes.reset();
             i.sessionId.reset();
             i.vaultStatus.reset();
             i.transcriptId.reset();
         },
         nullptr, "在录音笔上"},
        {"being transcribed",
         [](RecordingItem& i) {
             i.vaultStatus = QStringLiteral("processing");
             i.transcriptId.reset();
         },
         nullptr, "正在处理"},
    };
    for (const Case& c : cases) {
        RecordingItem item = transcribed();
        c.change(item);
        const std::optional<QString> busy =
            c.busy ? std::optional(QString::fromUtf8(c.busy)) : std::nullopt;
        EXPECT_EQ(Triage::classify(item, busy).text(), QString::fromUtf8(c.text)) << c.name;
    }
}

TEST(Triage, ProblemClassesAndTones)
{
    using C = Triage::Kind::Case;
    EXPECT_EQ(Triage::Kind{C::failed}.problem(), Triage::Problem::failed);
    EXPECT_EQ(Triage::Kind{C::stuck}.problem(), Triage::Problem::stuck);
    EXPECT_EQ((Triage::Kind{C::speakers, 3}.problem()), Triage::Problem::speakers);
    // Ignoring a failure takes it out of the failures.
    EXPECT_EQ(Triage::Kind{C::dismissed}.problem(), Triage::Problem::none);
    EXPECT_EQ(Triage::Kind{C::inVault}.tone(), Triage::Tone::ok);
    EXPECT_EQ(Triage::Kind{C::failed}.tone(), Triage::Tone::bad);
}

} // namespace
