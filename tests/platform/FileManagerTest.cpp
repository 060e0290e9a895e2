#include "platform/FileManager.h"

#include <QDBusError>
#include <gtest/gtest.h>

namespace {

// Only a file browser that is not there makes the caller open the folder: one that is merely
// slow may still show the file, and a second window would follow.
TEST(FileManager, OnlyAMissingFileBrowserFallsBackToTheFolder)
{
    using S = FileManager::Shown;
    const std::pair<QDBusError::ErrorType, S> cases[] = {
        {QDBusError::NoError, S::yes},
        {QDBusError::ServiceUnknown, S::noFileBrowser},
        {QDBusError::UnknownMethod, S::noFileBrowser},
        {QDBusError::Disconnected, S::noFileBrowser},
        {QDBusError::NoReply, S::noAnswer},
        {QDBusError::Timeout, S::noAnswer},
        {QDBusError::TimedOut, S::noAnswer},
    };
    for (const auto& [type, shown] : cases) {
        const QDBusError error =
            type == QDBusError::NoError ? QDBusError() : QDBusError(type, QStringLiteral("test"));
        EXPECT_EQ(FileManager::outcome(error), shown) << int(type);
    }
}

} // namespace
