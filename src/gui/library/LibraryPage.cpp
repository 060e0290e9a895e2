#include "library/LibraryPage.h"

#include "AppModel.h"
#include "design/DesignSystem.h"
#include "library/ListenPlayer.h"
#include "library/RecordingFilter.h"
#include "library/RecordingListModel.h"
#include "library/RecordingListView.h"
#include "library/TranscriptHitList.h"
#include "library/TranscriptReader.h"
#include "transcripts/TranscriptSearcher.h"
#include "transcripts/TranscriptStore.h"
#include "widgets/EmptyHint.h"

#include <QLineEdit>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

// The recording the engine is working on, from its phase ("downloading 20240315-093005.opus").
std::optional<QString> busyBase(const AppModel& model)
{
    for (const RecordingItem& item : model.items()) {
        if (model.activity(item)) {
            return item.base;
        }
    }
    return std::nullopt;
}

// The archive's copy of a transcript, for the detail pane to show before the service answers.
// One recording's rows: quick enough for the event loop.
TranscriptReader::StoredFn storedTranscripts(const AppModel& model)
{
    return [&model](const QString& transcriptId) -> std::optional<TranscriptReader::Transcript> {
        std::optional<StoredTranscript> stored;
        try {
            stored = TranscriptStore::open(TranscriptStore::pathIn(model.projectRoot),
                                           TranscriptStore::Mode::read)
                         ->find(transcriptId);
        } catch (const TranscriptStoreError&) {
            return std::nullopt;
        }
        if (!stored || stored->segments.isEmpty())
            return std::nullopt;
        TranscriptReader::Transcript t;
        t.segments = stored->segments;
        for (const StoredSpeaker& s : stored->speakers)
            t.speakers.append({s.id, s.label, s.name, s.confirmed, std::nullopt});
        t.shares = SpeakerStats::shares(t.segments);
        return t;
    };
}

} // namespace

LibraryPage::LibraryPage(AppModel& model, Dialogs& dialogs, RecordingDetailView::BarsFn bars,
                         QWidget* parent)
    : QWidget(parent), m_model(model), m_listModel(new RecordingListModel(this)),
      m_player(new ListenPlayer(&PcmOutput::soundCard, this)),
      m_reader(
          new TranscriptReader([&model] { return model.vault(); }, storedTranscripts(model), this)),
      m_searcher(new TranscriptSearcher(
          [&model] { return TranscriptStore::pathIn(model.projectRoot); }, 50, this)),
      m_hits(new TranscriptHitList)
{
    setObjectName(QStringLiteral("libraryPage"));
    m_list = new RecordingListView(*m_listModel);
    m_list->setMinimumWidth(DS::scaled(300));
    m_detail = new RecordingDetailView(model, dialogs, *m_player, *m_reader, std::move(bars));
    connect(&model, &AppModel::vaultChanged, m_reader, &TranscriptReader::clientChanged);
    connect(m_reader, &TranscriptReader::fetched, this, [this](const QString& transcriptId) {
        if (const TranscriptReader::Transcript* t = m_reader->cached(transcriptId))
            m_model.actions.transcriptRead(transcriptId, t->segments, t->speakers);
    });
    connect(m_reader, &TranscriptReader::speakersNamed, this,
            [&model](const QString& transcriptId, int unconfirmed) {
                model.actions.speakersNamed(transcriptId, unconfirmed);
            });
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(m_detail);
    m_noSelection = new EmptyHint(QStringLiteral("waveform"), QStringLiteral("选一条录音"),
                                  QStringLiteral("左边选中一条，就能听、看转写、做处理"));
    m_detailStack = new QStackedWidget;
    m_detailStack->addWidget(m_noSelection);
    m_detailStack->addWidget(scroll);

    auto* left = new QSplitter(Qt::Vertical);
    left->addWidget(m_list);
    left->addWidget(m_hits);
    left->setChildrenCollapsible(false);
    auto* split = new QSplitter;
    split->addWidget(left);
    split->addWidget(m_detailStack);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({340, 660});
    split->setChildrenCollapsible(false);

    m_stack = new QStackedWidget;
    m_stack->addWidget(new EmptyHint(QStringLiteral("waveform"), QStringLiteral("还没有录音"),
                                     QStringLiteral("把录音笔开机放在旁边，它一广播就会自动导入")));
    m_stack->addWidget(split);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);

    connect(&m_model, &AppModel::itemsChanged, this, &LibraryPage::refreshItems);
    connect(&m_model, &AppModel::phaseChanged, this, &LibraryPage::refreshItems);
    connect(&m_model, &AppModel::selectionChanged, this, [this] {
        if (m_list->selected() != m_model.selection()) {
            m_list->select(m_model.selection());
        }
        refreshDetail();
    });
    connect(m_list, &RecordingListView::selectionChanged, this,
            [this](const std::optional<QString>& base) { m_model.setSelection(base); });
    // The search field also searches what was said; the store answers off the event loop.
    connect(m_list->search(), &QLineEdit::textChanged, m_searcher, &TranscriptSearcher::search);
    connect(m_searcher, &TranscriptSearcher::answered, this, [this] {
        QSet<QString> bases;
        for (const TranscriptHit& hit : m_searcher->hits())
            bases.insert(hit.base);
        m_list->filter().setTranscriptMatches(bases);
        m_hits->setHits(m_searcher->query(), m_searcher->hits(), m_searcher->more());
    });
    connect(m_hits, &TranscriptHitList::chosen, this, [this](const QString& base, qint64 startMs) {
        m_model.setSelection(base);
        m_player->playFrom(double(startMs) / 1000.0);
    });
    refreshItems();
    m_list->select(m_model.selection());
}

LibraryPage::~LibraryPage() = default;

void LibraryPage::refreshItems()
{
    m_listModel->setItems(m_model.items());
    m_listModel->setBusyBase(busyBase(m_model));
    m_stack->setCurrentIndex(m_model.items().isEmpty() ? 0 : 1);
    refreshDetail();
}

void LibraryPage::refreshDetail()
{
    const std::optional<RecordingItem> item =
        m_model.selection() ? m_model.item(*m_model.selection()) : std::nullopt;
    if (!item) {
        m_detailStack->setCurrentWidget(m_noSelection);
        return;
    }
    m_detail->setItem(*item, m_model.activity(*item));
    m_detailStack->setCurrentIndex(1);
}
