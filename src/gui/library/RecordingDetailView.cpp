#include "library/RecordingDetailView.h"

#include "AppModel.h"
#include "Dialogs.h"
#include "design/DSButton.h"
#include "design/DesignSystem.h"
#include "design/Icons.h"
#include "format/Fmt.h"
#include "library/ListenBar.h"
#include "library/ListenPlayer.h"
#include "library/TranscriptView.h"
#include "widgets/ChainStatus.h"
#include "widgets/ChainView.h"

#include <QCoro/QCoroFuture>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

RecordingDetailView::RecordingDetailView(AppModel& model, Dialogs& dialogs, ListenPlayer& player,
                                         TranscriptReader& reader, BarsFn bars, QWidget* parent)
    : QWidget(parent), m_model(model), m_dialogs(dialogs), m_player(player), m_bars(std::move(bars))
{
    setObjectName(QStringLiteral("recordingDetail"));
    setMinimumWidth(560);

    m_title = new QLabel;
    m_title->setObjectName(QStringLiteral("detailTitle"));
    m_title->setFont(DS::font(22, QFont::DemiBold));
    m_title->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_date = new QLabel;
    m_date->setObjectName(QStringLiteral("detailDate"));
    m_date->setFont(DS::font(13));
    m_duration = new QLabel;
    m_duration->setObjectName(QStringLiteral("detailDuration"));
    m_duration->setFont(DS::font(13));
    auto* sub = new QHBoxLayout;
    sub->addWidget(m_date);
    sub->addWidget(m_duration);
    sub->addStretch(1);

    auto* chainHeading = new QLabel(QStringLiteral("走到哪了"));
    chainHeading->setFont(DS::font(15, QFont::DemiBold));
    m_chain = new ChainView(ChainStatus(), true);
    m_chain->setObjectName(QStringLiteral("detailChain"));

    m_shortNote = new QWidget;
    m_shortText = new QLabel;
    m_shortText->setObjectName(QStringLiteral("shortText"));
    m_shortText->setWordWrap(true);
    auto* pushAnyway =
        new DSButton(QStringLiteral("还是推给Mindvault"), DSButton::Style::secondary);
    pushAnyway->setObjectName(QStringLiteral("pushNow"));
    auto* shortRow = new QHBoxLayout(m_shortNote);
    shortRow->setContentsMargins(0, 0, 0, 0);
    shortRow->addWidget(m_shortText, 1);
    shortRow->addWidget(pushAnyway);

    m_listen = new ListenBar(m_player);
    m_listen->setObjectName(QStringLiteral("listen"));

    m_openVault = action(QStringLiteral("openVault"), QString(), QString());
    m_openVault->setIcon(Icons::symbol(QStringLiteral("arrow.up.forward"), DS::ink400));
    m_redownload = action(QStringLiteral("redownload"), QStringLiteral("重新下载"),
                          QStringLiteral("清掉这条的下载记录与失败计数，下次连上录音笔重新拉一遍"));
    m_repush = action(QStringLiteral("repush"), QStringLiteral("重新推送"),
                      QStringLiteral("换一个幂等键重新建会话推一遍"));
    m_dismiss = action(QStringLiteral("dismiss"), QString(),
                       QStringLiteral("不再计入「失败」，录音和Mindvault里的记录都不动"));
    m_star = action(QStringLiteral("star"), QString(), QString());
    m_reveal = action(QStringLiteral("reveal"), QStringLiteral("在文件夹里显示"),
                      QStringLiteral("在文件管理器里选中这条的 ogg 文件"));
    m_delete = action(QStringLiteral("deleteFromDevice"), QStringLiteral("从设备删除"),
                      QStringLiteral("从录音笔上删掉这条，删之前先说清楚后果"));
    m_actions = new QGridLayout;
    m_actions->setSpacing(8);

    TranscriptView* transcript = new TranscriptView(reader);
    m_transcript = transcript;
    m_transcript->setObjectName(QStringLiteral("transcript"));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    auto* header = new QVBoxLayout;
    header->setSpacing(4);
    header->addWidget(m_title);
    header->addLayout(sub);
    column->addLayout(header);
    column->addWidget(m_listen);
    column->addWidget(chainHeading);
    column->addWidget(m_chain);
    column->addWidget(m_shortNote);
    column->addLayout(m_actions);
    column->addWidget(m_transcript, 1);
    column->addStretch(0);

    const auto call = [this](auto member) {
        return [this, member] {
            if (m_item && m_model.actions.*member) {
                (m_model.actions.*member)(*m_item);
            }
        };
    };
    connect(pushAnyway, &QPushButton::clicked, this, call(&AppActions::pushNow));
    connect(m_redownload, &QPushButton::clicked, this, call(&AppActions::redownload));
    connect(m_repush, &QPushButton::clicked, this, call(&AppActions::repush));
    connect(m_dismiss, &QPushButton::clicked, this, call(&AppActions::toggleDismissed));
    connect(m_star, &QPushButton::clicked, this, call(&AppActions::toggleStar));
    connect(m_reveal, &QPushButton::clicked, this, call(&AppActions::revealLocal));
    connect(m_delete, &QPushButton::clicked, this, &RecordingDetailView::confirmDelete);
    connect(m_openVault, &QPushButton::clicked, this, [this] {
        if (!m_item) {
            return;
        }
        if (m_item->transcriptId) {
            if (m_model.actions.openVaultSession) {
                m_model.actions.openVaultSession(*m_item);
            }
        } else if (m_model.actions.openVaultHome) {
            m_model.actions.openVaultHome();
        }
    });
}

