#pragma once

#include "cloud/TokenStore.h"
#include "platform/LoginItem.h"

#include <QCoreApplication>
#include <functional>

class DeviceBinder;
class ManifestEdits;
class PenDeletions;
class SyncEngine;
class UploadQueue;

// The engine and the pieces attached to it that the application's actions reach. The caller
// (main's assembly) owns all of them and keeps them alive while the application runs.
struct AppServices {
    SyncEngine& engine;
    // The application always has one, even while the archive names no service (it then tells
    // the user why recordings stay local); only tests that need no service leave it nullptr.
    UploadQueue* uploadQueue;
    PenDeletions& penDeletions;
    ManifestEdits& manifestEdits;
    DeviceBinder& deviceBinder;
    TokenStore store;
    LoginItem loginItem;
    // Asks the desktop's notification service once, at wiring.
    std::function<void()> requestNotifications = [] {
    };
    // Ends the application (the menus' 退出, Ctrl+Q). The application's own lets a round in
    // flight end cleanly first.
    std::function<void()> quit = [] {
        QCoreApplication::quit();
    };
};
