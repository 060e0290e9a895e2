#include "device/DeviceText.h"

#include "sync/DeviceInfo.h"
#include "sync/RecordingItem.h"
#include "sync/SyncPhase.h"
#include "tray/TrayTexts.h"

#include <gtest/gtest.h>

namespace {

const QDateTime now = QDateTime::fromString(QStringLiteral("2024-03-15T14:00:00"), Qt::ISODate);

DeviceInfo seenAgo(std::optional<qint64> seconds, bool connected = false)
{
    DeviceInfo d;
    d.connected = connected;
    if (seconds) {
        d.lastSeenAt = now.addSecs(-*seconds);
    }
    return d;
}

TEST(DeviceText, ConnectionLine)
{
    struct Case {
        DeviceInfo device;
        SyncPhase phase;
        const char* line;
    };
    const Case cases[] = {
        {seenAgo(0, true), SyncPhase::downloading(QStringLiteral("a.opus"), 42),
         "正在同步 42%——录音笔每传十几秒会断开一次再自动连上，这是它的正常节奏"},
        {seenAgo(0, true), SyncPhase::listing(), "正在读取录音笔"},
        {seenAgo(0, true), SyncPhase::connecting(), "正在读取录音笔"},
        {seenAgo(0, true), SyncPhase::cleaning(), "正在清理录音笔"},
        {seenAgo(600, true), SyncPhase::idle(), "已连接"},
        {seenAgo(45), SyncPhase::idle(),
         "在旁边——没有新录音时连上看一眼就会断开，有新录音会自动搬回来"},
        {seenAgo(50), SyncPhase::idle(),
         "没在广播（刚才还在）——录音笔空闲几分钟会休眠，按一下按键就会醒"},
        {seenAgo(5 * 60 + 10), SyncPhase::idle(),
         "没在广播（5 分钟前还在）——录音笔空闲几分钟会休眠，按一下按键就会醒"},
        {seenAgo(2 * 3600), SyncPhase::waitingForDevice(),
         "没在广播（12:00 时还在）——录音笔空闲几分钟会休眠，按一下按键就会醒"},
        {seenAgo(std::nullopt), SyncPhase::idle(),
         "还没找到录音笔——开机后它会自动广播，这里就会亮"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DeviceText::connectionLine(c.device, c.phase, now), QString::fromUtf8(c.line));
    }
}

TEST(DeviceText, ReadingsAge)
{
    struct Case {
        std::optional<qint64> ago;
        SyncPhase phase;
        const char* line;
    };
    const Case cases[] = {
        {std::nullopt, SyncPhase::idle(), "电量、容量、固件读于 还没读过"},
        {30, SyncPhase::listing(), "电量、容量、固件读于 正在读"},
        {30, SyncPhase::cleaning(), "电量、容量、固件读于 正在读"},
        {89, SyncPhase::idle(), "电量、容量、固件读于 刚读的"},
        {90, SyncPhase::idle(), "电量、容量、固件读于 1 分钟前读的"},
        {3599, SyncPhase::idle(), "电量、容量、固件读于 59 分钟前读的"},
        {3600, SyncPhase::idle(), "电量、容量、固件读于 1 小时前读的"},
        {3 * 3600 + 59 * 60, SyncPhase::failed(QStringLiteral("x")),
         "电量、容量、固件读于 3 小时前读的"},
        {30, SyncPhase::downloading(QStringLiteral("a"), 3), "同步中，稍后读"},
    };
    for (const Case& c : cases) {
        const std::optional<QDateTime> at =
            c.ago ? std::optional(now.addSecs(-*c.ago)) : std::nullopt;
        EXPECT_EQ(DeviceText::readingsAge(at, c.phase, now), QString::fromUtf8(c.line));
    }
}

TEST(DeviceText, ReadingsCellsAndFileSizes)
{
    DeviceInfo d;
    EXPECT_EQ(DeviceText::battery(d), QStringLiteral("—"));
    EXPECT_EQ(DeviceText::capacity(d), QStringLiteral("—"));
    EXPECT_EQ(DeviceText::firmware(d), QStringLiteral("—"));
    d.battery = 87;
    d.capacityRemain = 400;
    d.capacityTotal = 1000;
    d.firmware = QStringLiteral("V1.2.3");
    EXPECT_EQ(DeviceText::battery(d), QStringLiteral("87%"));
    EXPECT_EQ(DeviceText::capacity(d), QStringLiteral("剩 40%"));
    EXPECT_EQ(DeviceText::firmware(d), QStringLiteral("V1.2.3"));
    d.battery = 110;
    EXPECT_EQ(DeviceText::battery(d), QStringLiteral("充电中"));

    EXPECT_EQ(DeviceText::fileSize(RecordingItem(QStringLiteral("a"), 600, 3'200'000)),
              QStringLiteral("3.2 MB"));
    EXPECT_EQ(DeviceText::fileSize(RecordingItem(QStringLiteral("a"), 0, 0)),
              QStringLiteral("空文件"));
    EXPECT_EQ(DeviceText::fileSize(RecordingItem(QStringLiteral("a"), 0, 120)),
              QStringLiteral("空录音"));
}

// The tray's device line and the device page's cell read the battery by one rule.
TEST(DeviceText, TrayAndDevicePageReadTheBatteryAlike)
{
    struct Case {
        std::optional<uint8_t> battery;
        const char* cell;
        const char* trayLine;
    };
    const Case cases[] = {
        {std::nullopt, "—", "设备：QX27　"},
        {87, "87%", "设备：QX27　电量 87%"},
        {110, "充电中", "设备：QX27　电量 充电中"},
    };
    for (const Case& c : cases) {
        DeviceInfo d;
        d.name = QStringLiteral("QX27");
        d.connected = true;
        d.battery = c.battery;
        EXPECT_EQ(DeviceText::battery(d), QString::fromUtf8(c.cell));
        EXPECT_EQ(TrayTexts::device(d), QString::fromUtf8(c.trayLine));
    }
}

} // namespace