QPushButton* RecordingDetailView::action(const QString& name, const QString& text,
                                         const QString& help)
{
    auto* b = new DSButton(text, DSButton::Style::secondary, this);
    b->setObjectName(name);
    b->setToolTip(help);
    return b;
}

void RecordingDetailView::setItem(const RecordingItem& item,
                                  const std::optional<RecordingActivity>& activity)
{
    const bool other = !m_item || m_item->base != item.base;
    const bool archivedChanged = other || m_item->onDisk() != item.onDisk();
    m_item = item;

    m_title->setText(Fmt::title(item.base));
    m_date->setText(
        Fmt::dateTitle(item.vaultTitle.value_or(item.plannedTitle.value_or(item.base))));
    m_duration->setText(Fmt::duration(item.durationSec));
    m_chain->setStatus(ChainStatus(item, activity));

    m_shortNote->setVisible(item.skippedShortSeconds.has_value());
    if (item.skippedShortSeconds) {
        m_shortText->setText(QStringLiteral("只有 ") + Fmt::duration(*item.skippedShortSeconds) +
                             QStringLiteral("，短于门槛，只落盘没推Mindvault"));
    }

    const bool transcribed = item.transcriptId.has_value();
    m_openVault->setText(transcribed ? QStringLiteral("在Mindvault打开")
                                     : QStringLiteral("打开Mindvault"));
    m_openVault->setToolTip(transcribed ? QStringLiteral("去Mindvault看这条的转写、说话人和洞察")
                                        : QStringLiteral("这条还没转写完，先去Mindvault首页"));
    m_repush->setVisible(item.vaultStatus == QStringLiteral("failed"));
    m_dismiss->setText(item.dismissed ? QStringLiteral("取消忽略") : QStringLiteral("忽略这条"));
    m_star->setText(item.starred ? QStringLiteral("取消收藏") : QStringLiteral("收藏"));
    m_reveal->setVisible(item.onDisk());
    // Only what is still on the pen can be deleted from it.
    m_delete->setEnabled(item.onDevice());
    placeActions();

    if (archivedChanged) {
        const QString path =
            m_model.importFolder + QLatin1Char('/') + item.base + QStringLiteral(".ogg");
        m_listen->setVisible(item.onDisk());
        m_listen->setBars({});
        if (item.onDisk()) {
            if (m_player.path() != path) {
                m_player.load(path);
            }
            loadBars(item.base, path);
        } else {
            m_player.clear();
        }
    }
    m_listen->setListedLength(item.durationSec);
    m_transcript->setTranscriptId(item.inVault() ? item.transcriptId : std::nullopt);
}

void RecordingDetailView::placeActions()
{
    // Four to a row, without gaps where an action does not apply.
    const QList<QPushButton*> buttons{m_openVault, m_redownload, m_repush, m_dismiss,
                                      m_star,      m_reveal,     m_delete};
    int slot = 0;
    for (QPushButton* b : buttons) {
        m_actions->removeWidget(b);
        if (!b->isHidden()) {
            m_actions->addWidget(b, slot / 4, slot % 4);
            ++slot;
        }
    }
}

void RecordingDetailView::loadBars(const QString& base, const QString& path)
{
    if (!m_bars) {
        return;
    }
    [](QPointer<RecordingDetailView> self, BarsFn bars, QString b, QString p) -> QCoro::Task<> {
        // Off the event loop: the first time decodes the whole recording.
        const auto job = [bars, b, p] {
            return bars(b, p);
        };
        QFuture<std::optional<std::vector<float>>> future = QtConcurrent::run(job);
        std::optional<std::vector<float>> result = co_await future;
        RecordingDetailView* view = self.data();
        if (view && result && view->m_item && view->m_item->base == b) {
            view->m_listen->setBars(std::move(*result));
        }
    }(this, m_bars, base, path);
}

void RecordingDetailView::confirmDelete()
{
    if (!m_item) {
        return;
    }
    const RecordingItem item = *m_item;
    Dialogs::Alert alert;
    alert.title = QStringLiteral("从录音笔上删掉这条？");
    alert.text = m_model.actions.deleteImpact ? m_model.actions.deleteImpact(item) : QString();
    alert.buttons = {QStringLiteral("删除"), QStringLiteral("取消")};
    alert.destructiveButton = 0;
    if (m_dialogs.confirm(alert) && m_model.actions.deleteFromDevice) {
        m_model.actions.deleteFromDevice(item);
    }
}
