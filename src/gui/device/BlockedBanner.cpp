#include "device/BlockedBanner.h"

#include "AppModel.h"
#include "design/DSButton.h"
#include "design/DesignSystem.h"
#include "design/Icons.h"

#include <QHBoxLayout>
#include <QLabel>

BlockedBanner::BlockedBanner(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("blockedBanner"));
    setAutoFillBackground(true);
    QPalette tint = palette();
    QColor wash = DS::warn;
    wash.setAlpha(36);
    tint.setColor(QPalette::Window, wash);
    setPalette(tint);

    auto* symbol = new QLabel;
    symbol->setPixmap(Icons::pixmap(QStringLiteral("exclamationmark.triangle.fill"), 18, DS::warn,
                                    devicePixelRatioF()));
    m_text = new QLabel;
    m_text->setObjectName(QStringLiteral("blockedText"));
    m_text->setWordWrap(true);
    m_text->setFont(DS::font(13));
    m_button = new DSButton(QString(), DSButton::Style::secondary);
    m_button->setObjectName(QStringLiteral("blockedAction"));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 8, 16, 8);
    row->addWidget(symbol);
    row->addWidget(m_text, 1);
    row->addWidget(m_button);

    connect(m_button, &QPushButton::clicked, this, &BlockedBanner::act);
    connect(&m_model, &AppModel::uploadBlockedChanged, this, &BlockedBanner::refresh);
    refresh();
}

void BlockedBanner::refresh()
{
    const std::optional<QString>& blocked = m_model.uploadBlocked();
    setVisible(blocked.has_value());
    m_text->setText(blocked.value_or(QString()));
    m_button->setText(m_model.needsSignIn() ? QStringLiteral("重新登录")
                                            : QStringLiteral("查看日志"));
    setAccessibleName(blocked.value_or(QString()));
}

void BlockedBanner::act()
{
    if (m_model.needsSignIn()) {
        if (m_model.actions.signOut) {
            m_model.actions.signOut();
        }
        m_model.setSessionNotice(
            QStringLiteral("登录已失效，请重新登录。登录后积压的录音会自动推上去。"));
    } else if (m_model.actions.openLog) {
        m_model.actions.openLog();
    }
}
