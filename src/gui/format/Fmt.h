#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// Texts the windows show for times, lengths and service states. Pure functions; the current
// time comes in as an argument so the "today" and "yesterday" forms can be tested.
namespace Fmt {

// "从未", "今天 09:30", "昨天 09:30" or "3月15日 09:30" (local time, Chinese calendar words).
QString time(const std::optional<QDateTime>& date, const QDateTime& now);
QString time(const std::optional<QDateTime>& date);

// "—" below one second, "m:ss" below an hour, "h:mm:ss" from an hour on.
QString duration(double seconds);

// The service's session state in words; unknown states are shown as they are.
QString vaultStatus(const std::optional<QString>& status);

// The recording time a base name carries ("…20240315-093000…"), in local time.
std::optional<QDateTime> recordedAt(const QString& base);

// "3月15日 09:30:00" when the base name carries a recording time, else the base name itself.
QString title(const QString& base);

// Rewrites the first "yyyyMMdd-HHmmss" stamp in a text to "3月15日 09:30".
QString dateTitle(const QString& text);

} // namespace Fmt
