#include "platform/Notify.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(Notify, WithoutTheServiceTheFallbackGetsTheTextsVerbatim)
{
    // A bus that is not connected stands for a desktop without the notification service.
    QList<std::pair<QString, QStringList>> launched;
    Notify notify(QDBusConnection(u"kestrel-test-no-bus"_s),
                  [&](const QString& program, const QStringList& args) {
                      launched.append({program, args});
                      return true;
                  });
    notify.request();
    const QString body = u"同步结束：导入 1 条，\"引号\" $(rm -rf ~) `x`"_s;
    notify.send(body, u"-Mindvault"_s);
    ASSERT_EQ(launched.size(), 1);
    EXPECT_EQ(launched[0].first, u"notify-send"_s);
    EXPECT_EQ(launched[0].second,
              (QStringList{u"--app-name=Kestrel"_s, u"--"_s, u"-Mindvault"_s, body}));
}
