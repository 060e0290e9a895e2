#include "WelcomeView.h"

#include "AppModel.h"
#include "design/DSButton.h"
#include "design/DSCard.h"
#include "design/DesignSystem.h"
#include "design/Icons.h"
#include "platform/PlatformTexts.h"

#include <QApplication>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

WelcomeView::WelcomeView(AppModel& model, QWidget* parent)
    : QWidget(parent), m_model(model), m_email(new QLineEdit), m_password(new QLineEdit),
      m_button(new DSButton(u"登录"_s)), m_errorRow(new QWidget), m_errorIcon(new QLabel),
      m_errorText(new QLabel)
{
    auto* outer = new QVBoxLayout(this);
    outer->addStretch();
    auto* card = new DSCard(nullptr, 14, 28);
    card->setFixedWidth(DS::scaled(440));
    outer->addWidget(card, 0, Qt::AlignHCenter);
    outer->addStretch();

    auto* column = new QVBoxLayout(card);
    column->setSpacing(14);

    auto* symbol = new QLabel;
    symbol->setObjectName(u"symbol"_s);
    symbol->setAlignment(Qt::AlignHCenter);
    column->addWidget(symbol);
    auto* title = new QLabel(u"Mindvault"_s);
    title->setFont(DS::font(24, QFont::Bold));
    title->setAlignment(Qt::AlignHCenter);
    column->addWidget(title);
    auto* tagline = new QLabel(u"把录音笔里的话，变成Mindvault里的判断"_s);
    tagline->setFont(DS::font(14));
    tagline->setAlignment(Qt::AlignHCenter);
    m_secondary << tagline;
    column->addWidget(tagline);

    const QList<std::pair<QString, QString>> steps{
        {u"登录Mindvault账号"_s, {}},
        {PlatformTexts::bluetoothStep(), PlatformTexts::bluetoothStepNote()},
        {u"把录音笔开机放在电脑旁"_s, u"它一广播就会自动导入，你不用点任何按钮"_s},
    };
    auto* stepList = new QVBoxLayout;
    stepList->setSpacing(8);
    for (int i = 0; i < steps.size(); ++i) {
        auto* row = new QHBoxLayout;
        auto* number = new QLabel(QString::number(i + 1));
        number->setObjectName(u"stepNumber"_s);
        number->setFont(DS::font(12, QFont::DemiBold));
        const int disc = qMax(22, QFontMetrics(number->font()).height() + 6);
        number->setFixedSize(disc, disc);
        number->setAlignment(Qt::AlignCenter);
        row->addWidget(number, 0, Qt::AlignTop);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        auto* stepTitle = new QLabel(steps[i].first);
        stepTitle->setFont(DS::font(14, QFont::Medium));
        texts->addWidget(stepTitle);
        if (!steps[i].second.isEmpty()) {
            auto* note = new QLabel(steps[i].second);
            note->setFont(DS::font(12));
            m_secondary << note;
            texts->addWidget(note);
        }
        row->addLayout(texts, 1);
        auto* done = new QLabel;
        done->setObjectName(u"stepDone"_s);
        done->setAccessibleName(steps[i].first + u"：已完成"_s);
        row->addWidget(done, 0, Qt::AlignTop);
        m_doneMarks << done;
        stepList->addLayout(row);
    }
    column->addLayout(stepList);

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_email->setAccessibleName(u"邮箱"_s);
    m_email->setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase);
    m_password->setAccessibleName(u"密码"_s);
    m_password->setEchoMode(QLineEdit::Password);
    form->addRow(u"邮箱"_s, m_email);
    form->addRow(u"密码"_s, m_password);
    column->addLayout(form);
    auto* privacy = new QLabel(u"密码只用来换取登录凭证，不会保存在本机，也不会写进日志。"_s);
    privacy->setWordWrap(true);
    privacy->setFont(DS::font(12));
    m_secondary << privacy;
    column->addWidget(privacy);

    auto* errorLine = new QHBoxLayout(m_errorRow);
    errorLine->setContentsMargins(0, 0, 0, 0);
    errorLine->addWidget(m_errorIcon, 0, Qt::AlignTop);
    m_errorText->setWordWrap(true);
    m_errorText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    errorLine->addWidget(m_errorText, 1);
    column->addWidget(m_errorRow);

    column->addWidget(m_button, 0, Qt::AlignHCenter);

    connect(m_button, &QPushButton::clicked, this, [this] { submit(); });
    connect(m_password, &QLineEdit::returnPressed, this, [this] {
        if (m_button->isEnabled())
            submit();
    });
    connect(m_email, &QLineEdit::textChanged, this, &WelcomeView::refresh);
    connect(m_password, &QLineEdit::textChanged, this, &WelcomeView::refresh);
    connect(&model, &AppModel::accountChanged, this, &WelcomeView::refresh);
    for (auto signal :
         {&AppModel::accountChanged, &AppModel::deviceChanged, &AppModel::phaseChanged}) {
        connect(&model, signal, this, &WelcomeView::refreshSteps);
    }
    restyle();
    refresh();
    refreshSteps();
}

