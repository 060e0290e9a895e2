#include "sync/SyncPlanner.h"

#include "sync/ProgressThrottle.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace SyncPlanner;

namespace {

FileEntry entry(const QString& name, uint32_t size, uint32_t time = 1)
{
    FileEntry e;
    e.name = name;
    e.size = size;
    e.time = time;
    e.rawName = name.toUtf8().leftJustified(20, '\0');
    return e;
}

QStringList names(const Entries& entries)
{
    QStringList out;
    for (const FileEntry& e : entries) {
        out.append(e.name);
    }
    return out;
}

} // namespace

TEST(SyncPlanner, NormalizedBaseAndKey)
{
    const std::pair<QString, QString> cases[] = {
        {u"20250601-205810.OPUS"_s, u"20250601-205810"_s},
        {u"a..ogg"_s, u"a"_s},
        {u"b.wav"_s, u"b"_s},
        {u"c.mp3."_s, u"c.mp3"_s},
        {u"d.opus.wav"_s, u"d.opus"_s},
        {u"plain"_s, u"plain"_s},
    };
    for (const auto& [name, base] : cases) {
        EXPECT_EQ(normalizedBase(name), base) << name.toStdString();
    }
    EXPECT_EQ(manifestKey(entry(u"a.opus"_s, 1440, 3)), u"a.opus|3|1440"_s);
}

TEST(SyncPlanner, LiveDetection)
{
    const FileEntry rec3 = entry(u"REC_0003.opus"_s, 40);
    const FileEntry rec4 = entry(u"REC_0004.opus"_s, 40);
    const struct {
        Status status;
        Current current;
        bool live3;
        bool live4;
    } cases[] = {
        {3, std::nullopt, true, true}, // recording, file unknown: everything may be it
        {1, u""_s, true, true},          {0, u"REC_0003.opus"_s, false, false},
        {2, std::nullopt, false, false}, {std::nullopt, u"REC_0003.OPUS"_s, true, false},
        {1, u"REC_0003"_s, true, false}, {std::nullopt, std::nullopt, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isLive(rec3, c.status, c.current), c.live3)
            << int(c.status.value_or(255)) << " " << c.current.value_or(u"-"_s).toStdString();
        EXPECT_EQ(isLive(rec4, c.status, c.current), c.live4);
    }
}

TEST(SyncPlanner, WhatToDownloadRecordOrRewrap)
{
    SyncManifest m;
    const Entries list = {
        entry(u"imported.opus"_s, 80), entry(u"empty.opus"_s, 0),   entry(u"complete.opus"_s, 1440),
        entry(u"noogg.opus"_s, 1440),  entry(u"torn.opus"_s, 1441), entry(u"failed4.opus"_s, 400),
        entry(u"failed5.opus"_s, 400), entry(u"new.opus"_s, 400),   entry(u"live.opus"_s, 400),
    };
    m.imported[manifestKey(list[0])] = {u"imported.ogg"_s, 80, u"t"_s};
    m.downloadFailures[manifestKey(list[5])] = 4;
    m.downloadFailures[manifestKey(list[6])] = 5;
    const Sizes raw = {{u"imported"_s, 80},
                       {u"complete"_s, 1440},
                       {u"noogg"_s, 1440},
                       {u"torn"_s, 1441},
                       {u"new"_s, 120}};
    const Sizes ogg = {{u"imported"_s, 500}, {u"complete"_s, 900}, {u"torn"_s, 900}};
    const Status status = 1;
    const Current current = u"live.opus"_s;

    EXPECT_EQ(names(pending(list, m, status, current, raw)),
              (QStringList{u"torn.opus"_s, u"failed4.opus"_s, u"new.opus"_s}));
    EXPECT_EQ(names(unrecorded(list, m, status, current, raw, ogg)),
              QStringList{u"complete.opus"_s});
    EXPECT_EQ(names(needsRewrap(list, m, status, current, raw, ogg)), QStringList{u"noogg.opus"_s});
    EXPECT_EQ(names(givenUp(list, m)), QStringList{u"failed5.opus"_s});
    EXPECT_EQ(names(emptyOnDevice(list)), QStringList{u"empty.opus"_s});

    // Skipped for this round only, the empty and the live file still count as resumable.
    EXPECT_EQ(names(resumable(list, m, raw)),
              (QStringList{u"empty.opus"_s, u"torn.opus"_s, u"failed4.opus"_s, u"new.opus"_s,
                           u"live.opus"_s}));

    // Recording without a file name: nothing is safe to touch.
    EXPECT_TRUE(pending(list, m, 3, std::nullopt, raw).isEmpty());
    EXPECT_TRUE(unrecorded(list, m, 3, std::nullopt, raw, ogg).isEmpty());
}

