// The transcript store at the size of 2,000 hours of speech: search answers, storing one hour,
// and the size on disk against the text it holds.
//
// The store is built once (it takes a while; run niced) and reused from
// $KESTREL_BENCH_STORE (default /tmp/kestrel-bench/transcripts.sqlite);
// $KESTREL_BENCH_HOURS sets its size (default 2000).

#include "transcripts/TranscriptQuery.h"
#include "transcripts/TranscriptStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <random>

using namespace Qt::Literals::StringLiterals;

namespace {

// About five characters a second, in segments of ten seconds, one recording an hour.
constexpr int segmentMs = 10'000;
constexpr int segmentsPerHour = 3600'000 / segmentMs;

const QString alphabet =
    u"的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会可主发年动同工也能下"
    u"过子说产种面而方后多定行学法所民得经十三之进着等部度家电力里如水化高自二理起小物现实加量都"
    u"两体制机当使点从业本去把性好应开它合还因由其些然前外天政四日那社义事平形相全表间样与关各重"
    u"新线内数正心反你明看原又么利比或但质气第向道命此变条只没结解问意建月公无系军很情者最立代想"
    u"已通并提直题党程展五果料象员革位入常文总次品式活设及管特件长求老头基资边流路级少图山统接知"
    u"较将组见计别她手角期根论运农指几九区强放决西被干做必战先回则任取据处队南给色光门即保治北造"
    u"百规热领七海口东导器压志世金增争济阶油思术极交受联什认六共权收证改清己美再采转更单风切打白"
    u"教速花带安场身车例真务具万每目至达走积示议声报斗完类八离华名确才科张信马节话米整空元况今集"
    u"温传土许步群广石记需段研界拉林律叫且究观越织装影算低持音众书布复容儿须际商非验连断深难近矿"_s;

// Speech-like text: words of one to four characters drawn by a Zipf law from a fixed vocabulary.
class Speech {
public:
    explicit Speech(unsigned seed) : m_random(seed)
    {
        std::uniform_int_distribution<int> pick(0, int(alphabet.size()) - 1);
        std::discrete_distribution<int> length({1, 5, 2, 1});
        std::vector<double> weights;
        for (int i = 0; i < 20000; ++i) {
            QString word;
            for (int n = length(m_random) + 1; n > 0; --n)
                word += alphabet.at(pick(m_random));
            m_words << word;
            weights.push_back(1.0 / (i + 1));
        }
        m_zipf = std::discrete_distribution<int>(weights.begin(), weights.end());
    }
    const QStringList& words() const { return m_words; }
    QString segment()
    {
        static const QString stops = u"，。？"_s;
        QString text;
        while (text.size() < 48) {
            for (int n = 4 + int(m_random() % 8); n > 0; --n)
                text += m_words.at(m_zipf(m_random));
            text += stops.at(int(m_random() % 3));
        }
        return text;
    }
    StoredTranscript hour(const QString& base)
    {
        StoredTranscript t;
        t.base = base;
        t.transcriptId = u"tr-"_s + base;
        t.title = u"会议 "_s + base;
        t.fetchedAt = QDateTime::currentDateTime();
        for (int i = 0; i < segmentsPerHour; ++i)
            t.segments.append({QString::number(i), u"S%1"_s.arg(1 + i % 3), segment(),
                               int64_t(i) * segmentMs, int64_t(i + 1) * segmentMs});
        t.speakers = {
            {u"S1"_s, u"王芳"_s, true, {}}, {u"S2"_s, {}, false, {}}, {u"S3"_s, {}, false, {}}};
        return t;
    }

private:
    std::mt19937 m_random;
    QStringList m_words;
    std::discrete_distribution<int> m_zipf;
};

QString storePath()
{
    const QString set = qEnvironmentVariable("KESTREL_BENCH_STORE");
    return set.isEmpty() ? u"/tmp/kestrel-bench/transcripts.sqlite"_s : set;
}

int hours()
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("KESTREL_BENCH_HOURS", &ok);
    return ok && n > 0 ? n : 2000;
}

struct Fixture {
    std::unique_ptr<TranscriptStore> store;
    qint64 textBytes = 0;
    Speech speech{1}; // the vocabulary the stored text is drawn from
    QString fourChars;
};

