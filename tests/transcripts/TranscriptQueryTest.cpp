// The pure rules of transcript search: times, marking, snippets, index expressions.

#include "transcripts/TranscriptQuery.h"

#include "SearchCommand.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(TranscriptQuery, TimesAndMarks)
{
    const QList<QPair<int64_t, QString>> times{
        {0, u"0:00"_s},          {59'999, u"0:59"_s},       {61'000, u"1:01"_s},
        {3'599'000, u"59:59"_s}, {3'600'000, u"1:00:00"_s}, {37'230'000, u"10:20:30"_s},
        {-5, u"0:00"_s}};
    for (const auto& [ms, label] : times)
        EXPECT_EQ(TranscriptQuery::timeLabel(ms), label) << ms;

    EXPECT_EQ(TranscriptQuery::marked(u"开会，再开会"_s, u"开会"_s, u"「"_s, u"」"_s),
              u"「开会」，再「开会」"_s);
    EXPECT_EQ(TranscriptQuery::marked(u"Budget and BUDGET"_s, u"budget"_s, u"["_s, u"]"_s),
              u"[Budget] and [BUDGET]"_s);
    EXPECT_EQ(TranscriptQuery::oneLine(u"a\tb\nc\u2028d"_s), u"a b c d"_s);
    EXPECT_EQ(TranscriptQuery::normalized(u"  \x01开会\t "_s), u"开会"_s);
}

TEST(TranscriptQuery, SnippetEscapesAndCutsAroundTheMatch)
{
    const QString text = QString(40, u'甲') + u"<预算>"_s + QString(40, u'乙');
    const QString s = TranscriptQuery::snippet(text, u"<预算>"_s, 3);
    EXPECT_EQ(s, u"…甲甲甲<b>&lt;预算&gt;</b>乙乙乙…"_s);
    EXPECT_EQ(TranscriptQuery::snippet(u"短句"_s, u"不在"_s), u"短句"_s);
}

TEST(TranscriptQuery, IndexExpressionsQuoteEverything)
{
    EXPECT_EQ(TranscriptQuery::trigramExpression(u"开会讨论"_s), u"\"开会讨\" AND \"会讨论\""_s);
    EXPECT_EQ(TranscriptQuery::trigramExpression(u"a\"b"_s), u"\"a\"\"b\""_s);
    EXPECT_EQ(TranscriptQuery::pairExpression(u"开会"_s), u"\"开会\""_s);
    EXPECT_EQ(TranscriptQuery::pairExpression(u"\""_s), u"\"\"\"\" *"_s);
    EXPECT_EQ(TranscriptQuery::pairExpression(u"\U0001F600"_s), u"\"\U0001F600\" *"_s);
}

TEST(TranscriptQuery, EveryCharacterBeginsAPairToken)
{
    const QList<QPair<QString, QString>> cases{
        {u"开会开会"_s, u"开会 会开 会"_s},        // each pair once
        {u"好，走"_s, u"好， ，走 走"_s},          // punctuation pairs too; the last alone
        {u"a b\tc"_s, u"a b c"_s},                 // nothing across spaces or controls
        {u"\U0001F600笑"_s, u"\U0001F600笑 笑"_s}, // a character outside the basic plane
        {u"  "_s, u""_s},
    };
    for (const auto& [text, tokens] : cases)
        EXPECT_EQ(TranscriptQuery::pairTokens(text), tokens) << text.toStdString();
}

TEST(SearchCommand, OneTabSeparatedLinePerHit)
{
    TranscriptHit hit;
    hit.base = u"20251203-090000"_s;
    hit.speaker = u"王芳"_s;
    hit.text = u"我们\t下周开会\n再说"_s;
    hit.startMs = 3'725'000;
    EXPECT_EQ(SearchCommand::line(hit, u"开会"_s),
              u"20251203-090000\t1:02:05\t王芳\t我们 下周「开会」 再说"_s);
}
