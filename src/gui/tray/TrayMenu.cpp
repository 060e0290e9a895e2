#include "TrayMenu.h"

#include "AppModel.h"
#include "SettingsChoices.h"
#include "tray/TrayTexts.h"

#include <QAction>
#include <QDateTime>
#include <QMenu>

using namespace Qt::Literals::StringLiterals;

TrayMenu::TrayMenu(AppModel& model, Dialogs& dialogs, Now now, QObject* parent)
    : QObject(parent), m_model(model), m_dialogs(dialogs),
      m_now(now ? std::move(now) : Now([] { return QDateTime::currentDateTime(); })),
      m_menu(new QMenu)
{
    AppModel* m = &m_model;
    QMenu& menu = *m_menu;
    // Lines that only say something are shown but cannot be chosen.
    const auto line = [&menu] {
        QAction* a = menu.addAction(QString());
        a->setEnabled(false);
        return a;
    };
    m_status = line();
    m_lastRun = line();
    m_summary = line();
    m_device = line();
    menu.addSeparator();
    m_syncNow = menu.addAction(u"立即同步"_s, [m] { m->actions.syncNow(); });
    m_syncNow->setShortcut(QKeySequence(u"Ctrl+S"_s));
    QAction* open = menu.addAction(u"打开主窗口"_s, [m] { m->actions.openMainWindow(); });
    open->setShortcut(QKeySequence(u"Ctrl+0"_s));
    menu.addSeparator();
    menu.addAction(u"打开导入文件夹"_s, [m] { m->actions.openImportFolder(); });
    menu.addAction(u"打开Mindvault网页"_s, [m] { m->actions.openVaultHome(); });
    menu.addAction(u"查看同步日志"_s, [m] { m->actions.openLog(); });
    menu.addAction(u"体检本地归档"_s, [m] {
        m->actions.openMainWindow();
        m->setPanel(AppModel::Panel::audit);
    });
    menu.addSeparator();
    m_loginItem = menu.addAction(QString(), [m] { m->actions.setLoginItem(!m->launchAtLogin()); });
    m_signOut = menu.addAction(QString(), [this] { SettingsChoices::signOut(m_model, m_dialogs); });
    menu.addSeparator();
    m_threshold =
        menu.addAction(QString(), [this] { SettingsChoices::threshold(m_model, m_dialogs); });
    menu.addSeparator();
    m_cleanup = menu.addAction(QString(), [this] { SettingsChoices::cleanup(m_model, m_dialogs); });
    menu.addSeparator();
    QAction* quit = menu.addAction(u"退出录音笔导入器"_s, [m] { m->actions.quit(); });
    quit->setShortcut(QKeySequence(u"Ctrl+Q"_s));

    for (auto signal :
         {&AppModel::phaseChanged, &AppModel::lastRunChanged, &AppModel::deviceChanged,
          &AppModel::accountChanged, &AppModel::settingsChanged})
        connect(&model, signal, this, &TrayMenu::refresh);
    // "今天" becomes "昨天" without any change in the model.
    connect(m_menu, &QMenu::aboutToShow, this, &TrayMenu::refresh);
    refresh();
}

TrayMenu::~TrayMenu()
{
    delete m_menu;
}

void TrayMenu::refresh()
{
    const SyncPhase& phase = m_model.phase();
    m_status->setText(TrayTexts::status(phase));
    m_lastRun->setText(TrayTexts::lastRun(m_model.lastRun(), m_now()));
    m_summary->setText(m_model.lastSummary());
    m_summary->setVisible(!m_model.lastSummary().isEmpty());
    const std::optional<QString> device = TrayTexts::device(m_model.device());
    m_device->setText(device.value_or(QString()));
    m_device->setVisible(device.has_value());
    m_syncNow->setEnabled(TrayTexts::canSyncNow(phase));
    m_loginItem->setText(TrayTexts::loginItem(m_model.launchAtLogin()));
    const std::optional<QString>& email = m_model.signedInEmail();
    m_signOut->setText(TrayTexts::signOut(email.value_or(QString())));
    m_signOut->setVisible(email.has_value());
    m_threshold->setText(TrayTexts::threshold(m_model.minUploadMinutes()));
    m_cleanup->setText(TrayTexts::cleanup(m_model.cleanupEnabled(), m_model.coolingDays()));
}