TEST(SyncPlanner, ARawFileTheLedgerGivesToAnotherRecordingIsNoCopy)
{
    // The pen's clock reset: "reused" is a new recording of the size of one archived earlier.
    SyncManifest m;
    m.imported[u"reused.opus|5|1440"_s] = {u"reused.ogg"_s, 1440, u"t"_s};
    m.imported[u"moved.opus|5|80"_s] = {u"moved-2.ogg"_s, 80, u"t"_s};
    const Entries list = {entry(u"reused.opus"_s, 1440, 9), entry(u"moved.opus"_s, 1440, 9)};
    const Sizes raw = {{u"reused"_s, 1440}, {u"moved"_s, 1440}};

    EXPECT_EQ(names(pending(list, m, 2, std::nullopt, raw)), QStringList{u"reused.opus"_s});
    EXPECT_EQ(names(unrecorded(list, m, 2, std::nullopt, raw, raw)), QStringList{u"moved.opus"_s});
    EXPECT_EQ(names(needsRewrap(list, m, 2, std::nullopt, raw, {})), QStringList{u"moved.opus"_s});

    const std::pair<QString, QString> bases[] = {
        {u"k-2.ogg"_s, u"k-2"_s},
        {u"k-13.opus"_s, u"k-13"_s},
        {u"k.OPUS"_s, u"k"_s},
        {u""_s, u"k"_s},
        {u"other.ogg"_s, u"k"_s}, // an Ogg file named otherwise: the raw
                                  // file keeps the base
        {u"k-02.ogg"_s, u"k"_s},
        {u"k-1.ogg"_s, u"k"_s},
        {u"k-x.ogg"_s, u"k"_s},
    };
    for (const auto& [file, want] : bases) {
        EXPECT_EQ(archivedBase(u"k.opus|1|40"_s, {file, 40, {}}), want) << file.toStdString();
    }
    EXPECT_EQ(archivedBase(u"a|b.opus|1|40"_s, {}), u"a|b"_s);
    EXPECT_EQ(numberedBase(u"x"_s, 1), u"x"_s);
    EXPECT_EQ(numberedBase(u"x"_s, 3), u"x-3"_s);
}

