#include "sync/SyncManifest.h"

#include "sync/AtomicFile.h"
#include "sync/Describe.h"
#include "sync/JsonRead.h"
#include "sync/SyncLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdint>
#include <nlohmann/json.hpp>

using namespace Qt::StringLiterals;
using Json = nlohmann::json;

QString SyncManifest::stamp(const QDateTime& date)
{
    return date.toLocalTime().toString(u"yyyy-MM-dd HH:mm:ss"_s);
}

namespace {

QString qs(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string ss(const QString& s)
{
    return s.toStdString();
}

// Each key decodes on its own: a value of the wrong shape yields an empty container for that
// key only, and a malformed entry is set aside in `unread`, so one damaged entry costs
// neither the rest of its map nor (after the next save) its own bytes.
template <typename T, typename F>
std::map<QString, T> decodeMap(const Json& doc, const char* key, F decodeValue,
                               std::map<QString, std::map<QString, QByteArray>>& unread)
{
    std::map<QString, T> out;
    const auto it = doc.find(key);
    if (it == doc.end() || !it->is_object()) {
        return {};
    }
    for (const auto& [k, v] : it->items()) {
        if (std::optional<T> value = decodeValue(v)) {
            out.emplace_hint(out.end(), qs(k), std::move(*value));
        } else {
            unread[qs(key)][qs(k)] = QByteArray::fromStdString(v.dump());
        }
    }
    return out;
}

std::optional<QString> asString(const Json& v)
{
    return v.is_string() ? std::optional<QString>(qs(v.get_ref<const std::string&>()))
                         : std::nullopt;
}

std::optional<SyncManifest::Imported> asImported(const Json& v)
{
    if (!v.is_object()) {
        return std::nullopt;
    }
    const auto file = v.find("file");
    const auto bytes = v.find("bytes");
    const auto at = v.find("at");
    if (file == v.end() || bytes == v.end() || at == v.end() || !file->is_string() ||
        !bytes->is_number_integer() || !at->is_string()) {
        return std::nullopt;
    }
    if (bytes->is_number_unsigned() && bytes->get<uint64_t>() > uint64_t(INT64_MAX)) {
        return std::nullopt;
    }
    return SyncManifest::Imported{qs(file->get_ref<const std::string&>()), bytes->get<int64_t>(),
                                  qs(at->get_ref<const std::string&>())};
}

std::optional<SyncManifest::Plan> asPlan(const Json& v)
{
    if (!v.is_object()) {
        return std::nullopt;
    }
    SyncManifest::Plan plan;
    for (const auto& [key, field] :
         {std::pair{"title", &plan.title}, std::pair{"projectId", &plan.projectId}}) {
        const auto it = v.find(key);
        if (it == v.end() || it->is_null()) {
            continue;
        }
        if (!it->is_string()) {
            return std::nullopt;
        }
        *field = qs(it->get_ref<const std::string&>());
    }
    return plan;
}

// A list keeps its names; an element that is not a name means nothing and is dropped.
QStringList decodeList(const Json& doc, const char* key)
{
    const auto it = doc.find(key);
    if (it == doc.end() || !it->is_array()) {
        return {};
    }
    QStringList out;
    out.reserve(static_cast<qsizetype>(it->size()));
    for (const auto& v : *it) {
        if (v.is_string()) {
            out.append(qs(v.get_ref<const std::string&>()));
        }
    }
    return out;
}

template <typename T, typename F> Json encodeMap(const std::map<QString, T>& map, F encodeValue)
{
    Json out = Json::object();
    for (const auto& [k, v] : map) {
        out.emplace(ss(k), encodeValue(v));
    }
    return out;
}

Json encodeList(const QStringList& list)
{
    Json out = Json::array();
    for (const QString& s : list) {
        out.push_back(ss(s));
    }
    return out;
}

const auto plainString = [](const QString& s) {
    return ss(s);
};
const auto plainInt = [](int n) {
    return n;
};

} // namespace

QString SyncManifest::SaveError::description() const
{
    return u"拒绝保存：这份清单来自一次失败的读取，写回去会把整本账抹掉"_s;
}

SyncManifest SyncManifest::decode(const QByteArray& json)
{
    const Json doc = Json::parse(json.begin(), json.end(), nullptr, false);
    SyncManifest m;
    if (!doc.is_object()) {
        m.isTrustworthy = false;
        return m;
    }
    auto& u = m.unread;
    m.imported = decodeMap<Imported>(doc, "imported", asImported, u);
    m.uploaded = decodeMap<QString>(doc, "uploaded", asString, u);
    m.deleted = decodeMap<QString>(doc, "deleted", asString, u);
    m.starred = decodeList(doc, "starred");
    m.dismissed = decodeList(doc, "dismissed");
    m.missingOnServer = decodeMap<QString>(doc, "missingOnServer", asString, u);
    m.pollFailures = decodeMap<int>(doc, "pollFailures", JsonRead::toInt, u);
    m.plan = decodeMap<Plan>(doc, "plan", asPlan, u);
    m.downloadFailures = decodeMap<int>(doc, "downloadFailures", JsonRead::toInt, u);
    m.repushRounds = decodeMap<int>(doc, "repushRounds", JsonRead::toInt, u);
    return m;
}

SyncManifest SyncManifest::load(const QString& path)
{
    if (!QFileInfo::exists(path)) {
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        SyncManifest m;
        m.isTrustworthy = false;
        return m;
    }
    return decode(file.readAll());
}

QByteArray SyncManifest::encode() const
{
    // nlohmann keeps object keys sorted and never escapes '/'.
    Json doc = Json::object();
    doc["imported"] = encodeMap(imported, [](const Imported& i) {
        return Json{{"at", ss(i.at)}, {"bytes", i.bytes}, {"file", ss(i.file)}};
    });
    doc["uploaded"] = encodeMap(uploaded, plainString);
    doc["deleted"] = encodeMap(deleted, plainString);
    doc["starred"] = encodeList(starred);
    doc["dismissed"] = encodeList(dismissed);
    doc["missingOnServer"] = encodeMap(missingOnServer, plainString);
    doc["pollFailures"] = encodeMap(pollFailures, plainInt);
    doc["plan"] = encodeMap(plan, [](const Plan& p) {
        Json out = Json::object();
        if (p.projectId) {
            out["projectId"] = ss(*p.projectId);
        }
        if (p.title) {
            out["title"] = ss(*p.title);
        }
        return out;
    });
    doc["downloadFailures"] = encodeMap(downloadFailures, plainInt);
    doc["repushRounds"] = encodeMap(repushRounds, plainInt);
    for (const auto& [mapKey, entries] : unread) {
        Json& map = doc[ss(mapKey)];
        for (const auto& [k, raw] : entries) {
            Json value = Json::parse(raw.begin(), raw.end(), nullptr, false);
            if (!map.contains(ss(k)) && !value.is_discarded()) {
                map[ss(k)] = std::move(value);
            }
        }
    }
    return QByteArray::fromStdString(doc.dump(2, ' ', false, Json::error_handler_t::replace));
}

void SyncManifest::save(const QString& path) const
{
    if (!isTrustworthy) {
        throw SaveError(SaveError::Kind::RefusedUntrustworthy);
    }
    const QByteArray bytes = encode();
    QDir().mkpath(QFileInfo(path).absolutePath());
    {
        QFile current(path);
        if (current.open(QIODevice::ReadOnly)) {
            const QByteArray previous = current.readAll();
            if (!previous.isEmpty()) {
                AtomicFile::tryWrite(path + u".bak"_s, previous);
            }
        }
    }
    AtomicFile::write(path, bytes);
}

namespace {

// Where the parser gave up, counted from 1 as an editor shows it ("第 3 行第 17 列（第 52
// 字节）"); one past the end when the text was cut short.
QString position(const QByteArray& text, size_t byte)
{
    const qsizetype at = std::min<qsizetype>(qsizetype(byte), text.size());
    const QByteArray before = text.left(at);
    const qsizetype lineStart = before.lastIndexOf('\n') + 1;
    const qsizetype column = QString::fromUtf8(before.mid(lineStart)).size() + 1;
    return u"第 %1 行第 %2 列（第 %3 字节）"_s.arg(before.count('\n') + 1).arg(column).arg(at + 1);
}

// What is wrong with the text as a ledger; empty when it reads.
QString textProblem(const QByteArray& text)
{
    if (text.trimmed().isEmpty()) {
        return u"文件是空的"_s;
    }
    try {
        if (!Json::parse(text.begin(), text.end()).is_object()) {
            return u"内容不是一个 JSON 对象"_s;
        }
    } catch (const Json::parse_error& e) {
        return u"JSON 在"_s + position(text, e.byte > 0 ? e.byte - 1 : 0) + u"处断了或不合语法"_s;
    }
    return {};
}

} // namespace

std::optional<QString> SyncManifest::unreadableReason(const QString& path)
{
    if (!QFileInfo::exists(path)) {
        return std::nullopt;
    }
    QFile file(path);
    QString problem;
    if (!file.open(QIODevice::ReadOnly)) {
        problem = u"打不开（"_s + file.errorString() + u"）"_s;
    } else {
        problem = textProblem(file.readAll());
    }
    if (problem.isEmpty()) {
        return std::nullopt;
    }

    const QString bakPath = path + u".bak"_s;
    const QString name = QFileInfo(path).fileName();
    const QString bakName = QFileInfo(bakPath).fileName();
    QString remedy;
    if (!QFileInfo::exists(bakPath)) {
        remedy = u"旁边没有 "_s + bakName + u"，只能照上面的位置手工修好 "_s + name + u"。"_s;
    } else if (const SyncManifest bak = load(bakPath); !bak.isTrustworthy) {
        remedy =
            u"旁边的 "_s + bakName + u" 也读不出来，只能照上面的位置手工修好 "_s + name + u"。"_s;
    } else {
        remedy = u"旁边的 "_s + bakName + u" 是上一份能读的清单（记着 "_s +
                 QString::number(bak.imported.size()) + u" 条导入）：把坏的 "_s + name +
                 u" 挪到别处，再把 "_s + bakName + u" 复制一份改名为 "_s + name +
                 u"，就能接着用；也可以照上面的位置手工修好它。"_s;
    }
    return u"清单 "_s + path + u" 读不出来："_s + problem + u"。"_s + remedy +
           u"修好之前每一轮都照常下载落盘，但不记账，这份清单原样留着、不会被覆盖。"_s;
}

bool SyncManifest::persist(const QString& path, SyncLog& log,
                           std::optional<FileError>* blocked) const noexcept
{
    try {
        save(path);
        return true;
    } catch (const std::exception& e) {
        if (const auto* file = dynamic_cast<const FileError*>(&e);
            blocked && file && file->blocksWrites())
            *blocked = *file;
        log.write(u"清单没保存成功："_s + describe(e) + u"——这一轮的记账没写下去，下一轮会重来"_s);
    } catch (...) {
        log.write(u"清单没保存成功——这一轮的记账没写下去，下一轮会重来"_s);
    }
    return false;
}

bool SyncManifest::modify(const QString& path, SyncLog& log,
                          const std::function<void(SyncManifest&)>& change)
{
    SyncManifest m = load(path);
    change(m);
    return m.persist(path, log);
}
