#include "cleanup/ArchiveAudit.h"

#include "audio/AudioFileReader.h"
#include "audio/OggWrap.h"
#include "sync/SyncManifest.h"
#include "sync/SyncPaths.h"
#include "sync/SyncPlanner.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <sys/stat.h>
#include <variant>

namespace ArchiveAudit {

namespace {

constexpr qint64 packetBytes = OggWrap::packetLen;
constexpr double toleranceSeconds = 2.0;

const QString rewrapRemedy = QStringLiteral("裸包完好，重新封装即可，不用重导");

QString oneDecimal(double v)
{
    return QString::asprintf("%.1f", v);
}

// What the file system says about one file.
struct Local {
    qint64 bytes;
};
struct Unreadable {
    QString reason;
};
struct InCloud {};
struct Absent {};
using Probe = std::variant<Local, Unreadable, InCloud, Absent>;

// The cloud folder leaves an evicted file as a hidden sibling "." + name + ".icloud"; that is
// the only form of placeholder visible on this platform.
bool hasPlaceholder(const QString& path)
{
    const int slash = int(path.lastIndexOf(u'/'));
    const QString placeholder =
        path.left(slash + 1) + u'.' + path.mid(slash + 1) + QStringLiteral(".icloud");
    struct stat st {};
    return ::stat(QFile::encodeName(placeholder).constData(), &st) == 0;
}

Probe probe(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        // A folder or device where a recording should be is not a measurement of it.
        if (!S_ISREG(st.st_mode)) {
            return Unreadable{QStringLiteral("不是普通文件")};
        }
        return Local{qint64(st.st_size)};
    }
    const int error = errno;
    if (hasPlaceholder(path)) {
        return InCloud{};
    }
    // Only "no such file" is an absence; a permission or disk error must not read as a loss.
    if (error == ENOENT || error == ENOTDIR) {
        return Absent{};
    }
    return Unreadable{QStringLiteral("属性读不到")};
}

std::optional<double> decodeSeconds(const QString& path)
{
    const auto reader = AudioFileReader::tryOpen(path);
    if (!reader || reader->sampleRate() <= 0 || reader->length() < 1) {
        return std::nullopt;
    }
    return double(reader->length()) / reader->sampleRate();
}

Item finding(Item item, Status status, QString detail)
{
    item.status = status;
    item.detail = std::move(detail);
    return item;
}

} // namespace

QString label(Status status)
{
    switch (status) {
    case Status::ok:
        return QStringLiteral("完好");
    case Status::notDownloaded:
        return QStringLiteral("未下载");
    case Status::missing:
        return QStringLiteral("缺失");
    case Status::sizeMismatch:
        return QStringLiteral("字节数不符");
    case Status::damaged:
        return QStringLiteral("损坏");
    case Status::needsReview:
        return QStringLiteral("需要人看一眼");
    }
    return {};
}

QString rawValue(Status status)
{
    switch (status) {
    case Status::ok:
        return QStringLiteral("ok");
    case Status::notDownloaded:
        return QStringLiteral("notDownloaded");
    case Status::missing:
        return QStringLiteral("missing");
    case Status::sizeMismatch:
        return QStringLiteral("sizeMismatch");
    case Status::damaged:
        return QStringLiteral("damaged");
    case Status::needsReview:
        return QStringLiteral("needsReview");
    }
    return {};
}

int Report::healthy() const
{
    return int(std::count_if(items.begin(), items.end(),
                             [](const Item& i) { return i.status == Status::ok; }));
}

QList<std::pair<Status, int>> Report::counts() const
{
    QList<std::pair<Status, int>> out;
    for (Status s : {Status::ok, Status::notDownloaded, Status::missing, Status::sizeMismatch,
                     Status::damaged, Status::needsReview}) {
        const auto n =
            std::count_if(items.begin(), items.end(), [s](const Item& i) { return i.status == s; });
        if (n > 0) {
            out.append({s, int(n)});
        }
    }
    return out;
}

QString Report::summary() const
{
    if (items.isEmpty()) {
        return QStringLiteral("清单里没有任何录音，无可体检");
    }
    QStringList parts;
    for (const auto& [status, n] : counts()) {
        parts.append(label(status) + u' ' + QString::number(n));
    }
    return QString::number(total()) + QStringLiteral(" 条：") + parts.join(QStringLiteral("，"));
}

