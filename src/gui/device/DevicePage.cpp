#include "device/DevicePage.h"

#include "AppModel.h"
#include "design/DSButton.h"
#include "design/DSCard.h"
#include "design/DesignSystem.h"
#include "design/Icons.h"
#include "device/DeviceText.h"
#include "platform/PlatformTexts.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QLabel* heading(const QString& text)
{
    auto* l = new QLabel(text);
    l->setFont(DS::font(15, QFont::DemiBold));
    return l;
}

QLabel* wrapped(const QString& text = {})
{
    auto* l = new QLabel(text);
    l->setWordWrap(true);
    l->setFont(DS::font(13));
    return l;
}

// Marks the label for restyle(), which gives it the appearance's secondary text colour.
const char* const secondaryTag = "dsSecondary";

QLabel* secondary(const QString& text = {})
{
    auto* l = wrapped(text);
    l->setFont(DS::font(12));
    l->setProperty(secondaryTag, true);
    return l;
}

} // namespace

DevicePage::DevicePage(AppModel& model, Clock clock, QWidget* parent)
    : QWidget(parent), m_model(model), m_clock(std::move(clock)), m_tick(new QTimer(this))
{
    setObjectName(QStringLiteral("devicePage"));
    auto* column = new QVBoxLayout;
    column->setContentsMargins(24, 20, 24, 24);
    column->setSpacing(16);
    column->addWidget(header());
    column->addWidget(identityCard());
    column->addWidget(readingsCard());
    column->addWidget(filesCard());
    column->addWidget(archiveCard());
    column->addWidget(rulesCard());
    column->addStretch(1);

    auto* body = new QWidget;
    body->setLayout(column);
    body->setMaximumWidth(DS::scaled(760));
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(body);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    for (auto signal : {&AppModel::deviceChanged, &AppModel::phaseChanged, &AppModel::itemsChanged,
                        &AppModel::auditReportChanged, &AppModel::settingsChanged}) {
        connect(&m_model, signal, this, &DevicePage::refresh);
    }
    // Relative times ("5 分钟前") move on while nothing else changes.
    m_tick->setInterval(15'000);
    connect(m_tick, &QTimer::timeout, this, &DevicePage::refresh);
    m_tick->start();
    restyle();
    refresh();
}

void DevicePage::restyle()
{
    const QColor colour = DS::secondaryText(DS::isDark(*this));
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label->property(secondaryTag).toBool()) {
            QPalette p = label->palette();
            p.setColor(QPalette::WindowText, colour);
            label->setPalette(p);
        }
    }
}

void DevicePage::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ApplicationPaletteChange) {
        restyle();
        refresh(); // the header's symbol is tinted for the appearance
    }
    QWidget::changeEvent(event);
}

QWidget* DevicePage::header()
{
    auto* box = new QWidget;
    m_symbol = new QLabel;
    m_symbol->setObjectName(QStringLiteral("reachability"));
    m_name = new QLabel;
    m_name->setObjectName(QStringLiteral("deviceName"));
    m_name->setFont(DS::font(20, QFont::DemiBold));
    m_connection = wrapped();
    m_connection->setObjectName(QStringLiteral("connectionLine"));
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(m_name);
    texts->addWidget(m_connection);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_symbol, 0, Qt::AlignTop);
    row->addLayout(texts, 1);
    return box;
}

