// The library with 10,000 recordings: one engine change must reach the visible list, and a
// search word must filter it, within one frame (16 ms); so must showing an answer of the
// transcript search (the search itself runs off the event loop).
#include "library/RecordingFilter.h"
#include "library/RecordingListModel.h"
#include "library/TranscriptHitList.h"

#include <QApplication>
#include <QDateTime>
#include <QListView>
#include <QListWidget>
#include <benchmark/benchmark.h>

namespace {

constexpr int count = 10000;

QList<RecordingItem> library()
{
    QList<RecordingItem> items;
    items.reserve(count);
    const QDateTime start(QDate(2023, 1, 1), QTime(8, 0));
    for (int i = 0; i < count; ++i) {
        const QString base =
            start.addSecs(qint64(i) * 3917).toString(QStringLiteral("yyyyMMdd-HHmmss"));
        RecordingItem item(base, 300 + i % 3000, std::nullopt, 9600 + i,
                           QStringLiteral("s%1").arg(i), QStringLiteral("ready"),
                           QStringLiteral("t%1").arg(i));
        item.vaultTitle = QStringLiteral("会议纪要 %1").arg(i);
        item.unconfirmedSpeakers = i % 7 == 0 ? 2 : 0;
        items.append(item);
    }
    return items;
}

// The model, the filter and a view on them, as the library page wires them.
struct Library {
    RecordingListModel model;
    RecordingFilter filter;
    QListView view;

    Library()
    {
        filter.setSource(&model);
        view.setUniformItemSizes(true);
        view.setModel(&filter);
        view.resize(320, 600);
        model.setItems(library());
    }
};

void BM_OneEngineChange(benchmark::State& state)
{
    Library lib;
    if (state.range(0) != 0) {
        lib.filter.setSearchText(QStringLiteral("会议"));
    }
    QList<RecordingItem> a = library();
    QList<RecordingItem> b = a;
    b[count / 2].vaultStatus = QStringLiteral("failed");
    bool flip = false;
    for (auto _ : state) {
        lib.model.setItems(flip ? a : b);
        flip = !flip;
    }
}
BENCHMARK(BM_OneEngineChange)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_NewRecordingArrives(benchmark::State& state)
{
    Library lib;
    QList<RecordingItem> a = library();
    QList<RecordingItem> b = a;
    b.prepend(RecordingItem(QStringLiteral("20300101-000000"), 60, 960));
    bool flip = false;
    for (auto _ : state) {
        lib.model.setItems(flip ? a : b);
        flip = !flip;
    }
}
BENCHMARK(BM_NewRecordingArrives)->Unit(benchmark::kMillisecond);

void BM_FilterByWord(benchmark::State& state)
{
    Library lib;
    const QString words[] = {QStringLiteral("3月15"), QStringLiteral("纪要 77")};
    int i = 0;
    for (auto _ : state) {
        lib.filter.setSearchText(words[i++ % 2]);
        benchmark::DoNotOptimize(lib.filter.rowCount());
    }
}
BENCHMARK(BM_FilterByWord)->Unit(benchmark::kMillisecond);

// An answer of the transcript search as the page shows it: the list narrowed to the recordings
// with hits, and a row per hit (50, the page's limit), those on show painted.
void BM_TranscriptAnswerShown(benchmark::State& state)
{
    Library lib;
    TranscriptHitList hits;
    hits.resize(320, 300);
    hits.show();
    const QList<RecordingItem> items = library();
    QList<TranscriptHit> answers[2];
    QSet<QString> bases[2];
    const QString said =
        QStringLiteral("我们先把上周的进度过一遍，然后讨论预算，最后定下周的计划。");
    for (int a = 0; a < 2; ++a)
        for (int i = 0; i < 50; ++i) {
            TranscriptHit hit;
            hit.base = items.at(i * 97 + a).base;
            hit.speaker = QStringLiteral("王芳");
            hit.title = QStringLiteral("周会");
            hit.text = said + QString::number(i);
            hit.startMs = i * 61'000;
            hit.matchStart = int(said.indexOf(QStringLiteral("预算")));
            hit.matchLength = 2;
            answers[a].append(hit);
            bases[a].insert(hit.base);
        }
    int i = 0;
    for (auto _ : state) {
        const int a = i++ % 2;
        lib.filter.setTranscriptMatches(bases[a]);
        hits.setHits(QStringLiteral("预算"), answers[a], true);
        QApplication::processEvents();      // the layout the new rows ask for
        hits.list()->viewport()->repaint(); // and the rows on show painted
    }
}
BENCHMARK(BM_TranscriptAnswerShown)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
