#include "format/Fmt.h"

#include <gtest/gtest.h>

namespace {

QDateTime at(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

TEST(Fmt, Duration)
{
    const std::pair<double, const char*> cases[] = {
        {0, "—"},       {0.9, "—"},      {-5, "—"},         {1, "0:01"},       {59, "0:59"},
        {61.7, "1:01"}, {3599, "59:59"}, {3600, "1:00:00"}, {3661, "1:01:01"}, {36000, "10:00:00"},
    };
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(Fmt::duration(seconds), QString::fromUtf8(text)) << seconds;
    }
}

TEST(Fmt, TimeSaysTodayYesterdayOrTheDate)
{
    const QDateTime now = at("2024-03-15 10:00:00");
    EXPECT_EQ(Fmt::time(std::nullopt, now), QStringLiteral("从未"));
    EXPECT_EQ(Fmt::time(now.addSecs(-600), now), QStringLiteral("今天 09:50"));
    EXPECT_EQ(Fmt::time(at("2024-03-15 00:00:00"), now), QStringLiteral("今天 00:00"));
    EXPECT_EQ(Fmt::time(at("2024-03-14 23:59:00"), now), QStringLiteral("昨天 23:59"));
    EXPECT_EQ(Fmt::time(at("2024-03-13 08:05:00"), now), QStringLiteral("3月13日 08:05"));
    EXPECT_EQ(Fmt::time(at("2023-12-01 18:30:00"), now), QStringLiteral("12月1日 18:30"));
}

TEST(Fmt, VaultStatusWords)
{
    const std::pair<std::optional<QString>, const char*> cases[] = {
        {std::nullopt, "未推送"},
        {QStringLiteral("ready"), "已就绪"},
        {QStringLiteral("failed"), "失败"},
        {QStringLiteral("finalizing"), "收尾中"},
        {QStringLiteral("processing"), "分析中"},
        {QStringLiteral("uploading"), "上传中"},
        {QStringLiteral("recording"), "录制中"},
        {QStringLiteral("queued_v2"), "queued_v2"},
    };
    for (const auto& [status, text] : cases) {
        EXPECT_EQ(Fmt::vaultStatus(status), QString::fromUtf8(text));
    }
}

TEST(Fmt, TitlesFromTheStampInTheBaseName)
{
    EXPECT_EQ(Fmt::recordedAt(QStringLiteral("REC_20240315-093005_a")), at("2024-03-15 09:30:05"));
    EXPECT_EQ(Fmt::recordedAt(QStringLiteral("20241399-093005")), std::nullopt); // no such day
    EXPECT_EQ(Fmt::recordedAt(QStringLiteral("memo")), std::nullopt);

    EXPECT_EQ(Fmt::title(QStringLiteral("20240315-093005")), QStringLiteral("3月15日 09:30:05"));
    EXPECT_EQ(Fmt::title(QStringLiteral("memo-7")), QStringLiteral("memo-7"));

    EXPECT_EQ(Fmt::dateTitle(QStringLiteral("会议 20240305-090700 纪要")),
              QStringLiteral("会议 3月5日 09:07 纪要"));
    EXPECT_EQ(Fmt::dateTitle(QStringLiteral("周会纪要")), QStringLiteral("周会纪要"));
}

} // namespace
