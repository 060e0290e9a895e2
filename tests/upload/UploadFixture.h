#pragma once

#include "EngineHarness.h"
#include "MindvaultDevServer.h"
#include "cloud/UploadQueue.h"
#include "support/TestSupport.h"

#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

// An engine (against a virtual pen) with an upload queue installed, talking to the stand-in
// service on loopback under a signed-in account. The loop periods are cut to milliseconds; the
// engine's clock is real until a test freezes it.
class UploadFixture : public ::testing::Test {
protected:
    UploadFixture();
    ~UploadFixture() override;

    static UploadTiming fastTiming();

    SyncEngine& engine() { return h.engine(); }
    // Signs the account in through a client of its own (as the sign-in page does).
    void signIn();
    // Keeps every recording above the length threshold (0) or sets one.
    void setThreshold(int seconds);
    // An archived recording made without the pen: raw packets of the given length and an Ogg
    // file (small: only the raw file's length matters to the queue).
    void addRecording(const QString& base, double seconds);

    int flush(bool force = false) { return TestSupport::run(queue->flushUploadQueue(force)); }
    const PendingUpload* entry(const QString& base);
    std::optional<std::string> sessionFor(const std::string& clientRequestId) const
    {
        return server.sessionIdFor(clientRequestId);
    }

    EngineHarness h;
    QTemporaryDir credentials;
    TokenStore store;
    MindvaultDevServer server;
    QNetworkAccessManager nam;
    std::unique_ptr<UploadQueue> queue;
};
