#include "library/MainPages.h"

#include "AppModel.h"
#include "audio/Waveform.h"
#include "audit/ArchiveAuditPanel.h"
#include "audit/PanelOverlay.h"
#include "device/BindMismatchCard.h"
#include "device/BlockedBanner.h"
#include "device/DeviceBar.h"
#include "device/DevicePage.h"
#include "device/SideRail.h"
#include "library/LibraryPage.h"
#include "window/MainWindowView.h"

#include <QHBoxLayout>
#include <QStackedWidget>
#include <QVBoxLayout>

MainPages::MainPages(MainWindowView& view) : QObject(&view), m_view(view)
{
    AppModel& model = view.model();
    view.header().addWidget(new DeviceBar(model, view.dialogs()));
    view.header().addWidget(new BlockedBanner(model));

    const QString root = model.projectRoot;
    m_library = new LibraryPage(model, view.dialogs(), [root](QString base, QString ogg) {
        return Waveform::load(base, ogg, root);
    });
    m_device = new DevicePage(model);
    m_rail = new SideRail;
    auto* sections = new QStackedWidget;
    sections->addWidget(m_library);
    sections->addWidget(m_device);

    auto* body = new QWidget;
    body->setObjectName(QStringLiteral("sections"));
    auto* row = new QHBoxLayout(body);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(m_rail);
    row->addWidget(sections, 1);
    view.content().addWidget(body);
    view.content().setCurrentWidget(body);

    m_auditOverlay = new PanelOverlay(body, 860);
    m_bindOverlay = new PanelOverlay(body, 560);
    // Escape closes a panel as its own close or cancel button does.
    connect(m_auditOverlay, &PanelOverlay::dismissRequested, this,
            [&model] { model.setPanel(std::nullopt); });
    connect(m_bindOverlay, &PanelOverlay::dismissRequested, this, [&model] {
        if (model.actions.dismissBindMismatch) {
            model.actions.dismissBindMismatch();
        }
    });

    connect(m_rail, &SideRail::sectionChanged, sections, [sections](SideRail::Section s) {
        sections->setCurrentIndex(s == SideRail::Section::library ? 0 : 1);
    });
    connect(m_device, &DevicePage::openRecording, this, [this, &model](const QString& base) {
        m_rail->setSection(SideRail::Section::library);
        model.setSelection(base);
    });
    connect(&model, &AppModel::deviceChanged, this,
            [this, &model] { m_rail->setDeviceConnected(model.device().connected); });
    connect(&model, &AppModel::panelChanged, this, &MainPages::refreshAudit);
    connect(&model, &AppModel::auditReportChanged, this, &MainPages::refreshAudit);
    connect(&model, &AppModel::pendingBindMismatchChanged, this, &MainPages::refreshBindMismatch);
    m_rail->setDeviceConnected(model.device().connected);
    refreshAudit();
    refreshBindMismatch();
}

ArchiveAuditPanel* MainPages::auditPanel() const
{
    return qobject_cast<ArchiveAuditPanel*>(m_auditOverlay->panel());
}

BindMismatchCard* MainPages::bindCard() const
{
    return qobject_cast<BindMismatchCard*>(m_bindOverlay->panel());
}

void MainPages::refreshAudit()
{
    AppModel& model = m_view.model();
    if (model.panel() != AppModel::Panel::audit) {
        m_auditOverlay->setPanel(nullptr);
        return;
    }
    ArchiveAuditPanel* panel = auditPanel();
    if (!panel) {
        panel = new ArchiveAuditPanel;
        panel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
        connect(panel, &ArchiveAuditPanel::rerunRequested, this, [&model] {
            if (model.actions.runAudit) {
                model.actions.runAudit();
            }
        });
        connect(panel, &ArchiveAuditPanel::closeRequested, this,
                [&model] { model.setPanel(std::nullopt); });
        m_auditOverlay->setPanel(panel);
    }
    panel->setReport(model.auditReport());
    m_bindOverlay->raise();
}

void MainPages::refreshBindMismatch()
{
    AppModel& model = m_view.model();
    const std::optional<BindMismatch>& mismatch = model.pendingBindMismatch();
    if (!mismatch) {
        m_bindOverlay->setPanel(nullptr);
        return;
    }
    if (bindCard() && bindCard()->mismatch() == *mismatch) {
        return;
    }
    auto* card = new BindMismatchCard(
        *mismatch,
        [&model](QString name) -> QCoro::Task<bool> {
            if (!model.actions.resolveBindMismatch) {
                co_return false;
            }
            // An empty name keeps the pen's old number.
            const std::optional<QString> newName =
                name.isEmpty() ? std::nullopt : std::optional(name);
            const bool bound = co_await model.actions.resolveBindMismatch(newName);
            co_return bound;
        },
        [&model] {
            if (model.actions.dismissBindMismatch) {
                model.actions.dismissBindMismatch();
            }
        });
    m_bindOverlay->setPanel(card);
    m_bindOverlay->raise();
}