TEST(SyncPlanner, UnsafePenNamesNeverBecomePaths)
{
    const Entries list = {
        entry(u"../../.bashrc"_s, 400),
        entry(u"a/b.opus"_s, 400),
        entry(u"a\\b.opus"_s, 400),
        entry(u"x\u0001y.opus"_s, 400),
        entry(u".opus"_s, 400),
        entry(u"...opus"_s, 400),
        entry(u".."_s, 400),
        entry(u"ok.opus"_s, 400),
        entry(u"好.opus"_s, 400),
    };
    const Sizes raw = {{u".."_s, 400}, {u""_s, 400}, {u"ok"_s, 400}};
    const Sizes ogg = {{u""_s, 1}, {u"ok"_s, 1}};

    EXPECT_EQ(names(pending(list, {}, 2, std::nullopt, {})),
              (QStringList{u"ok.opus"_s, u"好.opus"_s}));
    EXPECT_EQ(names(unrecorded(list, {}, 2, std::nullopt, raw, ogg)), QStringList{u"ok.opus"_s});
    EXPECT_TRUE(needsRewrap(list, {}, 2, std::nullopt, raw, ogg).isEmpty());
    EXPECT_EQ(unsafeEntries(list).size(), 7);
    EXPECT_EQ(unsafeEntriesNote(list),
              u"录音笔上有 7 条录音的文件名不能安全地用作本地文件名（空名、“.”或“..”、含 / \\ "
              u"或控制字符），不下载、不归档、不删除：「../../.bashrc」、「a/b.opus」、"
              u"「a\\b.opus」、「x\\x01y.opus」、「.opus」、「...opus」、「..」"_s);
    EXPECT_TRUE(unsafeEntriesNote({entry(u"ok.opus"_s, 40)}).isEmpty());

    for (const QString& name : {u"a"_s, u"20250601-205810"_s, u"a.b"_s, u"..a"_s}) {
        EXPECT_TRUE(isSafeBase(name)) << name.toStdString();
    }
    for (const QString& name : {u""_s, u"."_s, u".."_s, u"a/b"_s, u"a\\b"_s, u"a\nb"_s,
                                u"a\u007fb"_s, QString(QString(QChar(0)) + u"a"_s)}) {
        EXPECT_FALSE(isSafeBase(name)) << name.toStdString();
    }
}

TEST(SyncPlanner, SmallPredicates)
{
    EXPECT_FALSE(partialUsable(400, 1000, 1200)); // saved for another size: stale
    EXPECT_TRUE(partialUsable(400, 1200, 1200));
    EXPECT_FALSE(partialUsable(1200, 1200, 1200));
    EXPECT_FALSE(partialUsable(0, 1200, 1200));
    EXPECT_FALSE(partialUsable(410, 1200, 1200));
    EXPECT_FALSE(partialUsable(400, std::nullopt, 1200));

    EXPECT_TRUE(downloadComplete(1000, 1000, true));
    EXPECT_FALSE(downloadComplete(1001, 1001, true));
    EXPECT_TRUE(downloadComplete(1001, 1001, false));
    EXPECT_FALSE(downloadComplete(0, 0, false));
    EXPECT_FALSE(downloadComplete(960, 1000, true));

    EXPECT_TRUE(tooShortToUpload(299.9, 300));
    EXPECT_FALSE(tooShortToUpload(300, 300));
    EXPECT_FALSE(tooShortToUpload(1, 0));
    EXPECT_FALSE(tooShortToUpload(1, -5));

    EXPECT_EQ(safeDeviceNo(u"  My\tPen \n 2 "_s), u"My-Pen-2"_s);
    EXPECT_EQ(safeDeviceNo(QString(70, u'x')), QString(64, u'x'));
    EXPECT_EQ(safeDeviceNo(u"   "_s), u""_s);
}

TEST(SyncPlanner, PollTargetsNewestFirstWithinLimit)
{
    std::map<QString, QString> uploaded;
    for (int i = 10; i < 30; ++i) {
        uploaded[u"202501%1-000000"_s.arg(i)] = u"s%1"_s.arg(i);
    }
    const QList<PollTarget> top = pollTargets(uploaded, {}, {}, {}, 12);
    ASSERT_EQ(top.size(), 12);
    EXPECT_EQ(top.first(), (PollTarget{u"20250129-000000"_s, u"s29"_s}));
    EXPECT_EQ(top.last().base, u"20250118-000000"_s);

    const QList<PollTarget> some =
        pollTargets(uploaded, {u"20250129-000000"_s}, {{u"20250128-000000"_s, u"t"_s}},
                    {{u"20250127-000000"_s, 8}, {u"20250126-000000"_s, 7}}, 2);
    EXPECT_EQ(some, (QList<PollTarget>{{u"20250126-000000"_s, u"s26"_s},
                                       {u"20250125-000000"_s, u"s25"_s}}));
}

