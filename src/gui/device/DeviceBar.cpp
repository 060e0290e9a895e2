#include "device/DeviceBar.h"

#include "AppModel.h"
#include "Dialogs.h"
#include "SettingsChoices.h"
#include "design/DSButton.h"
#include "design/DesignSystem.h"
#include "design/Icons.h"
#include "tray/TrayTexts.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QToolButton>

namespace {

bool syncing(const SyncPhase& phase)
{
    using K = SyncPhase::Kind;
    return phase.is(K::Connecting) || phase.is(K::Listing) || phase.is(K::Downloading) ||
           phase.is(K::Uploading) || phase.is(K::Cleaning);
}

} // namespace

DeviceBar::DeviceBar(AppModel& model, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), m_model(model), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("deviceBar"));
    auto* symbol = new QLabel;
    symbol->setPixmap(
        Icons::pixmap(QStringLiteral("person.wave.2"), 20, DS::focus, devicePixelRatioF()));
    auto* service = new QLabel(QStringLiteral("Mindvault"));
    service->setFont(DS::font(15, QFont::DemiBold));
    m_account = new QLabel;
    m_account->setObjectName(QStringLiteral("account"));
    m_account->setFont(DS::font(12));
    m_syncing = new QLabel(QStringLiteral("正在同步中"));
    m_syncing->setObjectName(QStringLiteral("syncing"));
    m_syncing->setFont(DS::font(12));
    m_syncing->setStyleSheet(QStringLiteral("color: %1;").arg(DS::focus.name()));

    m_sync = new DSButton(QStringLiteral("立即同步"), DSButton::Style::secondary);
    m_sync->setObjectName(QStringLiteral("syncNow"));
    m_sync->setToolTip(QStringLiteral("立刻扫一次录音笔并导入新录音"));
    m_sync->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    m_open = new DSButton(QStringLiteral("打开Mindvault"), DSButton::Style::secondary);
    m_open->setObjectName(QStringLiteral("openVault"));

    m_menu = new QToolButton;
    m_menu->setObjectName(QStringLiteral("accountMenu"));
    m_menu->setIconSize(QSize(22, 22));
    m_menu->setAutoRaise(true);
    m_menu->setPopupMode(QToolButton::InstantPopup);
    m_menu->setAccessibleName(QStringLiteral("账号"));
    m_menu->setToolTip(QStringLiteral("账号"));
    m_menu->setMenu(accountMenu());

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(10);
    row->addWidget(symbol);
    row->addWidget(service);
    row->addWidget(m_account);
    row->addStretch(1);
    row->addWidget(m_syncing);
    row->addWidget(m_sync);
    row->addWidget(m_open);
    row->addWidget(m_menu);

    connect(m_sync, &QPushButton::clicked, this, [this] {
        if (m_model.actions.syncNow) {
            m_model.actions.syncNow();
        }
    });
    connect(m_open, &QPushButton::clicked, this, &DeviceBar::openVault);
    for (auto signal : {&AppModel::phaseChanged, &AppModel::accountChanged,
                        &AppModel::selectionChanged, &AppModel::itemsChanged}) {
        connect(&m_model, signal, this, &DeviceBar::refresh);
    }
    restyle();
    refresh();
}

void DeviceBar::restyle()
{
    const QColor quiet = DS::secondaryText(DS::isDark(QApplication::palette()));
    m_sync->setIcon(Icons::symbol(QStringLiteral("arrow.triangle.2.circlepath"), quiet));
    m_open->setIcon(Icons::symbol(QStringLiteral("arrow.up.forward"), quiet));
    m_menu->setIcon(Icons::symbol(QStringLiteral("person.crop.circle"), quiet));
    QPalette p = m_account->palette();
    p.setColor(QPalette::WindowText, quiet);
    m_account->setPalette(p);
}

void DeviceBar::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ApplicationPaletteChange)
        restyle();
    QWidget::changeEvent(event);
}

void DeviceBar::refresh()
{
    const std::optional<QString>& email = m_model.signedInEmail();
    m_account->setVisible(email.has_value());
    m_account->setText(QStringLiteral("已登录：") + email.value_or(QString()));
    m_syncing->setVisible(syncing(m_model.phase()));

    const std::optional<RecordingItem> selected =
        m_model.selection() ? m_model.item(*m_model.selection()) : std::nullopt;
    const bool session = selected && selected->transcriptId;
    m_open->setText(session ? QStringLiteral("在Mindvault打开") : QStringLiteral("打开Mindvault"));
    m_open->setToolTip(session ? QStringLiteral("去Mindvault看这条的转写、说话人和洞察")
                               : QStringLiteral("打开Mindvault首页"));
}

void DeviceBar::openVault()
{
    const std::optional<RecordingItem> selected =
        m_model.selection() ? m_model.item(*m_model.selection()) : std::nullopt;
    if (selected && selected->transcriptId) {
        if (m_model.actions.openVaultSession) {
            m_model.actions.openVaultSession(*selected);
        }
    } else if (m_model.actions.openVaultHome) {
        m_model.actions.openVaultHome();
    }
}

// Everything the tray menu holds beyond the window's own buttons, with the tray menu's texts:
// a desktop without a tray reaches it here.
QMenu* DeviceBar::accountMenu()
{
    auto* menu = new QMenu(m_menu);
    menu->setObjectName(QStringLiteral("accountMenuList"));
    AppModel* m = &m_model;
    menu->addAction(QStringLiteral("打开导入文件夹"), this, [m] { m->actions.openImportFolder(); });
    menu->addAction(QStringLiteral("查看同步日志"), this, [m] { m->actions.openLog(); });
    menu->addSeparator();
    QAction* loginItem =
        menu->addAction(QString(), this, [m] { m->actions.setLoginItem(!m->launchAtLogin()); });
    QAction* threshold = menu->addAction(
        QString(), this, [this] { SettingsChoices::threshold(m_model, m_dialogs); });
    QAction* cleanup =
        menu->addAction(QString(), this, [this] { SettingsChoices::cleanup(m_model, m_dialogs); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("退出登录"), this,
                    [this] { SettingsChoices::signOut(m_model, m_dialogs); });
    menu->addAction(QStringLiteral("退出录音笔导入器"), this, [m] { m->actions.quit(); });
    const auto refresh = [m, loginItem, threshold, cleanup] {
        loginItem->setText(TrayTexts::loginItem(m->launchAtLogin()));
        threshold->setText(TrayTexts::threshold(m->minUploadMinutes()));
        cleanup->setText(TrayTexts::cleanup(m->cleanupEnabled(), m->coolingDays()));
    };
    connect(menu, &QMenu::aboutToShow, this, refresh);
    connect(&m_model, &AppModel::settingsChanged, menu, refresh);
    connect(&m_model, &AppModel::accountChanged, menu, refresh);
    refresh();
    return menu;
}
