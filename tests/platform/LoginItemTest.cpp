// The XDG autostart entry: written, read back, removed; and the Exec line's quoting.

#include "platform/LoginItem.h"

#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(LoginItem, RoundTrip)
{
    QTemporaryDir dir;
    const LoginItem item(dir.path() + u"/autostart"_s, {u"/opt/录音 笔/kestrel"_s});
    EXPECT_FALSE(item.enabled());
    EXPECT_EQ(item.statusText(), u"未开启"_s);

    EXPECT_EQ(item.set(true), std::nullopt);
    EXPECT_TRUE(item.enabled());
    EXPECT_EQ(item.statusText(), u"已开启"_s);
    const QString entry = QString::fromUtf8(TestSupport::readFile(item.path()));
    EXPECT_TRUE(entry.startsWith(u"[Desktop Entry]\n"_s));
    EXPECT_TRUE(entry.contains(u"\nType=Application\n"_s));
    EXPECT_TRUE(entry.contains(u"\nExec=\"/opt/录音 笔/kestrel\"\n"_s)) << entry.toStdString();

    // The desktop's own switch in the entry counts.
    TestSupport::writeFile(item.path(), TestSupport::readFile(item.path()) + "Hidden=true\n");
    EXPECT_FALSE(item.enabled());

    EXPECT_EQ(item.set(false), std::nullopt);
    EXPECT_FALSE(item.enabled());
    EXPECT_EQ(item.set(false), std::nullopt); // already off
}

TEST(LoginItem, RefusalSaysWhy)
{
    QTemporaryDir dir;
    TestSupport::writeFile(dir.path() + u"/autostart"_s, "a file, not a folder");
    const LoginItem item(dir.path() + u"/autostart"_s, {u"/usr/bin/kestrel"_s});
    const std::optional<QString> error = item.set(true);
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->startsWith(u"系统拒绝了："_s)) << error->toStdString();
    EXPECT_FALSE(item.enabled());
}

TEST(LoginItem, ExecLineQuotesWhatTheFormatReserves)
{
    const std::vector<std::pair<QStringList, QString>> cases{
        {{u"/usr/bin/kestrel"_s}, u"/usr/bin/kestrel"_s},
        {{u"/a b/kestrel"_s, u"--archive-root"_s, u"/x"_s},
         u"\"/a b/kestrel\" --archive-root /x"_s},
        {{u"/a$b"_s}, u"\"/a\\\\$b\""_s},
        {{u"/a\"b"_s}, u"\"/a\\\\\"b\""_s},
        {{u"/a\\b"_s}, u"\"/a\\\\\\\\b\""_s},
    };
    for (const auto& [command, line] : cases)
        EXPECT_EQ(LoginItem::execLine(command), line) << command.join(u' ').toStdString();
}