QWidget* DevicePage::identityCard()
{
    auto* card = new DSCard;
    auto* column = new QVBoxLayout(card);
    column->addWidget(heading(QStringLiteral("这支笔")));
    column->addWidget(secondary(
        QStringLiteral("Mindvault里按这个名字记账。型号名所有 QX27 都一样，认不出是哪一支。")));
    m_draftName = new QLineEdit;
    m_draftName->setObjectName(QStringLiteral("draftName"));
    m_draftName->setPlaceholderText(QStringLiteral("给它起个名字"));
    m_draftName->setAccessibleName(QStringLiteral("录音笔的名字"));
    m_rename = new DSButton(QStringLiteral("改名"), DSButton::Style::secondary);
    m_rename->setObjectName(QStringLiteral("rename"));
    auto* row = new QHBoxLayout;
    row->addWidget(m_draftName, 1);
    row->addWidget(m_rename);
    column->addLayout(row);
    m_renameNote = secondary();
    m_renameNote->setObjectName(QStringLiteral("renameNote"));
    m_renameNote->setProperty(secondaryTag, false);
    m_renameNote->setStyleSheet(QStringLiteral("color: %1;").arg(DS::warn.name()));
    m_renameNote->hide();
    column->addWidget(m_renameNote);
    connect(m_rename, &QPushButton::clicked, this, [this] { rename(); });
    connect(m_draftName, &QLineEdit::returnPressed, this, [this] {
        if (!m_renaming) {
            rename();
        }
    });
    connect(m_draftName, &QLineEdit::textEdited, this, [this](const QString& text) {
        m_draftEdited = text != m_model.device().bindingName.value_or(QString());
        m_draftPen = m_model.device().peripheralId;
    });
    auto* abandon = new QShortcut(QKeySequence(Qt::Key_Escape), m_draftName);
    abandon->setContext(Qt::WidgetShortcut);
    connect(abandon, &QShortcut::activated, this, &DevicePage::abandonDraft);
    return card;
}

QWidget* DevicePage::readingsCard()
{
    auto* card = new DSCard;
    auto* column = new QVBoxLayout(card);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(24);
    const auto cell = [&](int col, const QString& caption, QLabel*& value, QLabel* note = nullptr) {
        value = new QLabel(QStringLiteral("—"));
        value->setFont(DS::font(18, QFont::DemiBold));
        auto* cap = secondary(caption);
        grid->addWidget(cap, 0, col);
        grid->addWidget(value, 1, col);
        if (note) {
            grid->addWidget(note, 2, col);
        }
        value->setAccessibleName(caption);
    };
    m_fileNote = secondary();
    m_fileNote->setObjectName(QStringLiteral("fileNote"));
    cell(0, QStringLiteral("电量"), m_battery);
    cell(1, QStringLiteral("容量"), m_capacity);
    cell(2, QStringLiteral("固件"), m_firmware);
    cell(3, QStringLiteral("录音"), m_fileCount, m_fileNote);
    m_battery->setObjectName(QStringLiteral("battery"));
    m_capacity->setObjectName(QStringLiteral("capacity"));
    m_firmware->setObjectName(QStringLiteral("firmware"));
    m_fileCount->setObjectName(QStringLiteral("fileCount"));
    column->addLayout(grid);
    m_readingsAge = secondary();
    m_readingsAge->setObjectName(QStringLiteral("readingsAge"));
    column->addWidget(m_readingsAge);
    return card;
}

QWidget* DevicePage::filesCard()
{
    auto* card = new DSCard;
    auto* column = new QVBoxLayout(card);
    m_filesHeading = heading(QString());
    m_filesHeading->setObjectName(QStringLiteral("filesHeading"));
    column->addWidget(m_filesHeading);
    m_files = new QVBoxLayout;
    m_files->setSpacing(0);
    column->addLayout(m_files);
    return card;
}

QWidget* DevicePage::archiveCard()
{
    auto* card = new DSCard;
    auto* column = new QVBoxLayout(card);
    column->addWidget(heading(QStringLiteral("本机归档")));
    m_archiveText = secondary(PlatformTexts::auditCardNote());
    m_archiveText->setObjectName(QStringLiteral("archiveText"));
    m_archiveResult = wrapped();
    m_archiveResult->setObjectName(QStringLiteral("archiveResult"));
    m_archiveUnlisted = wrapped();
    m_archiveUnlisted->setObjectName(QStringLiteral("archiveUnlisted"));
    auto* run = new DSButton(QStringLiteral("体检一次"), DSButton::Style::secondary);
    run->setObjectName(QStringLiteral("runAudit"));
    // Run it and show the findings: the card only has room for the counts.
    connect(run, &QPushButton::clicked, this, [this] {
        if (m_model.actions.runAudit) {
            m_model.actions.runAudit();
        }
        m_model.setPanel(AppModel::Panel::audit);
    });
    column->addWidget(m_archiveText);
    column->addWidget(m_archiveResult);
    column->addWidget(m_archiveUnlisted);
    column->addWidget(run, 0, Qt::AlignLeft);
    return card;
}

