#include "device/BindMismatchCard.h"

#include "support/TestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const BindMismatch mismatch{u"C0:11:22:33:44:55"_s, u"会议室笔"_s, u"old@example.com"_s,
                            u"new@example.com"_s};

TEST(BindMismatchCard, RejectedNameKeepsTheCardOpenWithItsErrorAndCancelDismisses)
{
    QStringList asked;
    bool answer = false;
    int cancelled = 0;
    BindMismatchCard card(
        mismatch,
        [&](QString name) -> QCoro::Task<bool> {
            asked << name;
            co_return answer;
        },
        [&] { ++cancelled; });
    card.show();

    EXPECT_EQ(card.findChild<QLabel*>(u"title"_s)->text(), u"「会议室笔」绑定过别的账号"_s);
    EXPECT_EQ(card.findChild<QLabel*>(u"text"_s)->text(),
              u"这支笔上次同步到「old@example.com」，现在登录的是「new@example.com」。"
              u"同步已经拦下——继续会把接下来的内容放进后者，不会动前面已经同步过的内容。"_s);
    auto* name = card.findChild<QLineEdit*>(u"name"_s);
    auto* confirm = card.findChild<QPushButton*>(u"confirm"_s);
    auto* error = card.findChild<QLabel*>(u"error"_s);
    EXPECT_EQ(name->placeholderText(), u"给这支笔起个新名字"_s);
    EXPECT_EQ(confirm->text(), u"继续"_s);

    name->setText(u"我的笔 "_s);
    QTest::mouseClick(confirm, Qt::LeftButton);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return error->isVisible(); }));
    EXPECT_EQ(asked, QStringList{u"我的笔"_s});
    EXPECT_EQ(error->text(), u"「我的笔」这个名字已经被绑过了，换一个"_s);
    EXPECT_TRUE(confirm->isEnabled());
    EXPECT_EQ(confirm->text(), u"继续"_s);
    EXPECT_TRUE(card.isVisible());

    QTest::mouseClick(card.findChild<QPushButton*>(u"cancel"_s), Qt::LeftButton);
    EXPECT_EQ(cancelled, 1);
}

TEST(BindMismatchCard, UnnamedPenAsksForAFirstName)
{
    BindMismatchCard card(
        BindMismatch{u"id"_s, u""_s, u"a@x"_s, u"b@x"_s},
        [](QString) -> QCoro::Task<bool> { co_return true; }, [] {});
    EXPECT_EQ(card.findChild<QLineEdit*>(u"name"_s)->placeholderText(),
              u"给这支笔起个名字，比如「我的录音笔」"_s);
    EXPECT_EQ(card.findChild<QPushButton*>(u"confirm"_s)->text(), u"确认"_s);
}

} // namespace
