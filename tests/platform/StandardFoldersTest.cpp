#include "platform/StandardFolders.h"

#include <gtest/gtest.h>

TEST(StandardFolders, ServiceDataFollowsXdgDataHome)
{
    const QByteArray old = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", "/tmp/kestrel-xdg-test");
    EXPECT_EQ(StandardFolders::serviceData(), QStringLiteral("/tmp/kestrel-xdg-test/Mindvault"));
    if (old.isEmpty()) {
        qunsetenv("XDG_DATA_HOME");
    } else {
        qputenv("XDG_DATA_HOME", old);
    }
}
