#include "library/RecordingListView.h"

#include "library/RecordingFilter.h"
#include "library/RecordingListModel.h"
#include "library/WaveformBar.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

TEST(RecordingListView, CountersFilterAndSelectionFollowTheUser)
{
    RecordingListModel model;
    RecordingListView view(model);
    view.resize(360, 500);
    view.show();
    auto* failed = view.findChild<QToolButton*>(u"failedCounter"_s);
    auto* speakers = view.findChild<QToolButton*>(u"speakersCounter"_s);
    auto* scope = view.findChild<QComboBox*>(u"scope"_s);

    QList<RecordingItem> items{
        RecordingItem(u"20240301-090000"_s, 60, 960, 960),
        RecordingItem(u"20240302-090000"_s, 60, 960, 960, u"s"_s, u"failed"_s)};
    model.setItems(items);
    EXPECT_TRUE(failed->isVisible());
    EXPECT_EQ(failed->text(), u"失败 1"_s);
    EXPECT_FALSE(speakers->isVisible());

    // A counter shows only what needs attention.
    QTest::mouseClick(failed, Qt::LeftButton);
    EXPECT_EQ(scope->currentText(), u"需要处理"_s);
    EXPECT_EQ(view.filter().rowCount(), 1);

    // Selecting a hidden recording brings it back into view.
    QSignalSpy selected(&view, &RecordingListView::selectionChanged);
    view.search()->setText(u"nothing"_s);
    view.select(u"20240301-090000"_s);
    EXPECT_EQ(view.selected(), u"20240301-090000"_s);
    EXPECT_TRUE(view.search()->text().isEmpty());
    EXPECT_EQ(scope->currentIndex(), 0);
    ASSERT_FALSE(selected.isEmpty());

    // Keyboard: Down in the list moves the selection.
    view.list()->setFocus();
    QTest::keyClick(view.list(), Qt::Key_Down);
    EXPECT_EQ(view.selected(), u"20240302-090000"_s);
}

TEST(WaveformBar, ClicksAndKeysSeek)
{
    WaveformBar bar;
    bar.resize(200, 40);
    bar.setBars(std::vector<float>(160, 0.5f));
    bar.setStep(0.1);
    bar.show();
    QSignalSpy seek(&bar, &WaveformBar::seekRequested);
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(50, 20));
    ASSERT_EQ(seek.size(), 1);
    EXPECT_NEAR(seek[0][0].toDouble(), 0.25, 0.01);
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_NEAR(bar.progress(), 0.35, 0.01);
    QTest::keyClick(&bar, Qt::Key_End);
    EXPECT_DOUBLE_EQ(bar.progress(), 1.0);
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_DOUBLE_EQ(bar.progress(), 1.0);
    QTest::keyClick(&bar, Qt::Key_Home);
    EXPECT_DOUBLE_EQ(bar.progress(), 0.0);
}

} // namespace
