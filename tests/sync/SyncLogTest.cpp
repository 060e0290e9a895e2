#include "sync/SyncLog.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

Clock fixedClock()
{
    return [] {
        return QDateTime(QDate(2025, 6, 1), QTime(20, 58, 10));
    };
}

} // namespace

TEST(SyncLog, FirstWriteCreatesTheFolderAndFormatsTheLine)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + u"/out/swift-同步日志.txt"_s;
    QStringList echoed;
    SyncLog log(path, fixedClock(), [&](const QString& line) { echoed.append(line); });
    log.write(u"已连接 QX27 rssi=-60"_s);
    log.write(u"列表回来 3 条"_s);
    EXPECT_EQ(
        TestSupport::readFile(path),
        u"[06-01 20:58:10] 已连接 QX27 rssi=-60\n[06-01 20:58:10] 列表回来 3 条\n"_s.toUtf8());
    EXPECT_EQ(echoed, (QStringList{u"[06-01 20:58:10] 已连接 QX27 rssi=-60"_s,
                                   u"[06-01 20:58:10] 列表回来 3 条"_s}));
}

TEST(SyncLog, RotatesOnlyAboveTwoMebibytes)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + u"/out/swift-同步日志.txt"_s;
    const QString rotated = tmp.path() + u"/out/swift-同步日志.1.txt"_s;
    SyncLog log(path, fixedClock());
    const QByteArray exactly(SyncLog::rotateAbove, 'a');

    TestSupport::writeFile(path, exactly);
    log.write(u"x"_s);
    EXPECT_FALSE(QFile::exists(rotated));
    EXPECT_EQ(QFileInfo(path).size(),
              SyncLog::rotateAbove + QByteArray("[06-01 20:58:10] x\n").size());

    // Now above the limit: the next line starts a fresh file; an older rotation is replaced.
    TestSupport::writeFile(rotated, "older generation");
    log.write(u"y"_s);
    EXPECT_EQ(TestSupport::readFile(path), QByteArray("[06-01 20:58:10] y\n"));
    EXPECT_EQ(TestSupport::readFile(rotated), exactly + "[06-01 20:58:10] x\n");
}

TEST(SyncLog, NeverFailsAndKeepsLinesWholeAcrossThreads)
{
    QTemporaryDir tmp;
    TestSupport::writeFile(tmp.path() + u"/out"_s, "a file where the folder should be");
    SyncLog broken(tmp.path() + u"/out/log.txt"_s, fixedClock());
    broken.write(u"无处可写"_s); // must simply return

    const QString path = tmp.path() + u"/log.txt"_s;
    SyncLog log(path, fixedClock());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 200; ++i) {
                log.write(u"线程 %1 第 %2 行"_s.arg(t).arg(i));
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    const QList<QByteArray> lines = TestSupport::readFile(path).split('\n');
    ASSERT_EQ(lines.size(), 801); // trailing newline leaves one empty piece
    for (const QByteArray& line : lines.first(800)) {
        EXPECT_TRUE(QString::fromUtf8(line).contains(
            QRegularExpression(u"^\\[06-01 20:58:10\\] 线程 \\d 第 \\d+ 行$"_s)))
            << line.constData();
    }
}
