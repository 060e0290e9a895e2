#include "platform/Notify.h"

#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// A stand-in notification service on a private bus.
class FakeNotifications : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    bool refuse = false;
    QStringList received; // app, summary, body

public Q_SLOTS:
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion)
    {
        vendor = u"test"_s;
        version = u"1"_s;
        specVersion = u"1.2"_s;
        return u"fake"_s;
    }

    uint Notify(const QString& app, uint, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap&, int)
    {
        if (refuse) {
            sendErrorReply(QDBusError::AccessDenied, u"no"_s);
            return 0;
        }
        received = {app, summary, body};
        return 1;
    }
};

struct PrivateBus {
    QProcess daemon;
    QString address;
    QStringList names;

    QTemporaryDir dir;

    PrivateBus()
    {
        // No service directories: nothing on this bus can be activated behind the test's back.
        const QString config = dir.filePath(u"bus.conf"_s);
        TestSupport::writeFile(config, "<busconfig><type>session</type><keep_umask/>"
                                       "<listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
                                       "<policy context=\"default\">"
                                       "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                       "<allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                                       "</policy></busconfig>");
        daemon.start(u"dbus-daemon"_s,
                     {u"--config-file="_s + config, u"--nofork"_s, u"--print-address"_s});
        if (daemon.waitForReadyRead(5000)) {
            address = QString::fromUtf8(daemon.readLine()).trimmed();
        }
    }
    ~PrivateBus()
    {
        for (const QString& name : names) {
            QDBusConnection::disconnectFromBus(name);
        }
        daemon.kill();
        daemon.waitForFinished();
    }
    QDBusConnection connect(const QString& name)
    {
        names.append(name);
        return QDBusConnection::connectToBus(address, name);
    }
};

struct Launches {
    QList<QStringList> calls;
    Notify::Launcher launcher()
    {
        return [this](const QString& program, const QStringList& args) {
            calls.append(QStringList{program} + args);
            return true;
        };
    }
};

} // namespace

TEST(Notify, WithoutABusTheFallbackGetsTheTextsVerbatim)
{
    Launches launches;
    Notify notify(QDBusConnection(u"kestrel-test-no-bus"_s), launches.launcher());
    notify.request();
    const QString body = u"同步结束：导入 1 条，\"引号\" $(rm -rf ~) `x`"_s;
    notify.send(body, u"-Mindvault"_s);
    ASSERT_EQ(launches.calls.size(), 1);
    EXPECT_EQ(launches.calls[0], (QStringList{u"notify-send"_s, u"--app-name=Kestrel"_s, u"--"_s,
                                              u"-Mindvault"_s, body}));
}

TEST(Notify, UsesTheServiceAndFallsBackWhenItIsMissingOrRefuses)
{
    PrivateBus bus;
    if (bus.address.isEmpty()) {
        GTEST_SKIP() << "dbus-daemon did not start";
    }
    QDBusConnection serviceSide = bus.connect(u"kestrel-test-service"_s);
    QDBusConnection clientSide = bus.connect(u"kestrel-test-client"_s);
    ASSERT_TRUE(serviceSide.isConnected());

    // No service yet: the request learns that, and sends go to the fallback at once.
    {
        Launches launches;
        Notify notify(clientSide, launches.launcher());
        notify.request();
        notify.send(u"正文"_s, u"标题"_s);
        EXPECT_TRUE(TestSupport::spinUntil([&] { return !launches.calls.isEmpty(); }));
    }

    FakeNotifications service;
    ASSERT_TRUE(serviceSide.registerObject(u"/org/freedesktop/Notifications"_s, &service,
                                           QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(serviceSide.registerService(u"org.freedesktop.Notifications"_s));

    Launches launches;
    Notify notify(clientSide, launches.launcher());
    notify.request();
    notify.send(u"导入 2 条"_s, u"Mindvault"_s);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !service.received.isEmpty(); }));
    EXPECT_EQ(service.received, (QStringList{u"Kestrel"_s, u"Mindvault"_s, u"导入 2 条"_s}));
    EXPECT_TRUE(launches.calls.isEmpty());

    service.refuse = true;
    notify.send(u"录音笔只剩 15% 电，出门前记得充"_s, u"电量偏低"_s);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !launches.calls.isEmpty(); }));
    EXPECT_EQ(launches.calls[0].mid(3),
              (QStringList{u"电量偏低"_s, u"录音笔只剩 15% 电，出门前记得充"_s}));
}

#include "NotifyTest.moc"
