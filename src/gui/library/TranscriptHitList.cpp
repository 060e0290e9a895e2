#include "library/TranscriptHitList.h"

#include "design/DesignSystem.h"
#include "format/Fmt.h"
#include "transcripts/TranscriptQuery.h"

#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int baseRole = Qt::UserRole + 1;
constexpr int startRole = Qt::UserRole + 2;

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
    layout->setContentsMargins(8, 4, 8, 4);
    layout->addWidget(m_header);
    layout->addWidget(m_list, 1);
    const auto choose = [this](QListWidgetItem* item) {
        Q_EMIT chosen(item->data(baseRole).toString(), item->data(startRole).toLongLong());
    };
    connect(m_list, &QListWidget::itemClicked, this, choose);
    connect(m_list, &QListWidget::itemActivated, this, choose);
    hide();
}

void TranscriptHitList::setHits(const QString& query, const QList<TranscriptHit>& hits)
{
    m_list->clear();
    setVisible(!hits.isEmpty());
    if (hits.isEmpty())
        return;
    m_header->setText(u"转写里找到 %1 处"_s.arg(hits.size()));
    const QString needle = TranscriptQuery::normalized(query);
    const QString muted = DS::muted.name();
    for (const TranscriptHit& hit : hits) {
        auto* item = new QListWidgetItem(m_list);
        item->setData(baseRole, hit.base);
        item->setData(startRole, qlonglong(hit.startMs));
        auto* label =
            new QLabel(TranscriptQuery::snippet(hit.text, needle) +
                       u"<br><span style=\"color:%1\">%2</span>"_s.arg(muted, caption(hit)));
        label->setTextFormat(Qt::RichText);
        label->setWordWrap(true);
        label->setContentsMargins(4, 4, 4, 4);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        item->setSizeHint(label->sizeHint());
        m_list->setItemWidget(item, label);
    }
}
