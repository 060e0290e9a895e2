#include "audit/ArchiveAuditPanel.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

ArchiveAudit::Item item(const QString& base, ArchiveAudit::Status status, const QString& detail)
{
    ArchiveAudit::Item i;
    i.base = base;
    i.status = status;
    i.detail = detail;
    return i;
}

TEST(ArchiveAuditPanel, ShowsOneRowPerRecordingAndTheUnlistedRawFiles)
{
    ArchiveAuditPanel panel;
    panel.show();
    auto* summary = panel.findChild<QLabel*>(u"summary"_s);
    auto* rows = panel.findChild<QTreeWidget*>(u"rows"_s);
    auto* unlisted = panel.findChild<QLabel*>(u"unlisted"_s);
    EXPECT_EQ(summary->text(), u"还没体检过"_s);
    EXPECT_FALSE(rows->isVisible());

    ArchiveAudit::Report report;
    report.items = {item(u"20240301-090000"_s, ArchiveAudit::Status::ok, u"两份留档都在"_s),
                    item(u"20240302-090000"_s, ArchiveAudit::Status::notDownloaded,
                         u"裸包还在云端没下载到本机，下载下来就好，不是丢了"_s)};
    report.unlistedRawPackets = {u"20231201-080000"_s, u"stray"_s};
    panel.setReport(report);
    EXPECT_EQ(summary->text(), report.summary());
    ASSERT_EQ(rows->topLevelItemCount(), 2);
    const QTreeWidgetItem* warn = rows->topLevelItem(1);
    EXPECT_EQ(warn->text(0), u"未下载"_s);
    EXPECT_EQ(warn->text(1), u"20240302-090000"_s);
    EXPECT_EQ(warn->text(2), report.items[1].detail);
    EXPECT_EQ(warn->foreground(0).color(), QColor(217, 119, 6));
    EXPECT_EQ(rows->topLevelItem(0)->foreground(0).color(), QColor(22, 163, 74));
    EXPECT_TRUE(unlisted->isVisible());
    EXPECT_EQ(unlisted->text(), u"另有 2 条裸包在磁盘上但清单没记账：20231201-080000、stray"_s);

    // A new report replaces the rows.
    report.items.removeLast();
    report.unlistedRawPackets.clear();
    panel.setReport(report);
    EXPECT_EQ(rows->topLevelItemCount(), 1);
    EXPECT_FALSE(unlisted->isVisible());

    QSignalSpy rerun(&panel, &ArchiveAuditPanel::rerunRequested);
    QSignalSpy close(&panel, &ArchiveAuditPanel::closeRequested);
    QTest::mouseClick(panel.findChild<QPushButton*>(u"rerun"_s), Qt::LeftButton);
    QTest::mouseClick(panel.findChild<QPushButton*>(u"close"_s), Qt::LeftButton);
    EXPECT_EQ(rerun.size(), 1);
    EXPECT_EQ(close.size(), 1);
}

} // namespace