QWidget* DevicePage::rulesCard()
{
    auto* card = new DSCard;
    auto* column = new QVBoxLayout(card);
    column->addWidget(heading(QStringLiteral("同步与清理")));
    m_rulesText = secondary();
    m_rulesText->setObjectName(QStringLiteral("rulesText"));
    m_cleanup = new QCheckBox(QStringLiteral("同步后清理录音笔"));
    m_cleanup->setObjectName(QStringLiteral("cleanupToggle"));
    connect(m_cleanup, &QCheckBox::clicked, this, [this](bool on) {
        if (m_model.actions.setCleanup) {
            m_model.actions.setCleanup(on);
        }
        refresh();
    });
    column->addWidget(m_rulesText);
    column->addWidget(m_cleanup);
    return card;
}

void DevicePage::refresh()
{
    const QDateTime now = m_clock();
    const DeviceInfo& device = m_model.device();
    const SyncPhase& phase = m_model.phase();

    const bool reachable = DeviceText::reachable(device, phase, now);
    m_symbol->setPixmap(Icons::pixmap(reachable ? QStringLiteral("dot.radiowaves.left.and.right")
                                                : QStringLiteral("wifi.slash"),
                                      28, reachable ? DS::focus : DS::glyph, devicePixelRatioF()));
    m_symbol->setAccessibleName(reachable ? QStringLiteral("录音笔在附近")
                                          : QStringLiteral("录音笔不在附近"));
    m_name->setText(device.bindingName.value_or(device.name));
    m_connection->setText(DeviceText::connectionLine(device, phase, now));

    if (m_draftEdited && m_draftPen != device.peripheralId) {
        m_draftEdited = false; // typed for another pen
    }
    const QString bound = device.bindingName.value_or(QString());
    if (!m_draftEdited && !m_renaming && m_draftName->text() != bound) {
        m_draftName->setText(bound);
    }

    m_battery->setText(DeviceText::battery(device));
    m_capacity->setText(DeviceText::capacity(device));
    m_firmware->setText(DeviceText::firmware(device));
    qsizetype onPen = 0;
    qsizetype waiting = 0;
    for (const RecordingItem& item : m_model.items()) {
        if (item.onDevice()) {
            ++onPen;
            waiting += item.onDisk() ? 0 : 1;
        }
    }
    m_fileCount->setText(QString::number(onPen) + QStringLiteral(" 条"));
    m_fileNote->setText(
        onPen == 0 ? QString()
                   : (waiting > 0 ? QStringLiteral("等着导入") : QStringLiteral("都导完了")));
    m_readingsAge->setText(DeviceText::readingsAge(device.readingsAt, phase, now));
    refreshFiles();

    const std::optional<ArchiveAudit::Report>& report = m_model.auditReport();
    m_archiveText->setVisible(!report);
    m_archiveResult->setVisible(report.has_value());
    m_archiveUnlisted->setVisible(report && !report->unlistedRawPackets.isEmpty());
    if (report) {
        m_archiveResult->setText(
            report->problems() > 0
                ? QString(QString::number(report->total()) + QStringLiteral(" 条里 ") +
                          QString::number(report->problems()) + QStringLiteral(" 条有问题"))
                : QString(QString::number(report->total()) + QStringLiteral(" 条留档全部完好")));
        m_archiveUnlisted->setText(QStringLiteral("另有 ") +
                                   QString::number(report->unlistedRawPackets.size()) +
                                   QStringLiteral(" 条裸包在磁盘上但清单没记账"));
    }

    // The threshold is the user's setting, not a fixed five minutes.
    const int minutes = m_model.minUploadMinutes();
    const QString threshold = minutes > 0 ? QStringLiteral("不足 ") + QString::number(minutes) +
                                                QStringLiteral(" 分钟的不推给Mindvault。")
                                          : QStringLiteral("不论长短都推给Mindvault。");
    m_rulesText->setText(m_model.cleanupEnabled()
                             ? QString(QStringLiteral("同步成功、且已进Mindvault满 ") +
                                       QString::number(m_model.coolingDays()) +
                                       QStringLiteral(" 天的，才会从录音笔上删。") + threshold)
                             : QString(QStringLiteral("只导入，不删录音笔上的原件。") + threshold));
    m_cleanup->setChecked(m_model.cleanupEnabled());
}