TEST(SyncPlanner, BuildItems)
{
    SyncManifest m;
    m.uploaded = {{u"b-ready"_s, u"s1"_s}, {u"c-failed"_s, u"s2"_s}, {u"nowhere"_s, u"s3"_s}};
    m.plan[u"b-ready"_s] = {u"周会"_s, u"p1"_s};
    m.starred = {u"b-ready"_s, u"nowhere"_s};
    m.dismissed = {u"c-failed"_s};
    m.missingOnServer[u"c-failed"_s] = u"t"_s;

    const Entries list = {entry(u"a-live.opus"_s, 4000, 100), entry(u"b-ready.opus"_s, 80, 5),
                          entry(u"b-ready.OPUS"_s, 120, 6), entry(u"c-failed.opus"_s, 40, 7)};
    SyncPlanner::ItemContext ctx;
    ctx.status = 1;
    ctx.current = u"a-live.opus"_s;
    ctx.localOgg = {{u"b-ready"_s, 900}, {u"d-local"_s, 700}};
    ctx.rawOpus = {{u"d-local"_s, 125 * 40}};
    ctx.vault = {{u"b-ready"_s, {u"ready"_s, u"t1"_s, std::nullopt}},
                 {u"c-failed"_s, {u"failed"_s, std::nullopt, u"NO_SPEECH"_s}}};
    ctx.unconfirmed = {{u"t1"_s, 2}};
    ctx.titles = {{u"t1"_s, u"周会纪要"_s}};
    ctx.uploadAttempts = {{u"c-failed"_s, 3}, {u"nowhere"_s, 9}};
    ctx.errors = {{u"d-local"_s, u"落盘失败：x"_s}};
    ctx.skippedShort = {{u"b-ready"_s, 6.0}};
    ctx.pendingDelete = {manifestKey(list[3])};
    ctx.explainFailure = [](const QString& code) -> QString {
        return u"解释:"_s + code;
    };

    const QList<RecordingItem> items = buildItems(list, m, ctx);
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(items[0].base, u"d-local"_s); // newest (largest) base first
    EXPECT_EQ(items[3].base, u"a-live"_s);

    RecordingItem live(u"a-live"_s, 100, 4000);
    live.lastError = u"录音中，本次跳过"_s;
    EXPECT_EQ(items[3], live);

    RecordingItem ready(u"b-ready"_s, 6, 120, 900, u"s1"_s, u"ready"_s, u"t1"_s);
    ready.plannedTitle = u"周会"_s;
    ready.plannedProjectId = u"p1"_s;
    ready.unconfirmedSpeakers = 2;
    ready.vaultTitle = u"周会纪要"_s;
    ready.skippedShortSeconds = 6.0;
    ready.starred = true;
    EXPECT_EQ(items[2], ready); // the later of two same-base entries wins

    RecordingItem failed(u"c-failed"_s, 7, 40, std::nullopt, u"s2"_s, u"failed"_s, std::nullopt,
                         u"解释:NO_SPEECH"_s, u"NO_SPEECH"_s);
    failed.uploadAttempts = 3;
    failed.dismissed = true;
    failed.serverGone = true;
    failed.pendingDeviceDelete = true;
    EXPECT_EQ(items[1], failed);

    RecordingItem local(u"d-local"_s, 2, std::nullopt, 700); // 125 packets = 2.5 s -> 2
    local.lastError = u"落盘失败：x"_s;
    EXPECT_EQ(items[0], local);
}

TEST(ProgressThrottle, AdmitsChangedPercentagesAtMostEvery400ms)
{
    using namespace std::chrono_literals;
    ProgressThrottle::TimePoint now{};
    ProgressThrottle t([&] { return now; });
    const struct {
        std::chrono::milliseconds advance;
        int pct;
        std::optional<int> want;
    } steps[] = {
        {0ms, 5, 5},   {50ms, 5, std::nullopt},  {50ms, 6, std::nullopt},
        {300ms, 6, 6}, {500ms, 6, std::nullopt}, {0ms, 7, 7},
    };
    for (const auto& s : steps) {
        now += s.advance;
        EXPECT_EQ(t.admit(s.pct), s.want) << s.pct;
    }
}
