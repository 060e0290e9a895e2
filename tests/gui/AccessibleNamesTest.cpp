// What a screen reader says: names that follow a control's words, and names for the symbols
// that carry a state on their own.

#include "AppModel.h"
#include "GuiHarness.h"
#include "design/DSButton.h"
#include "device/DevicePage.h"
#include "support/TestSupport.h"
#include "sync/SyncEngine.h"
#include "widgets/ChainView.h"

#include <QAccessible>
#include <QLabel>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QString spoken(QObject* object)
{
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(object);
    return a ? a->text(QAccessible::Name) : QString();
}

QStringList symbolNames(QWidget& parent)
{
    QStringList names;
    for (QLabel* label : parent.findChildren<QLabel*>()) {
        if (!label->pixmap().isNull())
            names << spoken(label);
    }
    return names;
}

TEST(AccessibleNames, ButtonsSayTheirCurrentWords)
{
    DSButton button(u"打开Mindvault"_s, DSButton::Style::secondary);
    EXPECT_EQ(spoken(&button), u"打开Mindvault"_s);
    button.setText(u"在Mindvault打开"_s);
    EXPECT_EQ(spoken(&button), u"在Mindvault打开"_s);
}

TEST(AccessibleNames, StatusSymbolsAreNamed)
{
    ChainStatus s;
    s.device = LinkState::done;
    s.disk = LinkState::active;
    s.vault = LinkState::failed;
    s.transcript = LinkState::skipped;
    ChainView verbose(s, true);
    EXPECT_EQ(symbolNames(verbose),
              (QStringList{u"设备：完成"_s, u"本地：进行中"_s, u"Mindvault：失败"_s,
                           u"转写：跳过"_s, u"分析：等待"_s}));
    ChainView compact(s, false);
    EXPECT_TRUE(symbolNames(compact).contains(u"失败"_s))
        << symbolNames(compact).join(u'|').toStdString();

    GuiHarness h;
    const QDateTime now = QDateTime::currentDateTime();
    DevicePage page(h.model(), [now] { return now; });
    auto* link = page.findChild<QLabel*>(u"reachability"_s);
    EXPECT_EQ(spoken(link), u"录音笔不在附近"_s);
    DeviceInfo d;
    d.connected = true;
    d.lastSeenAt = now;
    h.engine().setDevice(d);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return h.model().device().connected; }));
    EXPECT_EQ(spoken(link), u"录音笔在附近"_s);
}

} // namespace
