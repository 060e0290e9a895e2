#pragma once

#include <QLatin1String>
#include <QString>

namespace UuidMatch {

// A service or characteristic UUID given by the port, short ("ae21") or full
// ("0000ae21-0000-1000-8000-00805f9b34fb", braces allowed), is recognised by its 16-bit value.
inline bool is(const QString& uuid, const char* shortForm)
{
    QString u = uuid.toLower();
    if (u.startsWith(QLatin1Char('{')) && u.endsWith(QLatin1Char('}'))) {
        u = u.mid(1, u.size() - 2);
    }
    const QLatin1String s(shortForm);
    if (u.startsWith(s)) {
        return true;
    }
    return u.size() == 36 && u.startsWith(QLatin1String("0000")) && u.mid(4, 4) == s &&
           u.endsWith(QLatin1String("-0000-1000-8000-00805f9b34fb"));
}

} // namespace UuidMatch
