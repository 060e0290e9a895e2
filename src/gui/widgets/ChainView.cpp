#include "ChainView.h"

#include "design/DesignSystem.h"
#include "design/Icons.h"
#include "widgets/LinkChip.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>

using namespace Qt::Literals::StringLiterals;

namespace {

QList<std::pair<LinkState, QString>> links(const ChainStatus& s)
{
    return {{s.device, s.deviceNote},
            {s.disk, s.diskNote},
            {s.vault, s.vaultNote},
            {s.transcript, s.transcriptNote},
            {s.analysis, s.analysisNote}};
}

} // namespace

const QStringList& ChainView::titles()
{
    static const QStringList t{u"设备"_s, u"本地"_s, u"Mindvault"_s, u"转写"_s, u"分析"_s};
    return t;
}

ChainView::ChainView(const ChainStatus& status, bool verbose, QWidget* parent)
    : QWidget(parent), m_status(status), m_verbose(verbose)
{
    const auto l = links(status);
    const bool dark = DS::isDark(*this);
    if (!verbose) {
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(4);
        for (int i = 0; i < 5; ++i) {
            if (i > 0) {
                auto* arrow = new QLabel;
                arrow->setPixmap(Icons::pixmap(u"arrow.right"_s, 10, DS::secondaryText(dark),
                                               devicePixelRatioF()));
                row->addWidget(arrow);
            }
            auto* chip = new LinkChip(titles()[i], l[i].first);
            m_chips << chip;
            row->addWidget(chip);
        }
        row->addStretch();
        return;
    }
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(6);
    grid->setColumnMinimumWidth(0, 16);
    grid->setColumnMinimumWidth(1, 34);
    grid->setColumnStretch(2, 1);
    for (int i = 0; i < 5; ++i) {
        auto* icon = new QLabel;
        auto* title = new QLabel(titles()[i] + u"："_s);
        auto* note = new QLabel;
        title->setFont(DS::font(13));
        note->setFont(DS::font(13));
        note->setWordWrap(true);
        note->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(icon, i, 0, Qt::AlignTop);
        grid->addWidget(title, i, 1, Qt::AlignTop);
        grid->addWidget(note, i, 2, Qt::AlignTop);
        m_icons << icon;
        m_notes << note;
    }
    rebuild();
}

void ChainView::setStatus(const ChainStatus& status)
{
    if (status == m_status)
        return;
    m_status = status;
    rebuild();
}

void ChainView::rebuild()
{
    const auto l = links(m_status);
    const bool dark = DS::isDark(*this);
    for (int i = 0; i < 5; ++i) {
        if (!m_verbose) {
            m_chips[i]->setState(l[i].first);
            continue;
        }
        m_icons[i]->setPixmap(Icons::pixmap(LinkChip::symbolName(l[i].first), 14,
                                            LinkChip::symbolColor(l[i].first, dark),
                                            devicePixelRatioF()));
        m_icons[i]->setAccessibleName(titles()[i] + u"："_s + LinkChip::stateName(l[i].first));
        m_notes[i]->setText(l[i].second);
        m_notes[i]->setAccessibleName(titles()[i] + u"："_s + l[i].second);
    }
}

void ChainView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange && m_verbose)
        rebuild();
    QWidget::changeEvent(event);
}
