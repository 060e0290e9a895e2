#include "PenBackend.h"

#include "QtBluetoothCentral.h"
#include "VirtualPen.h"

using namespace Qt::Literals::StringLiterals;

namespace PenBackend {

namespace {

Opened openBluetooth()
{
    // Qt picks its BlueZ backend by asking bluetoothd for its version; where that probe fails
    // (sandboxes, another command name) it silently falls back to kernel sockets that cannot
    // work here. Any BlueZ we can talk to over D-Bus is new enough.
    if (qEnvironmentVariableIsEmpty("BLUETOOTH_FORCE_DBUS_LE_VERSION"))
        qputenv("BLUETOOTH_FORCE_DBUS_LE_VERSION", "5.66");
    auto central = std::make_unique<QtBluetoothCentral>();
    Opened result;
    const QString adapter = central->adapterDescription();
    // What is wrong with the radio, and what to do, the engine logs itself.
    result.description = u"蓝牙后端：BlueZ（系统总线），"_s +
                         (adapter.isEmpty() ? u"没有找到适配器"_s : u"适配器 "_s + adapter);
    result.central = std::move(central);
    return result;
}

} // namespace

Opened open(const std::optional<QString>& virtualPenScenario)
{
    if (!virtualPenScenario)
        return openBluetooth();
    Opened result;
    try {
        result.central = VirtualPen::fromFile(*virtualPenScenario);
        result.description = u"蓝牙后端：虚拟录音笔（"_s + *virtualPenScenario + u"）"_s;
    } catch (const std::exception& e) {
        result.error = u"虚拟录音笔场景读不了："_s + *virtualPenScenario + u"（"_s +
                       QString::fromUtf8(e.what()) + u"）"_s;
    }
    return result;
}

} // namespace PenBackend