std::optional<KeyParts> parseKey(const QString& key)
{
    const QStringList parts = key.split(u'|', Qt::KeepEmptyParts);
    if (parts.size() != 3) {
        return std::nullopt;
    }
    const auto number = [](const QString& s) -> std::optional<qint64> {
        if (s.isEmpty() ||
            !std::all_of(s.begin(), s.end(), [](QChar c) { return c >= u'0' && c <= u'9'; })) {
            return std::nullopt;
        }
        bool ok = false;
        const qint64 v = s.toLongLong(&ok);
        return ok ? std::optional(v) : std::nullopt;
    };
    const auto seconds = number(parts[1]);
    const auto bytes = number(parts[2]);
    const QString base = SyncPlanner::normalizedBase(parts[0]);
    if (!seconds || !bytes || base.isEmpty()) {
        return std::nullopt;
    }
    return KeyParts{base, *seconds, *bytes};
}

bool magicIsOggS(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) && f.read(4) == "OggS";
}

Item audit(const QString& base, qint64 expectedBytes, qint64 expectedSeconds,
           const std::optional<QString>& oggName, std::optional<qint64> recorded,
           const QString& dest, const QString& rawDir)
{
    Item item;
    item.base = base;
    item.expectedBytes = expectedBytes;
    item.expectedSeconds = expectedSeconds;
    const auto n = [](qint64 v) {
        return QString::number(v);
    };

    if (recorded && *recorded != expectedBytes) {
        return finding(item, Status::needsReview,
                       QStringLiteral("清单自身对不上：键里记 ") + n(expectedBytes) +
                           QStringLiteral(" 字节、条目里写 ") + n(*recorded) +
                           QStringLiteral(" 字节，先弄清哪个是真的再体检"));
    }

    const QString oggPath = dest + u'/' + oggName.value_or(base + QStringLiteral(".ogg"));
    const Probe raw = probe(rawDir + u'/' + base + QStringLiteral(".opus"));
    const Probe ogg = probe(oggPath);

    if (const auto* r = std::get_if<Unreadable>(&raw)) {
        return finding(item, Status::needsReview,
                       QStringLiteral("裸包读不到（") + r->reason +
                           QStringLiteral("），可能是权限或磁盘问题，需要人看一眼"));
    }
    if (std::holds_alternative<InCloud>(raw)) {
        return finding(item, Status::notDownloaded,
                       QStringLiteral("裸包被 iCloud「优化存储」挪到云上、本机没有实体") +
                           (std::holds_alternative<InCloud>(ogg)
                                ? QStringLiteral("（ogg 也在云上）")
                                : QString()) +
                           QStringLiteral("——文件本身还在，下载回来即可，不用重导设备"));
    }
    if (std::holds_alternative<Absent>(raw)) {
        if (const auto* o = std::get_if<Local>(&ogg)) {
            return finding(item, Status::missing,
                           QStringLiteral("裸包缺失，只剩封装好的 ogg（") + n(o->bytes) +
                               QStringLiteral(" 字节）：还能播，但设备原始码流没有了，"
                                              "重封装这条路断了"));
        }
        if (const auto* o = std::get_if<Unreadable>(&ogg)) {
            return finding(item, Status::needsReview,
                           QStringLiteral("裸包不在本机，ogg 也读不到（") + o->reason +
                               QStringLiteral("），需要人看一眼"));
        }
        if (std::holds_alternative<Absent>(ogg)) {
            return finding(item, Status::missing,
                           QStringLiteral("裸包和 ogg 在本机都没有（清单记 ") + n(expectedBytes) +
                               QStringLiteral(" 字节 / ") + n(expectedSeconds) +
                               QStringLiteral(" 秒）——Mindvault 30 天后会清原始音频，"
                                              "这条可能已经彻底没了，尽快去Mindvault确认"));
        }
        return finding(item, Status::notDownloaded,
                       QStringLiteral("裸包不在本机，ogg 是 iCloud 占位——"
                                      "先把 ogg 下载回来再判断裸包是不是真丢了"));
    }

    const qint64 rb = std::get<Local>(raw).bytes;
    item.rawBytes = rb;
    const auto* oggLocal = std::get_if<Local>(&ogg);
    if (oggLocal != nullptr) {
        item.oggBytes = oggLocal->bytes;
    }
    if (rb != expectedBytes) {
        return finding(item, Status::sizeMismatch,
                       QStringLiteral("裸包 ") + n(rb) + QStringLiteral(" 字节，清单记 ") +
                           n(expectedBytes) + QStringLiteral(" 字节，") +
                           (rb < expectedBytes ? QStringLiteral("少") : QStringLiteral("多")) +
                           QStringLiteral("了 ") + n(std::abs(rb - expectedBytes)) +
                           QStringLiteral(" 字节——传输没传完或文件被动过"));
    }
    if (rb % packetBytes != 0) {
        return finding(item, Status::damaged,
                       QStringLiteral("裸包 ") + n(rb) +
                           QStringLiteral(" 字节不是 40 的整数倍（尾部多出 ") +
                           n(rb % packetBytes) +
                           QStringLiteral(" 字节），设备吐的是 40B 定长包，说明文件被截断或损坏"));
    }
    item.rawIntact = true;
    const double rs = OggWrap::durationSeconds(rb);
    if (std::abs(rs - double(expectedSeconds)) > toleranceSeconds) {
        return finding(item, Status::needsReview,
                       QStringLiteral("裸包 ") + n(rb) + QStringLiteral(" 字节算出 ") +
                           oneDecimal(rs) + QStringLiteral("s，清单却记 ") + n(expectedSeconds) +
                           QStringLiteral("s，清单和文件对不上，需要人看一眼"));
    }

    // From here on the raw file is intact, so every remedy is a re-wrap.
    if (std::holds_alternative<Absent>(ogg)) {
        return finding(item, Status::needsReview, QStringLiteral("ogg 不在本机；") + rewrapRemedy);
    }
    if (std::holds_alternative<InCloud>(ogg)) {
        return finding(item, Status::notDownloaded,
                       QStringLiteral("裸包完好，但 ogg 被 iCloud 挪到云上、本机没有实体——"
                                      "下载回来即可，实在懒得等也可以直接从裸包重封装"));
    }
    if (const auto* o = std::get_if<Unreadable>(&ogg)) {
        return finding(item, Status::needsReview,
                       QStringLiteral("ogg 读不到（") + o->reason + QStringLiteral("）；") +
                           rewrapRemedy);
    }
    if (oggLocal->bytes < 1) {
        return finding(item, Status::damaged,
                       QStringLiteral("ogg 是 0 字节（封装中途崩过，这种情况真实发生过）；") +
                           rewrapRemedy);
    }
    if (!magicIsOggS(oggPath)) {
        return finding(item, Status::damaged,
                       QStringLiteral("ogg 首四字节不是 OggS，这不是一个 Ogg 文件；") +
                           rewrapRemedy);
    }
    const auto decoded = decodeSeconds(oggPath);
    if (!decoded) {
        return finding(item, Status::needsReview,
                       QStringLiteral("ogg 头是对的但解码器打不开，可能是封装出了问题；") +
                           rewrapRemedy);
    }
    item.decodedSeconds = decoded;
    const double off = std::abs(*decoded - double(expectedSeconds));
    if (off > toleranceSeconds) {
        return finding(item, Status::needsReview,
                       QStringLiteral("ogg 解出 ") + oneDecimal(*decoded) +
                           QStringLiteral("s，清单记 ") + n(expectedSeconds) +
                           QStringLiteral("s，差 ") + oneDecimal(off) +
                           QStringLiteral("s 超过容差；") + rewrapRemedy);
    }
    return finding(item, Status::ok,
                   QStringLiteral("完好（裸包 ") + n(rb) + QStringLiteral("B ≈ ") + oneDecimal(rs) +
                       QStringLiteral("s，ogg 可解码 ") + oneDecimal(*decoded) +
                       QStringLiteral("s）"));
}