void DevicePage::refreshFiles()
{
    QList<const RecordingItem*> files;
    QString signature;
    for (const RecordingItem& item : m_model.items()) {
        if (item.onDevice()) {
            files << &item;
            signature += item.base + QLatin1Char('|') + QString::number(*item.deviceSize) +
                         QLatin1Char('|') + QString::number(item.onDisk()) + QLatin1Char('\n');
        }
    }
    m_filesHeading->setText(QStringLiteral("笔上的文件　") + QString::number(files.size()) +
                            QStringLiteral(" 条"));
    if (signature == m_filesShown) {
        return;
    }
    m_filesShown = signature;
    while (QLayoutItem* old = m_files->takeAt(0)) {
        delete old->widget();
        delete old;
    }
    for (const RecordingItem* item : files) {
        const QString size = DeviceText::fileSize(*item);
        if (!item->onDisk()) {
            auto* line = new QLabel(item->base + QStringLiteral("　") + size +
                                    QStringLiteral("　还没导进来"));
            line->setFont(DS::font(13));
            line->setContentsMargins(8, 6, 8, 6);
            m_files->addWidget(line);
            continue;
        }
        auto* button = new QPushButton;
        button->setObjectName(QStringLiteral("file-") + item->base);
        button->setFlat(true);
        button->setCursor(Qt::PointingHandCursor);
        button->setToolTip(QStringLiteral("在「内容」里打开这一条"));
        button->setAccessibleName(item->base + QStringLiteral("，") + size +
                                  QStringLiteral("，在「内容」里打开这一条"));
        auto* row = new QHBoxLayout(button);
        row->setContentsMargins(8, 6, 8, 6);
        auto* name = new QLabel(item->base + QStringLiteral("　") + size);
        name->setFont(DS::font(13));
        auto* chevron = new QLabel;
        chevron->setPixmap(
            Icons::pixmap(QStringLiteral("chevron.right"), 12, DS::glyph, devicePixelRatioF()));
        row->addWidget(name, 1);
        row->addWidget(chevron);
        button->setMinimumHeight(name->sizeHint().height() + 12);
        const QString base = item->base;
        connect(button, &QPushButton::clicked, this, [this, base] { Q_EMIT openRecording(base); });
        m_files->addWidget(button);
    }
}

QCoro::Task<> DevicePage::rename()
{
    QPointer<DevicePage> self(this);
    if (!m_model.actions.renameDevice) {
        co_return;
    }
    m_renaming = true;
    // A disabled button hands focus to the next control, and the scroll area would follow it
    // down the page: park it in the field beside it instead.
    if (m_rename->hasFocus()) {
        m_draftName->setFocus(Qt::OtherFocusReason);
    }
    m_rename->setEnabled(false);
    m_renameNote->hide();
    const std::optional<QString> refused =
        co_await m_model.actions.renameDevice(m_draftName->text().trimmed());
    if (!self) {
        co_return;
    }
    m_renaming = false;
    m_rename->setEnabled(true);
    m_renameNote->setVisible(refused.has_value());
    m_renameNote->setText(refused.value_or(QString()));
    if (refused) {
        // Kept for another try; the field is where the fix goes.
        m_draftEdited = true;
        m_draftPen = m_model.device().peripheralId;
        m_draftName->setFocus(Qt::OtherFocusReason);
    } else {
        m_draftEdited = false;
        // The engine already holds the new name; take it now rather than show the old one
        // until the model's next turn.
        m_model.pull();
    }
    refresh();
}

void DevicePage::abandonDraft()
{
    m_draftEdited = false;
    m_renameNote->hide();
    refresh();
}
