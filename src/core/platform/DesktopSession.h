#pragma once

// Whether this process can open windows: a graphical session, or a Qt platform chosen
// explicitly (offscreen in tests, a virtual display for screenshots).
namespace DesktopSession {

bool available();

} // namespace DesktopSession
