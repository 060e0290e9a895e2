#include "TrayKeeper.h"

#include "AppState.h"
#include "tray/TrayHost.h"
#include "tray/TrayIcon.h"

TrayKeeper::TrayKeeper(TrayHost& host, AppState& state, TrayMenu& menu, QObject* parent)
    : QObject(parent), m_state(state), m_menu(menu)
{
    connect(&host, &TrayHost::presentChanged, this, &TrayKeeper::follow);
    follow(host.present());
}

TrayKeeper::~TrayKeeper() = default;

void TrayKeeper::follow(bool present)
{
    if (present && !m_icon) {
        // Created only now: Qt settles on its kind of tray icon when the first one is made.
        m_icon = std::make_unique<TrayIcon>(m_state.model(), m_menu);
        m_icon->show();
    } else if (!present) {
        m_icon.reset();
    }
    m_state.setTrayPresent(present);
}
