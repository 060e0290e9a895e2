#pragma once

#include "MindvaultDevServer.h"
#include "cloud/Mindvault.h"
#include "cloud/MindvaultError.h"
#include "support/TestSupport.h"

#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

// A stand-in service on loopback, a private credential folder and a client for it.
class VaultFixture : public ::testing::Test {
protected:
    static inline const QString email = QStringLiteral("pen@example.com");
    static inline const QString password = QStringLiteral("s3cret-pw");

    VaultFixture();
    ~VaultFixture() override;

    static MindvaultDevServer::Options serverOptions();
    MindvaultConfig config() const;
    std::unique_ptr<Mindvault> makeClient(std::optional<MindvaultConfig> config = std::nullopt);
    // The fixture's client, signed in.
    Mindvault& signedIn();

    // Runs the task and returns the MindvaultError it threw (fails the test when none).
    template <typename T> MindvaultError errorOf(QCoro::Task<T>&& task)
    {
        try {
            TestSupport::run(std::move(task));
        } catch (const MindvaultError& e) {
            return e;
        }
        ADD_FAILURE() << "no MindvaultError was thrown";
        return MindvaultError::badResponse(QStringLiteral("<none>"));
    }

    QTemporaryDir dir;
    TokenStore store;
    MindvaultDevServer server;
    QNetworkAccessManager nam;
    std::unique_ptr<Mindvault> vault;
};
