#include "cloud/TokenStore.h"

#include "cloud/DeviceBinding.h"
#include "cloud/Mindvault.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using namespace Qt::Literals::StringLiterals;

namespace {

struct TokenStoreTest : ::testing::Test {
    QTemporaryDir dir;
    TokenStore store{dir.path() + u"/Mindvault"_s};
};

} // namespace

TEST_F(TokenStoreTest, KeysSelectFieldsAndEveryChangeKeepsTheOthers)
{
    EXPECT_FALSE(store.get(u"refresh_token"_s));
    EXPECT_TRUE(store.set(u"rt-1"_s, u"refresh_token"_s)); // creates the folder too
    EXPECT_TRUE(store.set(u"me@example.com"_s, u"email"_s));
    EXPECT_TRUE(store.set(u"org-1"_s, u"org_id"_s));

    EXPECT_EQ(store.get(u"email"_s), u"me@example.com"_s);
    EXPECT_EQ(store.get(u"org_id"_s), u"org-1"_s);
    // Any other key means the refresh token.
    EXPECT_EQ(store.get(u"refresh_token"_s), u"rt-1"_s);
    EXPECT_EQ(store.get(u"anything"_s), u"rt-1"_s);
    EXPECT_EQ(store.read(), (TokenStore::Blob{u"rt-1"_s, u"me@example.com"_s, u"org-1"_s}));

    store.clear();
    EXPECT_EQ(store.read(), TokenStore::Blob{});
    store.clear(); // nothing to delete: ignored
}

TEST_F(TokenStoreTest, EmailOnlyOrCorruptFileReadsAsSignedOut)
{
    TestSupport::writeFile(store.path(), R"({"email":"me@example.com"})");
    EXPECT_EQ(Mindvault::signedInEmail(store), u"me@example.com"_s);
    EXPECT_FALSE(Mindvault::hasCredentials(store));
    EXPECT_EQ(TestSupport::run(Mindvault::checkSession(MindvaultConfig{}, store)),
              Mindvault::AuthState::none);

    TestSupport::writeFile(store.path(), "{not json");
    EXPECT_FALSE(Mindvault::signedInEmail(store));
    EXPECT_TRUE(store.set(u"org-9"_s, u"org_id"_s));
    EXPECT_EQ(store.read(), (TokenStore::Blob{std::nullopt, std::nullopt, u"org-9"_s}));
}

// The refresh token must never sit in a file others can read, not even while it is written.
// With umask 0 a file created with default permissions would be world-readable.
TEST_F(TokenStoreTest, CredentialFileIsPrivateAtEveryMoment)
{
    const mode_t oldMask = ::umask(0);
    ASSERT_TRUE(store.set(u"rt-0"_s, u"refresh_token"_s));
    const std::string folder = store.folder().toStdString();

    std::atomic<bool> done{false};
    std::atomic<int> exposed{0};
    std::atomic<long> looks{0};
    std::thread watcher([&] {
        while (!done) {
            std::error_code ec;
            for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
                struct stat st {};
                if (::stat(entry.path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                    ++looks;
                    if ((st.st_mode & 0077) != 0)
                        ++exposed;
                }
            }
        }
    });
    for (int i = 0; i < 300; ++i) {
        store.clear(); // each write creates the file anew, as the first sign-in does
        store.set(u"rt-secret-"_s + QString::number(i), u"refresh_token"_s);
    }
    done = true;
    watcher.join();
    ::umask(oldMask);

    EXPECT_GT(looks.load(), 0);
    EXPECT_EQ(exposed.load(), 0);
    struct stat st {};
    ASSERT_EQ(::stat(store.path().toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(store.get(u"refresh_token"_s), u"rt-secret-299"_s);
    // No temporary files are left behind.
    EXPECT_EQ(QDir(store.folder()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(TokenStoreTest, SecretsLiveOwnerOnlyInAnOwnerOnlyFolder)
{
    const mode_t oldMask = ::umask(0); // whatever the user's mask, nobody else may look
    ASSERT_TRUE(store.set(u"rt-1"_s, u"refresh_token"_s));
    DeviceBinding(store.folder()).bind(u"C0:11:22:33:44:55"_s, u"org"_s, u"a@b.c"_s, u"n1"_s);
    ::umask(oldMask);

    const QString binding = store.folder() + u"/device-bindings.json"_s;
    ASSERT_TRUE(QFile::exists(binding));
    for (const auto& [path, mode] : {std::pair{store.folder(), 0700u},
                                     std::pair{store.path(), 0600u}, std::pair{binding, 0600u}}) {
        struct stat st {};
        ASSERT_EQ(::stat(path.toLocal8Bit().constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, mode) << path.toStdString();
    }
}