Fixture& fixture()
{
    static Fixture f = [] {
        Fixture out;
        const QString path = storePath();
        const bool fresh = !QFileInfo::exists(path);
        QElapsedTimer opening;
        opening.start();
        out.store = TranscriptStore::open(path, TranscriptStore::Mode::write);
        // An older store is brought up to date here: that is the migration's cost.
        std::fprintf(stderr, "opened for writing in %.1f s\n", opening.elapsed() / 1e3);
        // The same seed makes the same text: the byte count is computed either way.
        Speech speech(1);
        QElapsedTimer clock;
        clock.start();
        for (int h = 0; h < hours(); ++h) {
            StoredTranscript t = speech.hour(u"2025%1"_s.arg(h, 6, 10, QChar(u'0')));
            for (const TranscriptSegment& s : t.segments)
                out.textBytes += s.text.toUtf8().size();
            if (h == hours() / 2)
                out.fourChars = t.segments.at(100).text.mid(10, 4);
            if (fresh)
                out.store->put(t);
            if (fresh && h % 100 == 99)
                std::fprintf(stderr, "built %d hours in %.0f s\n", h + 1, clock.elapsed() / 1e3);
        }
        if (fresh)
            std::fprintf(stderr, "store built in %.0f s\n", clock.elapsed() / 1e3);
        return out;
    }();
    return f;
}

void search(benchmark::State& state, const QString& query)
{
    Fixture& f = fixture();
    qsizetype hits = 0;
    for (auto _ : state) {
        hits = f.store->search(query, 50).size();
        benchmark::DoNotOptimize(hits);
    }
    state.counters["hits"] = double(hits);
}

// The first two characters of the first word of two or more at or after rank `from` of the
// text's vocabulary (rank 0 is said most often).
QString twoCharacters(int from)
{
    const QStringList& words = fixture().speech.words();
    for (int i = from; i < words.size(); ++i)
        if (words.at(i).size() >= 2)
            return words.at(i).left(2);
    return {};
}

void BM_TwoCharacters(benchmark::State& state)
{
    // A rare word, one of middling frequency, and the most frequent ones.
    search(state, twoCharacters(int(state.range(0))));
}
BENCHMARK(BM_TwoCharacters)->Arg(10000)->Arg(200)->Arg(3)->Arg(0)->Unit(benchmark::kMillisecond);

// Two characters never said.
void BM_TwoCharactersNoHit(benchmark::State& state)
{
    search(state, u"鲸鱼"_s);
}
BENCHMARK(BM_TwoCharactersNoHit)->Unit(benchmark::kMillisecond);

void BM_OneCharacter(benchmark::State& state)
{
    // Any character, and the first character of the most frequent word.
    search(state, state.range(0) < 0 ? fixture().speech.words().at(0).left(1)
                                     : alphabet.mid(int(state.range(0)), 1));
}
BENCHMARK(BM_OneCharacter)->Arg(300)->Arg(-1)->Unit(benchmark::kMillisecond);

void BM_FourCharacters(benchmark::State& state)
{
    search(state, fixture().fourChars);
}
BENCHMARK(BM_FourCharacters)->Unit(benchmark::kMillisecond);

void BM_ThreeCharacters(benchmark::State& state)
{
    search(state, fixture().fourChars.left(3));
}
BENCHMARK(BM_ThreeCharacters)->Unit(benchmark::kMillisecond);

void BM_NoHit(benchmark::State& state)
{
    search(state, u"从来没有人说过这句话"_s);
}
BENCHMARK(BM_NoHit)->Unit(benchmark::kMillisecond);

void BM_StoreOneHour(benchmark::State& state)
{
    Fixture& f = fixture();
    Speech speech(99);
    const StoredTranscript hour = speech.hour(u"bench-hour"_s);
    for (auto _ : state)
        f.store->put(hour); // replaces the previous copy: its index entries go too
}
BENCHMARK(BM_StoreOneHour)->Unit(benchmark::kMillisecond);

// What the window does on the event loop with an answer: a snippet for each of 100 hits.
void BM_SnippetsForOneAnswer(benchmark::State& state)
{
    Fixture& f = fixture();
    const QList<TranscriptHit> hits = f.store->search(f.fourChars.left(2), 100);
    for (auto _ : state)
        for (const TranscriptHit& h : hits)
            benchmark::DoNotOptimize(TranscriptQuery::snippet(h.text, f.fourChars.left(2)));
    state.counters["hits"] = double(hits.size());
}
BENCHMARK(BM_SnippetsForOneAnswer)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    Fixture& f = fixture();
    const qint64 onDisk = QFileInfo(storePath()).size() + QFileInfo(storePath() + u"-wal"_s).size();
    std::fprintf(stderr,
                 "store: %d hours, text %.1f MB (%.1f M characters), on disk %.1f MB, %.2fx\n",
                 hours(), f.textBytes / 1e6, f.textBytes / 3e6, onDisk / 1e6,
                 double(onDisk) / double(f.textBytes));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Closed, the write-ahead log is folded into the file: the size the archive keeps.
    f.store.reset();
    const qint64 closed = QFileInfo(storePath()).size();
    std::fprintf(stderr, "closed: on disk %.1f MB, %.2fx the text\n", closed / 1e6,
                 double(closed) / double(f.textBytes));
    return 0;
}
