// virtual-pen-bluez: a mock BlueZ on the system bus (DBUS_SYSTEM_BUS_ADDRESS) that plays the
// virtual pen of a scenario file, so the real Bluetooth path of the importer can be run and
// measured end to end without a radio.

#include "BluezObjectTree.h"
#include "PenBluez.h"
#include "VirtualPen.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(u"A mock BlueZ that plays the virtual pen of a scenario."_s);
    parser.addHelpOption();
    parser.addPositionalArgument(u"scenario"_s, u"The virtual pen's scenario file."_s);
    const QCommandLineOption noAdapter(u"no-adapter"_s, u"Start without an adapter."_s);
    const QCommandLineOption poweredOff(u"powered-off"_s, u"Start with the adapter off."_s);
    const QCommandLineOption exitAfter(
        u"exit-after-bytes"_s,
        u"Exit like a crashed daemon once N bytes of file content went out."_s, u"N"_s);
    const QCommandLineOption known(u"known"_s, u"The pen is bonded: known from the start."_s);
    const QCommandLineOption powerOnDelay(
        u"power-on-delay-ms"_s, u"The adapter powers on that long after it appears (500)."_s,
        u"MS"_s);
    const QCommandLineOption linger(u"disconnect-linger-ms"_s,
                                    u"Disconnect keeps the link that long (2000)."_s, u"MS"_s);
    const QCommandLineOption neighbours(u"neighbours"_s,
                                        u"Other devices around, appearing and expiring."_s, u"N"_s);
    const QCommandLineOption neighbourLife(u"neighbour-lifetime-ms"_s,
                                           u"How long each neighbour stays (3000)."_s, u"MS"_s);
    parser.addOptions(
        {noAdapter, poweredOff, exitAfter, known, powerOnDelay, linger, neighbours, neighbourLife});
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);

    std::unique_ptr<VirtualPen> pen;
    try {
        pen = VirtualPen::fromFile(parser.positionalArguments().constFirst());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "virtual-pen-bluez: %s\n", e.what());
        return 2;
    }
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "virtual-pen-bluez: no system bus: %s\n",
                     qPrintable(bus.lastError().message()));
        return 2;
    }

    PenBluez::Options options;
    options.adapter = !parser.isSet(noAdapter);
    options.powered = !parser.isSet(poweredOff);
    if (parser.isSet(exitAfter))
        options.exitAfterBytes = parser.value(exitAfter).toLongLong();
    options.known = parser.isSet(known);
    if (parser.isSet(powerOnDelay))
        options.powerOnDelayMs = parser.value(powerOnDelay).toInt();
    if (parser.isSet(linger))
        options.disconnectLingerMs = parser.value(linger).toInt();
    options.room.count = parser.value(neighbours).toInt();
    if (parser.isSet(neighbourLife))
        options.room.lifetimeMs = parser.value(neighbourLife).toInt();

    // bluetoothd takes its name before it knows its adapters (src/main.c, main: connect_dbus
    // comes before adapter_init): a client sees the name, then an unpowered adapter, then
    // the adapter powered on.
    if (!bus.registerService(u"org.bluez"_s)) {
        std::fprintf(stderr, "virtual-pen-bluez: org.bluez is taken: %s\n",
                     qPrintable(bus.lastError().message()));
        return 2;
    }
    BluezObjectTree tree(bus);
    if (!bus.registerVirtualObject(u"/"_s, &tree, QDBusConnection::SubPath)) {
        std::fprintf(stderr, "virtual-pen-bluez: cannot export the object tree\n");
        return 2;
    }
    PenBluez bluez(*pen, tree, options);
    tree.setHandler([&bluez](const QDBusMessage& call) { return bluez.handle(call); });
    // SIGTERM stops it as systemd stops bluetoothd; SIGKILL is a crash.
    static int stopPipe[2];
    if (::pipe(stopPipe) == 0) {
        std::signal(SIGTERM, [](int) {
            const char c = 1;
            [[maybe_unused]] const auto n = ::write(stopPipe[1], &c, 1);
        });
        auto* notifier = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &bluez, [&bluez, notifier] {
            notifier->setEnabled(false);
            bluez.stop();
        });
    }
    return QCoreApplication::exec();
}
