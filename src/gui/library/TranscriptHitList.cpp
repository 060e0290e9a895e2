#include "library/TranscriptHitList.h"

#include "design/DesignSystem.h"
#include "format/Fmt.h"
#include "transcripts/TranscriptQuery.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int padding = 4;
// Characters either side of the match: two lines of a list about as wide as the library's.
constexpr int snippetContext = 16;

QString caption(const TranscriptHit& hit)
{
    QStringList parts{hit.speaker, TranscriptQuery::timeLabel(hit.startMs),
                      hit.title && !hit.title->isEmpty() ? *hit.title : Fmt::title(hit.base)};
    if (hit.serviceDeleted)
        parts << u"Mindvault里已删除"_s;
    return parts.join(u" · "_s);
}

// Paints a hit: the snippet (up to two lines) and the caption below it, in the highlight's text
// colour when chosen so the muted caption does not vanish into the highlight.
class HitDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyleOptionViewItem o = option;
        initStyleOption(&o, index);
        o.text.clear();
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &o, painter, widget);

        const bool chosen = option.state & QStyle::State_Selected;
        const QColor text =
            option.palette.color(chosen ? QPalette::HighlightedText : QPalette::Text);
        const QColor muted = chosen ? text : DS::muted;
        QTextDocument doc;
        doc.setDefaultFont(option.font);
        doc.setDocumentMargin(0);
        doc.setHtml(u"<div style=\"color:%1\">%2</div><div style=\"color:%3\">%4</div>"_s.arg(
            text.name(), index.data(TranscriptHitList::SnippetRole).toString(), muted.name(),
            index.data(TranscriptHitList::CaptionRole).toString().toHtmlEscaped()));
        const QRect area = option.rect.adjusted(padding, padding, -padding, -padding);
        doc.setTextWidth(area.width());
        painter->save();
        painter->translate(area.topLeft());
        const QRect clip(0, 0, area.width(), area.height());
        painter->setClipRect(clip);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = clip;
        context.palette.setColor(QPalette::Text, text);
        doc.documentLayout()->draw(painter, context);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        return {option.rect.width(), 3 * option.fontMetrics.lineSpacing() + 2 * padding};
    }
};

} // namespace

TranscriptHitList::TranscriptHitList(QWidget* parent)
    : QWidget(parent), m_header(new QLabel), m_list(new QListWidget)
{
    setObjectName(u"transcriptHits"_s);
    m_list->setObjectName(u"transcriptHitList"_s);
    m_list->setAccessibleName(u"转写里的搜索结果"_s);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setUniformItemSizes(true);
    m_list->setItemDelegate(new HitDelegate(m_list));
    auto* layout = new QVBoxLayout(this);
    // Flush with the recording list above.
    layout->setContentsMargins(0, 4, 0, 0);
    m_header->setContentsMargins(4, 0, 4, 0);
    layout->addWidget(m_header);
    layout->addWidget(m_list, 1);
    const auto choose = [this](QListWidgetItem* item) {
        Q_EMIT chosen(item->data(BaseRole).toString(), item->data(StartRole).toLongLong());
    };
    connect(m_list, &QListWidget::itemClicked, this, choose);
    connect(m_list, &QListWidget::itemActivated, this, choose);
    hide();
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
        const QString line = caption(hit);
        auto* item = new QListWidgetItem(TranscriptQuery::oneLine(hit.text) + u" — "_s + line);
        item->setData(BaseRole, hit.base);
        item->setData(StartRole, qlonglong(hit.startMs));
        item->setData(SnippetRole, TranscriptQuery::snippet(hit.text, needle, snippetContext));
        item->setData(CaptionRole, line);
        m_list->addItem(item);
    }
}
