#include "library/TranscriptHitList.h"

#include "design/DesignSystem.h"
#include "format/Fmt.h"
#include "transcripts/TranscriptQuery.h"

#include <QEvent>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int baseRole = Qt::UserRole + 1;
constexpr int startRole = Qt::UserRole + 2;
constexpr int snippetRole = Qt::UserRole + 3;
constexpr int captionRole = Qt::UserRole + 4;

QString caption(const TranscriptHit& hit)
{
    QStringList parts{hit.speaker, TranscriptQuery::timeLabel(hit.startMs),
                      hit.title && !hit.title->isEmpty() ? *hit.title : Fmt::title(hit.base)};
    if (hit.serviceDeleted)
        parts << u"Mindvault里已删除"_s;
    return parts.join(u" · "_s).toHtmlEscaped();
}

} // namespace

TranscriptHitList::TranscriptHitList(QWidget* parent)
    : QWidget(parent), m_header(new QLabel), m_list(new QListWidget)
{
    setObjectName(u"transcriptHits"_s);
    m_list->setObjectName(u"transcriptHitList"_s);
    m_list->setAccessibleName(u"转写里的搜索结果"_s);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    auto* layout = new QVBoxLayout(this);
    // Flush with the recording list above.
    layout->setContentsMargins(0, 4, 0, 0);
    m_header->setContentsMargins(4, 0, 4, 0);
    layout->addWidget(m_header);
    layout->addWidget(m_list, 1);
    const auto choose = [this](QListWidgetItem* item) {
        Q_EMIT chosen(item->data(baseRole).toString(), item->data(startRole).toLongLong());
    };
    connect(m_list, &QListWidget::itemClicked, this, choose);
    connect(m_list, &QListWidget::itemActivated, this, choose);
    m_list->viewport()->installEventFilter(this);
    connect(m_list, &QListWidget::itemSelectionChanged, this, &TranscriptHitList::paintRows);
    hide();
}

bool TranscriptHitList::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list->viewport() && event->type() == QEvent::Resize)
        fitRows();
    return QWidget::eventFilter(watched, event);
}

void TranscriptHitList::fitRows()
{
    const int width = m_list->viewport()->width();
    for (int i = 0; i < m_list->count(); ++i) {
        QListWidgetItem* item = m_list->item(i);
        if (auto* label = qobject_cast<QLabel*>(m_list->itemWidget(item)))
            item->setSizeHint(QSize(width, label->heightForWidth(width)));
    }
}

void TranscriptHitList::setHits(const QString& query, const QList<TranscriptHit>& hits, bool more)
{
    m_list->clear();
    setVisible(!hits.isEmpty());
    if (hits.isEmpty())
        return;
    m_header->setText(more ? u"转写里找到不止 %1 处，先列出这些"_s.arg(hits.size())
                           : u"转写里找到 %1 处"_s.arg(hits.size()));
    const QString needle = TranscriptQuery::normalized(query);
    for (const TranscriptHit& hit : hits) {
        auto* item = new QListWidgetItem(m_list);
        item->setData(baseRole, hit.base);
        item->setData(startRole, qlonglong(hit.startMs));
        item->setData(snippetRole, TranscriptQuery::snippet(hit.text, needle));
        item->setData(captionRole, caption(hit));
        auto* label = new QLabel;
        label->setTextFormat(Qt::RichText);
        label->setWordWrap(true);
        label->setContentsMargins(4, 4, 4, 4);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_list->setItemWidget(item, label);
    }
    paintRows();
    fitRows();
}

void TranscriptHitList::paintRows()
{
    // A chosen row stands on the highlight: its text takes the highlight's text colour, or the
    // muted caption would vanish into it.
    const QColor highlighted = m_list->palette().color(QPalette::HighlightedText);
    for (int i = 0; i < m_list->count(); ++i) {
        QListWidgetItem* item = m_list->item(i);
        auto* label = qobject_cast<QLabel*>(m_list->itemWidget(item));
        if (!label)
            continue;
        const bool chosen = item->isSelected();
        const QString text =
            chosen ? highlighted.name() : m_list->palette().color(QPalette::Text).name();
        const QString muted = chosen ? highlighted.name() : DS::muted.name();
        label->setText(
            u"<span style=\"color:%1\">%2</span><br><span style=\"color:%3\">%4</span>"_s.arg(
                text, item->data(snippetRole).toString(), muted,
                item->data(captionRole).toString()));
    }
}
