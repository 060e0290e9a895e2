#include "sync/SyncLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

using namespace Qt::StringLiterals;

SyncLog::SyncLog(QString path, Clock clock, Observer observer)
    : m_path(std::move(path)), m_clock(std::move(clock)), m_observer(std::move(observer))
{}

void SyncLog::setObserver(Observer observer)
{
    const std::lock_guard guard(m_lock);
    m_observer = std::move(observer);
}

void SyncLog::write(const QString& line) noexcept
{
    try {
        // The time is taken before waiting for the lock: it is when the event happened.
        const QString time = QLocale::c().toString(m_clock(), u"MM-dd HH:mm:ss"_s);
        const QString text = u'[' + time + u"] "_s + line;
        const QByteArray bytes = (text + u'\n').toUtf8();

        const std::lock_guard guard(m_lock);
        QDir().mkpath(QFileInfo(m_path).absolutePath());
        rotateIfLarge();
        QFile file(m_path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            file.write(bytes);
        }
        if (m_observer) {
            m_observer(text);
        }
    } catch (...) {
        // A failing log never stops a sync.
    }
}

void SyncLog::rotateIfLarge()
{
    const QFileInfo info(m_path);
    if (!info.exists() || info.size() <= rotateAbove) {
        return;
    }
    // "swift-同步日志.txt" -> "swift-同步日志.1.txt"; one older generation only.
    const QString rotated = info.absolutePath() + u'/' + info.completeBaseName() + u".1.txt"_s;
    QFile::remove(rotated);
    QFile::rename(m_path, rotated);
}
