// virtual-pen-bluez: a mock BlueZ on the system bus (DBUS_SYSTEM_BUS_ADDRESS) that plays the
// virtual pen of a scenario file, so the real Bluetooth path of the importer can be run and
// measured end to end without a radio.

#include "BluezObjectTree.h"
#include "PenBluez.h"
#include "VirtualPen.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

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
    parser.addOptions({noAdapter, poweredOff, exitAfter});
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
    BluezObjectTree tree(bus);
    PenBluez bluez(*pen, tree, options);
    tree.setHandler([&bluez](const QDBusMessage& call) { return bluez.handle(call); });
    if (!bus.registerVirtualObject(u"/"_s, &tree, QDBusConnection::SubPath)) {
        std::fprintf(stderr, "virtual-pen-bluez: cannot export the object tree\n");
        return 2;
    }
    // The name last, so clients never see a half-built tree.
    if (!bus.registerService(u"org.bluez"_s)) {
        std::fprintf(stderr, "virtual-pen-bluez: org.bluez is taken: %s\n",
                     qPrintable(bus.lastError().message()));
        return 2;
    }
    return QCoreApplication::exec();
}
