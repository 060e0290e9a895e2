#include "format/Fmt.h"

#include <QHash>
#include <QLocale>
#include <QRegularExpression>

namespace {

const QLocale& chinese()
{
    static const QLocale locale(QLocale::Chinese, QLocale::China);
    return locale;
}

const QRegularExpression& stampPattern()
{
    static const QRegularExpression re(QStringLiteral("([0-9]{8})-([0-9]{6})"));
    return re;
}

} // namespace

namespace Fmt {

QString time(const std::optional<QDateTime>& date, const QDateTime& now)
{
    if (!date || !date->isValid()) {
        return QStringLiteral("从未");
    }
    const QDateTime local = date->toLocalTime();
    const QDate day = local.date();
    const QDate today = now.toLocalTime().date();
    if (day == today) {
        return chinese().toString(local, QStringLiteral("'今天' HH:mm"));
    }
    if (day == today.addDays(-1)) {
        return chinese().toString(local, QStringLiteral("'昨天' HH:mm"));
    }
    return chinese().toString(local, QStringLiteral("M'月'd'日' HH:mm"));
}

QString time(const std::optional<QDateTime>& date)
{
    return time(date, QDateTime::currentDateTime());
}

QString duration(double seconds)
{
    if (!(seconds >= 1)) {
        return QStringLiteral("—");
    }
    const auto total = static_cast<qint64>(seconds);
    const qint64 h = total / 3600;
    const qint64 m = total % 3600 / 60;
    const qint64 s = total % 60;
    if (h == 0) {
        return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1:%2:%3")
        .arg(h)
        .arg(m, 2, 10, QLatin1Char('0'))
        .arg(s, 2, 10, QLatin1Char('0'));
}

QString vaultStatus(const std::optional<QString>& status)
{
    if (!status) {
        return QStringLiteral("未推送");
    }
    static const QHash<QString, QString> words{
        {QStringLiteral("ready"), QStringLiteral("已就绪")},
        {QStringLiteral("failed"), QStringLiteral("失败")},
        {QStringLiteral("finalizing"), QStringLiteral("收尾中")},
        {QStringLiteral("processing"), QStringLiteral("分析中")},
        {QStringLiteral("uploading"), QStringLiteral("上传中")},
        {QStringLiteral("recording"), QStringLiteral("录制中")},
    };
    return words.value(*status, *status);
}

std::optional<QDateTime> recordedAt(const QString& base)
{
    const QRegularExpressionMatch match = stampPattern().match(base);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    QDateTime at = QDateTime::fromString(match.captured(0), QStringLiteral("yyyyMMdd-HHmmss"));
    if (!at.isValid()) {
        return std::nullopt;
    }
    return at;
}

QString title(const QString& base)
{
    const std::optional<QDateTime> at = recordedAt(base);
    if (!at) {
        return base;
    }
    return chinese().toString(*at, QStringLiteral("M'月'd'日' HH:mm:ss"));
}

QString dateTitle(const QString& text)
{
    const QRegularExpressionMatch match = stampPattern().match(text);
    if (!match.hasMatch()) {
        return text;
    }
    const QString date = match.captured(1);
    const QString clock = match.captured(2);
    const QString words = QString::number(date.mid(4, 2).toInt()) + QStringLiteral("月") +
                          QString::number(date.mid(6, 2).toInt()) + QStringLiteral("日 ") +
                          clock.left(2) + QStringLiteral(":") + clock.mid(2, 2);
    QString out = text;
    out.replace(match.capturedStart(0), match.capturedLength(0), words);
    return out;
}

} // namespace Fmt
