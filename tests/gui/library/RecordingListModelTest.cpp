#include "library/RecordingListModel.h"

#include "library/RecordingFilter.h"

#include <QAbstractItemModelTester>
#include <QPersistentModelIndex>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

RecordingItem rec(const QString& base, int seconds = 600)
{
    return RecordingItem(base, seconds, 9600, 9600);
}

QStringList bases(const QAbstractItemModel& model)
{
    QStringList out;
    for (int i = 0; i < model.rowCount(); ++i) {
        out << model.index(i, 0).data(RecordingListModel::BaseRole).toString();
    }
    return out;
}

QList<RecordingItem> list(const QStringList& names)
{
    QList<RecordingItem> out;
    for (const QString& n : names) {
        out << rec(n);
    }
    return out;
}

class ListModelTest : public ::testing::Test {
protected:
    RecordingListModel model;
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

// The engine republishes its whole list after each change; the model turns the difference into
// row operations, whatever mix of inserts, removals, moves and edits it is.
TEST_F(ListModelTest, FollowsEngineChangesRowByRow)
{
    const QStringList steps[] = {
        {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")},
        {QStringLiteral("x"), QStringLiteral("a"), QStringLiteral("c"), QStringLiteral("d")},
        {QStringLiteral("d"), QStringLiteral("c"), QStringLiteral("a")},
        {QStringLiteral("e"), QStringLiteral("d"), QStringLiteral("f"), QStringLiteral("a")},
        {},
        {QStringLiteral("a"), QStringLiteral("a"), QStringLiteral("b")},
    };
    for (const QStringList& step : steps) {
        model.setItems(list(step));
        QStringList unique = step;
        unique.removeDuplicates();
        EXPECT_EQ(bases(model), unique);
    }
}

TEST_F(ListModelTest, OneChangedItemIsOneRowChangeAndSelectionSurvives)
{
    model.setItems(list({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    const QPersistentModelIndex selected = model.index(2, 0);

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QList<RecordingItem> items =
        list({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    items[1].starred = true;
    model.setItems(items);
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex().row(), 1);
    EXPECT_EQ(changed[0][1].toModelIndex().row(), 1);
    EXPECT_TRUE(model.index(1, 0).data(RecordingListModel::StarredRole).toBool());

    // Same list again: nothing to tell the view.
    model.setItems(items);
    EXPECT_EQ(changed.size(), 1);

    // A new recording arrives on top and another one is reordered: the selected one keeps its
    // persistent index.
    items.prepend(rec(QStringLiteral("new")));
    items.move(3, 1);
    model.setItems(items);
    EXPECT_EQ(reset.size(), 0);
    EXPECT_EQ(inserted.size(), 1);
    ASSERT_TRUE(selected.isValid());
    EXPECT_EQ(selected.data(RecordingListModel::BaseRole).toString(), QStringLiteral("c"));
}

TEST_F(ListModelTest, BusyRecordingAndCountersFollowTheEngine)
{
    QList<RecordingItem> items = list({QStringLiteral("a"), QStringLiteral("b")});
    items[0].vaultStatus = QStringLiteral("failed");
    items[0].sessionId = QStringLiteral("s");
    model.setItems(items);
    EXPECT_EQ(model.count(Triage::Problem::failed), 1);
    EXPECT_EQ(model.count(Triage::Problem::stuck), 0);
    EXPECT_EQ(model.index(1, 0).data(RecordingListModel::StatusTextRole).toString(),
              QStringLiteral("排队等推送"));

    QSignalSpy counts(&model, &RecordingListModel::countsChanged);
    model.setBusyBase(QStringLiteral("b"));
    EXPECT_EQ(model.index(1, 0).data(RecordingListModel::StatusTextRole).toString(),
              QStringLiteral("正在处理"));
    model.setBusyBase(std::nullopt);
    EXPECT_EQ(model.index(1, 0).data(RecordingListModel::StatusTextRole).toString(),
              QStringLiteral("排队等推送"));
    EXPECT_EQ(counts.size(), 0);

    items[0].dismissed = true;
    model.setItems(items);
    EXPECT_EQ(counts.size(), 1);
    EXPECT_EQ(model.count(Triage::Problem::failed), 0);
}

TEST_F(ListModelTest, RowSpeaksItsTitleLengthAndStar)
{
    QList<RecordingItem> items{rec(QStringLiteral("20240315-093005"), 75)};
    items[0].starred = true;
    model.setItems(items);
    EXPECT_EQ(model.index(0, 0).data(Qt::AccessibleTextRole).toString(),
              QStringLiteral("3月15日 09:30:05，时长 1:15，已标星"));
}

TEST(RecordingFilter, SearchWordsAndStatusClasses)
{
    RecordingListModel model;
    RecordingFilter filter;
    filter.setSource(&model);
    QAbstractItemModelTester tester(&filter, QAbstractItemModelTester::FailureReportingMode::Fatal);

    QList<RecordingItem> items{rec(QStringLiteral("20240315-093005")),
                               rec(QStringLiteral("20240316-140000")),
                               rec(QStringLiteral("20240401-080000")), rec(QStringLiteral("memo"))};
    items[0].plannedTitle = QStringLiteral("产品周会");
    items[1].vaultTitle = QStringLiteral("Budget review");
    items[1].sessionId = QStringLiteral("s");
    items[1].vaultStatus = QStringLiteral("ready");
    items[1].transcriptId = QStringLiteral("t");
    items[1].unconfirmedSpeakers = 1;
    items[2].starred = true;
    items[2].lastError = QStringLiteral("超时");
    items[3].localBytes.reset(); // still only on the pen
    items[0].deviceSize.reset();
    model.setItems(items);

    struct Case {
        const char* text;
        RecordingFilter::Scope scope;
        const char* expected; // bases, space-separated
    };
    using S = RecordingFilter::Scope;
    const Case cases[] = {
        {"", S::all, "20240315-093005 20240316-140000 20240401-080000 memo"},
        {"周会", S::all, "20240315-093005"},
        {"budget", S::all, "20240316-140000"},        // transcript title, any case
        {"3月16日", S::all, "20240316-140000"},       // the date as shown
        {"2024-04-01", S::all, "20240401-080000"},    // the date as typed
        {"  3月  09:30 ", S::all, "20240315-093005"}, // every word must match
        {"nothing", S::all, ""},
        {"", S::needsAttention, "20240316-140000 20240401-080000"},
        {"", S::onPen, "20240316-140000 20240401-080000 memo"},
        {"", S::starred, "20240401-080000"},
        {"budget", S::starred, ""},
    };
    for (const Case& c : cases) {
        filter.setSearchText(QString::fromUtf8(c.text));
        filter.setScope(c.scope);
        EXPECT_EQ(bases(filter).join(QLatin1Char(' ')), QString::fromUtf8(c.expected))
            << c.text << " scope " << int(c.scope);
    }

    // A change that moves a recording into the class shows it without a new search.
    filter.setSearchText({});
    filter.setScope(S::starred);
    items[3].starred = true;
    model.setItems(items);
    EXPECT_EQ(bases(filter).join(QLatin1Char(' ')), QStringLiteral("20240401-080000 memo"));
}

} // namespace
