#pragma once

#include "cloud/DeviceBindOutcome.h"
#include "cloud/DeviceBinding.h"
#include "cloud/TokenStore.h"
#include "cloud/VaultProvider.h"
#include "device/Discovered.h"

#include <QCoro/QCoroTask>
#include <QPointer>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>

class EngineContext;

// How a DeviceBinder is built besides its engine, client and credential store.
struct DeviceBinderOptions {
    // The computer's name in default device numbers; empty: the host name.
    QString computerName;
    // Draws the suffix (100...999) of an alternate number; empty: a uniform random draw.
    std::function<int()> randomSuffix;
    // For a station nobody watches: a pen bound to another organisation is rebound to the
    // signed-in account at once, under its old number, and the round goes on; only when
    // that fails is the round stopped with the question, as without this.
    bool acceptRebind = false;
};

// Keeps each pen bound to the signed-in organisation: registers an unbound pen on first sight,
// lets a pen of the same organisation through (whichever account of it), and stops the round
// for a pen bound to another organisation until the user confirms a rebind or dismisses the
// question. Registration trouble never stops a round; it is retried on the next sighting.
//
// Installed, it is the engine's binding hook until it is destroyed (which clears the hook).
//
// The mismatch notification goes out once per pen while the question stands; the mismatch is
// still logged and the round still stopped at every sighting. Confirming or dismissing the
// question re-arms the notification for that pen.
class DeviceBinder {
public:
    // The pen family's provider code sent with every registration.
    static constexpr const char* provider = "qx27";

    using Options = DeviceBinderOptions;

    struct RenameResult {
        bool ok = false;
        QString why; // empty when ok
    };

    // store: the credential; the binding file lives in the same folder.
    DeviceBinder(EngineContext& engine, VaultProvider vault, TokenStore store = TokenStore(),
                 Options options = {});
    ~DeviceBinder();
    DeviceBinder(const DeviceBinder&) = delete;
    DeviceBinder& operator=(const DeviceBinder&) = delete;

    // Puts ensureDeviceBinding into the engine's hook.
    void install();

    // True lets the round continue; false stops it (the mismatch is then pending).
    QCoro::Task<bool> ensureDeviceBinding(Discovered discovered);
    // The user confirmed that the pending pen continues with the signed-in account, under
    // newDeviceName or, without one, its old number.
    QCoro::Task<bool> resolveBindMismatch(std::optional<QString> newDeviceName = std::nullopt);
    // Re-registers the connected pen under a new number.
    QCoro::Task<RenameResult> renameDevice(QString to);
    // Drops the question; the binding stays, so the next sighting asks again.
    void dismissBindMismatch();

    // First six characters of the peripheral id without '-' and ':', "-", the computer's name.
    QString defaultDeviceNo(const QString& peripheralId) const;
    const DeviceBinding& bindings() const { return m_bindings; }

private:
    QCoro::Task<Mindvault*> vault();
    QString alternateDeviceNo(const QString& taken);
    // Puts the number the pen is bound under into the published device, when it is that pen.
    void showBinding(const QString& peripheralId, const std::optional<QString>& deviceNo);
    void log(const QString& line);
    // Whether the engine still exists after a suspension.
    bool alive() const { return !m_guard.isNull(); }

    EngineContext& m_engine;
    QPointer<QObject> m_guard;
    VaultProvider m_vault;
    TokenStore m_store;
    DeviceBinding m_bindings;
    QString m_computerName;
    std::function<int()> m_randomSuffix;
    bool m_acceptRebind = false;
    QSet<QString> m_notified; // pens whose mismatch notification went out
};
