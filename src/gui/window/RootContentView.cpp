#include "RootContentView.h"

#include "AppModel.h"
#include "design/DesignSystem.h"
#include "welcome/WelcomeView.h"
#include "window/MainWindowView.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

RootContentView::RootContentView(AppModel& model, Dialogs& dialogs, QWidget* parent)
    : QStackedWidget(parent), m_model(model), m_checking(new QWidget),
      m_welcome(new WelcomeView(model)), m_main(new MainWindowView(model, dialogs))
{
    auto* column = new QVBoxLayout(m_checking);
    column->setSpacing(10);
    column->addStretch();
    auto* spinner = new QProgressBar;
    spinner->setRange(0, 0); // busy
    spinner->setFixedWidth(120);
    spinner->setTextVisible(false);
    column->addWidget(spinner, 0, Qt::AlignHCenter);
    auto* text = new QLabel(u"正在检查登录状态"_s);
    text->setObjectName(u"secondary"_s);
    text->setFont(DS::font(14));
    column->addWidget(text, 0, Qt::AlignHCenter);
    column->addStretch();

    addWidget(m_checking);
    addWidget(m_welcome);
    addWidget(m_main);
    setAutoFillBackground(true);
    restyle();
    connect(&model, &AppModel::accountChanged, this, &RootContentView::follow);
    follow();
}

void RootContentView::follow()
{
    const std::optional<bool> signedIn = m_model.signedIn();
    QWidget* page = !signedIn ? m_checking : *signedIn ? static_cast<QWidget*>(m_main) : m_welcome;
    if (page == currentWidget())
        return;
    setCurrentWidget(page);
    // Signed out (or not yet signed in): the control that had the keyboard is gone with the
    // main page; typing goes to the form.
    if (page == m_welcome)
        m_welcome->focusInput();
}

void RootContentView::showEvent(QShowEvent* event)
{
    QStackedWidget::showEvent(event);
    if (m_checked)
        return;
    m_checked = true;
    m_model.refreshAuthAsync();
}

void RootContentView::restyle()
{
    const bool dark = DS::isDark(QApplication::palette());
    QPalette p = palette();
    p.setColor(QPalette::Window, DS::windowBackground(dark));
    setPalette(p);
    if (auto* text = m_checking->findChild<QLabel*>(u"secondary"_s)) {
        QPalette tp = text->palette();
        tp.setColor(QPalette::WindowText, DS::secondaryText(dark));
        text->setPalette(tp);
    }
}

void RootContentView::changeEvent(QEvent* event)
{
    // Our own setPalette also lands here; restyling is idempotent, so that is harmless.
    if (event->type() == QEvent::ApplicationPaletteChange)
        restyle();
    QStackedWidget::changeEvent(event);
}