bool WelcomeView::stepDone(int step) const
{
    using K = SyncPhase::Kind;
    const SyncPhase& phase = m_model.phase();
    const bool heardPen = m_model.device().lastSeenAt.has_value();
    switch (step) {
    case 0:
        return m_model.signedIn() == true;
    case 1:
        // The radio works: the engine is listening or talking to the pen, or has heard it.
        return heardPen || phase.is(K::WaitingForDevice) || phase.is(K::Connecting) ||
               phase.is(K::Listing) || phase.is(K::Downloading) || phase.is(K::Cleaning);
    case 2:
        return heardPen;
    default:
        return false;
    }
}

void WelcomeView::refreshSteps()
{
    for (int i = 0; i < m_doneMarks.size(); ++i)
        m_doneMarks[i]->setVisible(stepDone(i));
}

void WelcomeView::focusInput()
{
    QLineEdit* field = m_email->text().trimmed().isEmpty() ? m_email : m_password;
    field->setFocus(Qt::OtherFocusReason);
}

QString WelcomeView::errorText() const
{
    return m_errorRow->isHidden() ? QString() : m_errorText->text();
}

void WelcomeView::refresh()
{
    const std::optional<QString> shown = m_error ? m_error : m_model.sessionNotice();
    m_errorText->setText(shown.value_or(QString()));
    m_errorRow->setVisible(shown.has_value());
    m_button->setText(m_busy ? u"登录中"_s : u"登录"_s);
    m_button->setBusy(m_busy);
    m_button->setEnabled(!m_busy && !m_email->text().trimmed().isEmpty() &&
                         !m_password->text().isEmpty());
    m_email->setEnabled(!m_busy);
    m_password->setEnabled(!m_busy);
}

QCoro::Task<> WelcomeView::submit()
{
    if (m_busy)
        co_return;
    QPointer<WelcomeView> self(this);
    m_busy = true;
    m_error.reset();
    refresh();
    const std::optional<QString> error =
        co_await m_model.actions.signIn(m_email->text().trimmed(), m_password->text());
    if (!self)
        co_return;
    m_busy = false;
    m_error = error;
    // The password was needed for this one request only.
    m_password->clear();
    refresh();
    // The fields were disabled while busy and lost the keyboard; give it back where the next
    // attempt starts (signed in, the page is gone and this does nothing visible).
    if (error)
        focusInput();
}

void WelcomeView::restyle()
{
    const bool dark = DS::isDark(QApplication::palette());
    findChild<QLabel*>(u"symbol"_s)
        ->setPixmap(Icons::pixmap(u"person.wave.2"_s, 40, DS::accent(dark), devicePixelRatioF()));
    for (QLabel* l : m_secondary) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, DS::secondaryText(dark));
        l->setPalette(p);
    }
    for (QLabel* n : findChildren<QLabel*>(u"stepNumber"_s)) {
        n->setStyleSheet(u"QLabel { border-radius: %3px; background: %1; color: %2; }"_s.arg(
            (dark ? DS::ink400 : DS::focusSoft).name(), DS::accent(dark).name(),
            QString::number(n->height() / 2)));
    }
    m_errorIcon->setPixmap(
        Icons::pixmap(u"exclamationmark.triangle.fill"_s, 16, DS::warn, devicePixelRatioF()));
    m_errorIcon->setAccessibleName(u"出错了"_s);
    for (QLabel* done : m_doneMarks)
        done->setPixmap(Icons::pixmap(u"checkmark.circle.fill"_s, 18, DS::ok, devicePixelRatioF()));
}

void WelcomeView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ApplicationPaletteChange)
        restyle();
    QWidget::changeEvent(event);
}
