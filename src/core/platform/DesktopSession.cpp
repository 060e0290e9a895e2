#include "DesktopSession.h"

#include <QtGlobal>

namespace DesktopSession {

bool available()
{
#if defined(Q_OS_LINUX)
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
#else
    return true; // the system's own window server is always there
#endif
}

} // namespace DesktopSession
