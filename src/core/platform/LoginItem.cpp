#include "LoginItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString fileName = u"kestrel.desktop"_s;
const QString refused = u"系统拒绝了："_s;

QString quoted(const QString& arg)
{
    static const QString reserved = u" \t\n\"'\\><~|&;$*?#()`="_s;
    bool plain = !arg.isEmpty();
    for (const QChar c : arg)
        plain = plain && !reserved.contains(c);
    if (plain)
        return arg;
    QString out;
    for (const QChar c : arg) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            out += u'\\';
        out += c;
    }
    // The value itself is a string of the entry format, where a backslash is escaped once more.
    out.replace(u"\\"_s, u"\\\\"_s);
    return u'"' + out + u'"';
}

} // namespace

LoginItem::LoginItem(QString folder, QStringList command)
    : m_folder(std::move(folder)), m_command(std::move(command))
{}

LoginItem::LoginItem()
    : LoginItem(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                    u"/autostart"_s,
                {QCoreApplication::applicationFilePath()})
{}

QString LoginItem::path() const
{
    return m_folder + u'/' + fileName;
}

bool LoginItem::enabled() const
{
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed().replace(' ', "");
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false")
            return false;
    }
    return true;
}

std::optional<QString> LoginItem::set(bool on) const
{
    if (!on) {
        QFile file(path());
        if (file.exists() && !file.remove())
            return refused + file.errorString();
        return std::nullopt;
    }
    if (!QDir().mkpath(m_folder))
        return refused + u"无法创建文件夹 "_s + m_folder;
    QSaveFile file(path());
    if (!file.open(QIODevice::WriteOnly))
        return refused + file.errorString();
    const QString entry = u"[Desktop Entry]\n"
                          u"Type=Application\n"
                          u"Name=Mindvault 录音笔导入器\n"
                          u"Exec="_s +
                          execLine(m_command) +
                          u"\n"
                          u"Terminal=false\n"
                          u"X-GNOME-Autostart-enabled=true\n"_s;
    file.write(entry.toUtf8());
    if (!file.commit())
        return refused + file.errorString();
    return std::nullopt;
}

QString LoginItem::statusText() const
{
    return enabled() ? u"已开启"_s : u"未开启"_s;
}

QString LoginItem::execLine(const QStringList& command)
{
    QStringList parts;
    for (const QString& arg : command)
        parts << quoted(arg);
    return parts.join(u' ');
}
