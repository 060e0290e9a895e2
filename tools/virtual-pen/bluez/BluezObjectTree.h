#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>

// The object tree of a mock BlueZ: objects by path, each with its interfaces and their
// properties. It answers what every BlueZ client asks of the tree itself (Introspect,
// Properties, ObjectManager at "/") and emits the signals a change makes; every other method
// call goes to the handler.
class BluezObjectTree : public QDBusVirtualObject {
public:
    using Properties = QVariantMap;
    using Interfaces = QMap<QString, Properties>;
    // Returns true when it answered (or will answer) the call.
    using MethodHandler = std::function<bool(const QDBusMessage&)>;

    explicit BluezObjectTree(QDBusConnection bus);

    void setHandler(MethodHandler handler) { m_handler = std::move(handler); }
    QDBusConnection& bus() { return m_bus; }

    bool contains(const QString& path) const { return m_objects.contains(path); }
    void add(const QString& path, const Interfaces& interfaces);
    // Removes the object and every object below it, deepest first.
    void remove(const QString& path);
    QVariant property(const QString& path, const QString& iface, const QString& name) const;
    void setProperty(const QString& path, const QString& iface, const QString& name,
                     const QVariant& value);
    // Drops a property, signalled as invalidated (BlueZ's way for RSSI it no longer has).
    void removeProperty(const QString& path, const QString& iface, const QString& name);
    QStringList objectsWith(const QString& iface) const;
    // GetManagedObjects calls answered so far.
    int treeReads() const { return m_treeReads; }

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    void reply(const QDBusMessage& message, const QList<QVariant>& args = {});
    void fail(const QDBusMessage& message, const QString& name, const QString& text);

    QDBusConnection m_bus;
    QMap<QString, Interfaces> m_objects;
    MethodHandler m_handler;
    int m_treeReads = 0;
};
