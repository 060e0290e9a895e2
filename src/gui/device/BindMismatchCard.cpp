#include "device/BindMismatchCard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

BindMismatchCard::BindMismatchCard(BindMismatch mismatch, ConfirmFn onConfirm,
                                   std::function<void()> onCancel, QWidget* parent)
    : QFrame(parent), m_mismatch(std::move(mismatch)), m_onConfirm(std::move(onConfirm)),
      m_onCancel(std::move(onCancel))
{
    setObjectName(QStringLiteral("bindMismatchCard"));
    setFrameShape(QFrame::StyledPanel);
    setAccessibleName(QStringLiteral("录音笔绑定冲突"));

    const bool named = !m_mismatch.deviceName.trimmed().isEmpty();

    auto* icon = new QLabel;
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(28, 28));
    auto* title = new QLabel(QStringLiteral("「") + m_mismatch.deviceName +
                             QStringLiteral("」绑定过别的账号"));
    title->setObjectName(QStringLiteral("title"));
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.25);
    big.setBold(true);
    title->setFont(big);
    auto* header = new QHBoxLayout;
    header->addWidget(icon);
    header->addWidget(title, 1);

    auto* text = new QLabel(QStringLiteral("这支笔上次同步到「") + m_mismatch.previousEmail +
                            QStringLiteral("」，现在登录的是「") + m_mismatch.currentEmail +
                            QStringLiteral("」。") +
                            QStringLiteral("同步已经拦下——继续会把接下来的内容放进后者，不会动前面"
                                           "已经同步过的内容。"));
    text->setObjectName(QStringLiteral("text"));
    text->setWordWrap(true);

    m_name = new QLineEdit;
    m_name->setObjectName(QStringLiteral("name"));
    m_name->setPlaceholderText(named ? QStringLiteral("给这支笔起个新名字")
                                     : QStringLiteral("给这支笔起个名字，比如「我的录音笔」"));
    m_name->setAccessibleName(QStringLiteral("录音笔的新名字"));

    m_error = new QLabel;
    m_error->setObjectName(QStringLiteral("error"));
    m_error->setWordWrap(true);
    m_error->hide();

    m_confirmText = named ? QStringLiteral("继续") : QStringLiteral("确认");
    m_confirm = new QPushButton(m_confirmText);
    m_confirm->setObjectName(QStringLiteral("confirm"));
    m_confirm->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("取消"));
    m_cancel->setObjectName(QStringLiteral("cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_confirm);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(12);
    layout->addLayout(header);
    layout->addWidget(text);
    layout->addWidget(m_name);
    layout->addWidget(m_error);
    layout->addLayout(buttons);

    connect(m_confirm, &QPushButton::clicked, this, [this] { confirm(); });
    connect(m_name, &QLineEdit::returnPressed, this, [this] {
        if (m_confirm->isEnabled()) {
            confirm();
        }
    });
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_onCancel) {
            m_onCancel();
        }
    });
    setFocusProxy(m_name);
}

QCoro::Task<> BindMismatchCard::confirm()
{
    QPointer<BindMismatchCard> self(this);
    const QString name = m_name->text().trimmed();
    setBusy(true);
    m_error->hide();
    const bool accepted = m_onConfirm ? co_await m_onConfirm(name) : false;
    if (!self) {
        co_return; // the card closed because the conflict was resolved
    }
    setBusy(false);
    if (!accepted) {
        m_error->setText(QStringLiteral("「") + name +
                         QStringLiteral("」这个名字已经被绑过了，换一个"));
        m_error->show();
        m_name->setFocus();
        m_name->selectAll();
    }
}

void BindMismatchCard::setBusy(bool busy)
{
    m_confirm->setEnabled(!busy);
    m_name->setEnabled(!busy);
    m_confirm->setText(busy ? QStringLiteral("确认中…") : m_confirmText);
}
