#include "BluezObjectTree.h"

#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kProperties = u"org.freedesktop.DBus.Properties"_s;
const QString kObjectManager = u"org.freedesktop.DBus.ObjectManager"_s;
const QString kIntrospectable = u"org.freedesktop.DBus.Introspectable"_s;

using ObjectMap = QMap<QDBusObjectPath, BluezObjectTree::Interfaces>;

const char* kStandardXml = R"(  <interface name="org.freedesktop.DBus.Introspectable">
    <method name="Introspect"><arg type="s" direction="out"/></method>
  </interface>
  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
    <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
    <method name="Set"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="in"/></method>
    <signal name="PropertiesChanged"><arg type="s"/><arg type="a{sv}"/><arg type="as"/></signal>
  </interface>
)";

} // namespace

BluezObjectTree::BluezObjectTree(QDBusConnection bus) : m_bus(std::move(bus))
{
    qDBusRegisterMetaType<Interfaces>();
    qDBusRegisterMetaType<ObjectMap>();
}

void BluezObjectTree::add(const QString& path, const Interfaces& interfaces)
{
    m_objects.insert(path, interfaces);
    QDBusMessage added = QDBusMessage::createSignal(u"/"_s, kObjectManager, u"InterfacesAdded"_s);
    added << QVariant::fromValue(QDBusObjectPath(path)) << QVariant::fromValue(interfaces);
    m_bus.send(added);
}

void BluezObjectTree::remove(const QString& path)
{
    QStringList doomed;
    for (auto it = m_objects.cbegin(); it != m_objects.cend(); ++it) {
        if (it.key() == path || it.key().startsWith(path + u'/'))
            doomed.prepend(it.key()); // map order is parent first: reversed, children go first
    }
    for (const QString& p : doomed) {
        const QStringList interfaces = m_objects.take(p).keys();
        QDBusMessage removed =
            QDBusMessage::createSignal(u"/"_s, kObjectManager, u"InterfacesRemoved"_s);
        removed << QVariant::fromValue(QDBusObjectPath(p)) << interfaces;
        m_bus.send(removed);
    }
}

QVariant BluezObjectTree::property(const QString& path, const QString& iface,
                                   const QString& name) const
{
    return m_objects.value(path).value(iface).value(name);
}

void BluezObjectTree::setProperty(const QString& path, const QString& iface, const QString& name,
                                  const QVariant& value)
{
    auto object = m_objects.find(path);
    if (object == m_objects.end() || !object->contains(iface))
        return;
    (*object)[iface].insert(name, value);
    QDBusMessage changed = QDBusMessage::createSignal(path, kProperties, u"PropertiesChanged"_s);
    changed << iface << QVariantMap{{name, value}} << QStringList();
    m_bus.send(changed);
}

void BluezObjectTree::removeProperty(const QString& path, const QString& iface, const QString& name)
{
    auto object = m_objects.find(path);
    if (object == m_objects.end() || !object->contains(iface) || !(*object)[iface].remove(name))
        return;
    QDBusMessage changed = QDBusMessage::createSignal(path, kProperties, u"PropertiesChanged"_s);
    changed << iface << QVariantMap() << QStringList{name};
    m_bus.send(changed);
}

QStringList BluezObjectTree::objectsWith(const QString& iface) const
{
    QStringList out;
    for (auto it = m_objects.cbegin(); it != m_objects.cend(); ++it) {
        if (it->contains(iface))
            out.append(it.key());
    }
    return out;
}

QString BluezObjectTree::introspect(const QString& path) const
{
    QString xml;
    for (const QString& iface : m_objects.value(path).keys())
        xml += u"  <interface name=\""_s + iface + u"\"/>\n"_s;
    xml += QString::fromLatin1(kStandardXml);
    if (path == u"/"_s)
        xml += u"  <interface name=\""_s + kObjectManager + u"\"/>\n"_s;
    // Direct children, also of paths that hold no object themselves ("/org", "/org/bluez").
    const QString prefix = path == u"/"_s ? path : path + u'/';
    QStringList children;
    for (const QString& p : m_objects.keys()) {
        if (p.startsWith(prefix) && p != path) {
            const QString child = p.mid(prefix.size()).section(u'/', 0, 0);
            if (!children.contains(child))
                children.append(child);
        }
    }
    for (const QString& child : children)
        xml += u"  <node name=\""_s + child + u"\"/>\n"_s;
    return xml;
}

bool BluezObjectTree::handleMessage(const QDBusMessage& message, const QDBusConnection&)
{
    const QString iface = message.interface();
    const QString member = message.member();
    const QList<QVariant> args = message.arguments();
    const QString path = message.path();

    if (iface == kIntrospectable && member == u"Introspect"_s) {
        const QString xml = u"<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object "
                            u"Introspection 1.0//EN\" \"http://www.freedesktop.org/standards/"
                            u"dbus/1.0/introspect.dtd\">\n<node>\n"_s +
                            introspect(path) + u"</node>\n"_s;
        reply(message, {xml});
        return true;
    }
    if (iface == kObjectManager && member == u"GetManagedObjects"_s && path == u"/"_s) {
        ++m_treeReads;
        ObjectMap all;
        for (auto it = m_objects.cbegin(); it != m_objects.cend(); ++it)
            all.insert(QDBusObjectPath(it.key()), it.value());
        reply(message, {QVariant::fromValue(all)});
        return true;
    }
    // A setter with side effects (the adapter's Powered) is the handler's to answer.
    if (iface == kProperties && member == u"Set"_s && m_handler && m_handler(message))
        return true;
    if (iface == kProperties) {
        const QString target = args.value(0).toString();
        const auto object = m_objects.constFind(path);
        if (object == m_objects.cend() || !object->contains(target)) {
            fail(message, u"org.freedesktop.DBus.Error.InvalidArgs"_s, u"No such interface"_s);
        } else if (member == u"GetAll"_s) {
            reply(message, {object->value(target)});
        } else if (member == u"Get"_s) {
            const QString name = args.value(1).toString();
            if (!object->value(target).contains(name))
                fail(message, u"org.freedesktop.DBus.Error.InvalidArgs"_s, u"No such property"_s);
            else
                reply(message,
                      {QVariant::fromValue(QDBusVariant(object->value(target).value(name)))});
        } else if (member == u"Set"_s) {
            setProperty(path, target, args.value(1).toString(),
                        args.value(2).value<QDBusVariant>().variant());
            reply(message);
        } else {
            fail(message, u"org.freedesktop.DBus.Error.UnknownMethod"_s, member);
        }
        return true;
    }
    if (m_handler && m_handler(message))
        return true;
    fail(message, u"org.freedesktop.DBus.Error.UnknownMethod"_s,
         u"No such method "_s + iface + u'.' + member + u" at "_s + path);
    return true;
}

void BluezObjectTree::reply(const QDBusMessage& message, const QList<QVariant>& args)
{
    m_bus.send(message.createReply(args));
}

void BluezObjectTree::fail(const QDBusMessage& message, const QString& name, const QString& text)
{
    m_bus.send(message.createErrorReply(name, text));
}
