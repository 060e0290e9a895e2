#include "library/RecordingListView.h"

#include "design/DesignSystem.h"
#include "design/Icons.h"
#include "library/RecordingFilter.h"
#include "library/RecordingListModel.h"
#include "library/RecordingRowDelegate.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QToolButton* counter(const QString& name, const QString& symbol, const QColor& colour)
{
    auto* b = new QToolButton;
    b->setObjectName(name);
    b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    b->setIcon(Icons::tinted(symbol, colour));
    b->setAutoRaise(true);
    b->setToolTip(QStringLiteral("只看需要处理的"));
    return b;
}

} // namespace

RecordingListView::RecordingListView(RecordingListModel& model, QWidget* parent)
    : QWidget(parent), m_model(model), m_filter(new RecordingFilter(this))
{
    m_filter->setSource(&m_model);

    m_speakers = counter(QStringLiteral("speakersCounter"), QStringLiteral("person.2"), DS::warn);
    m_failed = counter(QStringLiteral("failedCounter"), QStringLiteral("exclamationmark.triangle"),
                       DS::bad);
    m_stuck = counter(QStringLiteral("stuckCounter"), QStringLiteral("arrow.triangle.2.circlepath"),
                      DS::bad);
    auto* counters = new QHBoxLayout;
    counters->setContentsMargins(0, 0, 0, 0);
    counters->addWidget(m_speakers);
    counters->addWidget(m_failed);
    counters->addWidget(m_stuck);
    counters->addStretch(1);

    m_search = new QLineEdit;
    m_search->setObjectName(QStringLiteral("search"));
    m_search->setPlaceholderText(QStringLiteral("搜索：标题、日期、计划、转写标题"));
    m_search->setAccessibleName(QStringLiteral("搜索录音"));
    m_search->setClearButtonEnabled(true);
    // The hint stays whole at any text size: the field is at least as wide as it.
    const QFontMetrics metrics = m_search->fontMetrics();
    m_search->setMinimumWidth(metrics.horizontalAdvance(m_search->placeholderText()) +
                              2 * metrics.height());
    m_scope = new QComboBox;
    m_scope->setObjectName(QStringLiteral("scope"));
    m_scope->setAccessibleName(QStringLiteral("按状态筛选"));
    m_scope->addItem(QStringLiteral("全部"), int(RecordingFilter::Scope::all));
    m_scope->addItem(QStringLiteral("需要处理"), int(RecordingFilter::Scope::needsAttention));
    m_scope->addItem(QStringLiteral("在录音笔上"), int(RecordingFilter::Scope::onPen));
    m_scope->addItem(QStringLiteral("已标星"), int(RecordingFilter::Scope::starred));
    auto* find = new QHBoxLayout;
    find->setContentsMargins(0, 0, 0, 0);
    find->addWidget(m_search, 1);
    find->addWidget(m_scope);

    m_list = new QListView;
    m_list->setObjectName(QStringLiteral("recordings"));
    m_list->setAccessibleName(QStringLiteral("录音列表"));
    m_list->setModel(m_filter);
    m_list->setItemDelegate(new RecordingRowDelegate(m_list));
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);

    m_empty = new QLabel(QStringLiteral("没有符合的录音"));
    m_empty->setObjectName(QStringLiteral("noMatch"));
    m_empty->setAlignment(Qt::AlignCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(counters);
    layout->addLayout(find);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_empty);

    connect(m_search, &QLineEdit::textChanged, m_filter, &RecordingFilter::setSearchText);
    connect(m_scope, &QComboBox::currentIndexChanged, this, [this](int i) {
        m_filter->setScope(RecordingFilter::Scope(m_scope->itemData(i).toInt()));
    });
    for (QToolButton* b : {m_speakers, m_failed, m_stuck}) {
        connect(b, &QToolButton::clicked, this, [this] {
            m_scope->setCurrentIndex(
                m_scope->findData(int(RecordingFilter::Scope::needsAttention)));
        });
    }
    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { Q_EMIT selectionChanged(selected()); });
    connect(&m_model, &RecordingListModel::countsChanged, this,
            &RecordingListView::refreshCounters);
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
        connect(m_filter, signal, this, &RecordingListView::refreshEmpty);
    }
    connect(m_filter, &QAbstractItemModel::modelReset, this, &RecordingListView::refreshEmpty);
    connect(m_filter, &QAbstractItemModel::layoutChanged, this, &RecordingListView::refreshEmpty);

    // Ctrl+F finds, from anywhere in the window.
    auto* focusSearch = new QShortcut(QKeySequence::Find, this);
    focusSearch->setContext(Qt::WindowShortcut);
    connect(focusSearch, &QShortcut::activated, this, [this] {
        m_search->setFocus(Qt::ShortcutFocusReason);
        m_search->selectAll();
    });
    // Down from the search field goes to the list.
    connect(m_search, &QLineEdit::returnPressed, this, [this] {
        m_list->setFocus(Qt::TabFocusReason);
        if (!m_list->currentIndex().isValid() && m_filter->rowCount() > 0) {
            m_list->setCurrentIndex(m_filter->index(0, 0));
        }
    });

    setTabOrder(m_search, m_scope);
    setTabOrder(m_scope, m_list);
    refreshCounters();
    refreshEmpty();
}

void RecordingListView::select(const std::optional<QString>& base)
{
    if (!base) {
        m_list->selectionModel()->clear();
        return;
    }
    const std::optional<int> row = m_model.rowOf(*base);
    if (!row) {
        return;
    }
    QModelIndex index = m_filter->mapFromSource(m_model.index(*row, 0));
    if (!index.isValid()) {
        m_search->clear();
        m_scope->setCurrentIndex(0);
        index = m_filter->mapFromSource(m_model.index(*row, 0));
    }
    m_list->setCurrentIndex(index);
    m_list->scrollTo(index);
}

std::optional<QString> RecordingListView::selected() const
{
    const QModelIndex current = m_list->currentIndex();
    if (!current.isValid()) {
        return std::nullopt;
    }
    return current.data(RecordingListModel::BaseRole).toString();
}

void RecordingListView::refreshCounters()
{
    const auto show = [](QToolButton* b, const QString& word, int n) {
        b->setVisible(n > 0);
        b->setText(word + QStringLiteral(" %1").arg(n));
        b->setAccessibleName(word + QStringLiteral(" %1 条，点一下只看需要处理的").arg(n));
    };
    show(m_speakers, QStringLiteral("待认人"), m_model.count(Triage::Problem::speakers));
    show(m_failed, QStringLiteral("失败"), m_model.count(Triage::Problem::failed));
    show(m_stuck, QStringLiteral("卡住"), m_model.count(Triage::Problem::stuck));
}

void RecordingListView::refreshEmpty()
{
    m_empty->setVisible(m_filter->rowCount() == 0 && m_model.rowCount() > 0);
}