Report run(const QString& dest, const QString& rawDir, const SyncManifest& manifest)
{
    Report report;
    QSet<QString> accounted;
    for (const auto& [key, entry] : manifest.imported) {
        if (const auto parts = parseKey(key)) {
            // A recording archived under a numbered base (its pen name was taken) is found
            // by its ledger file name.
            const QString base =
                entry.file.isEmpty() ? parts->base : SyncPlanner::archivedBase(key, entry);
            accounted.insert(base);
            report.items.append(
                audit(base, parts->bytes, parts->seconds,
                      entry.file.isEmpty() ? std::nullopt : std::optional(entry.file), entry.bytes,
                      dest, rawDir));
        } else {
            Item item;
            item.base = key;
            item.expectedBytes = entry.bytes;
            item.status = Status::needsReview;
            item.detail =
                QStringLiteral("清单里这条的键格式不认识（") + key + QStringLiteral("），没法体检");
            report.items.append(item);
        }
    }
    std::stable_sort(report.items.begin(), report.items.end(),
                     [](const Item& a, const Item& b) { return a.base < b.base; });

    const QDir dir(rawDir);
    if (!dir.exists()) {
        return report;
    }
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden, QDir::Unsorted)) {
        if (!name.endsWith(QStringLiteral(".opus"))) {
            continue;
        }
        const QString base = SyncPlanner::normalizedBase(name);
        if (!accounted.contains(base)) {
            report.unlistedRawPackets.append(base);
        }
    }
    std::sort(report.unlistedRawPackets.begin(), report.unlistedRawPackets.end());
    return report;
}

Report run(const SyncPaths& paths)
{
    return run(paths.dest(), paths.rawPackets(), SyncManifest::load(paths.manifest()));
}

} // namespace ArchiveAudit
