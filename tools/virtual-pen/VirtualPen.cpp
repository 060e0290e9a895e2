#include "VirtualPen.h"

#include "device/Proto.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <unistd.h>

using nlohmann::json;

namespace {

QString str(const json& j, const char* key, const QString& fallback)
{
    if (!j.contains(key) || j[key].is_null()) {
        return fallback;
    }
    return QString::fromStdString(j[key].get<std::string>());
}

QStringList strList(const json& j, const char* key)
{
    QStringList out;
    if (j.contains(key) && j[key].is_array()) {
        for (const auto& v : j[key]) {
            out.append(QString::fromStdString(v.get<std::string>()));
        }
    }
    return out;
}

QList<qint64> intList(const json& j, const char* key)
{
    QList<qint64> out;
    if (j.contains(key) && j[key].is_array()) {
        for (const auto& v : j[key]) {
            out.append(v.get<qint64>());
        }
    }
    return out;
}

} // namespace

QByteArray VirtualPen::generatePackets(int packets, uint32_t seed)
{
    // splitmix64: small, fast and the same everywhere.
    uint64_t state = seed;
    auto next = [&state] {
        uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    };
    QByteArray out(qsizetype(std::max(0, packets)) * 40, '\0');
    for (int p = 0; p < packets; ++p) {
        char* pkt = out.data() + qsizetype(p) * 40;
        pkt[0] = char(0x48); // TOC byte of a 20 ms wide-band mono Opus frame
        for (int i = 1; i < 40; i += 8) {
            const uint64_t r = next();
            for (int k = 0; k < 8 && i + k < 40; ++k) {
                pkt[i + k] = char((r >> (8 * k)) & 0xFF);
            }
        }
    }
    return out;
}

uint32_t VirtualPen::defaultTime(qint64 bytes)
{
    return uint32_t(std::max<qint64>(0, bytes) / 2000); // packets × 20 ms, whole seconds
}

VirtualPen::VirtualPen(const json& s, const QString& baseDir, QObject* parent) : CentralPort(parent)
{
    try {
        if (!s.is_object()) {
            throw ScenarioError("a scenario is a JSON object");
        }
        m_name = str(s, "name", QStringLiteral("QX27-0001"));
        m_address = str(s, "address", QStringLiteral("C0:11:22:33:44:55")).toUpper();
        m_advertisesService = s.value("advertisesService", true);
        m_rssi = s.value("rssi", -60);
        m_mtu = std::max(4, s.value("mtu", 185));
        m_bytesPerSecond = std::max(0, s.value("bytesPerSecond", 0));
        m_dataFrameBytes = std::clamp(s.value("dataFrameBytes", 200), 1, 8000);
        m_listEntriesPerFrame = std::clamp(s.value("listEntriesPerFrame", 8), 1, 200);
        if (s.contains("recordStatus")) {
            if (s["recordStatus"].is_null()) {
                m_recordStatus.reset();
            } else {
                m_recordStatus = s["recordStatus"].get<uint8_t>();
            }
        }
        m_currentName = str(s, "currentName", {});
        m_battery = s.value("battery", uint8_t(80));
        m_firmware = str(s, "firmware", QStringLiteral("1.0.3"));
        m_gain = s.value("gain", uint8_t(2));
        if (s.contains("capacity")) {
            m_capRemain = s["capacity"].value("remain", 3000u);
            m_capTotal = s["capacity"].value("total", 4000u);
        }
        m_radioState = s.value("radioState", int(CentralPort::poweredOn));
        m_advertising = s.value("advertising", true);
        m_advIntervalMs = std::max(1, s.value("advertiseIntervalMs", 100));
        if (s.contains("otherDevices")) {
            m_otherCount = std::max(0, s["otherDevices"].value("count", 0));
            m_otherIntervalMs = std::max(1, s["otherDevices"].value("intervalMs", 100));
        }

        const QDir base(baseDir.isEmpty() ? QDir::currentPath() : baseDir);
        for (const auto& f : s.value("files", json::array())) {
            File file;
            file.name = str(f, "name", {});
            if (file.name.isEmpty()) {
                throw ScenarioError("every file needs a name");
            }
            if (f.contains("source")) {
                const QString path = base.absoluteFilePath(str(f, "source", {}));
                QFile in(path);
                if (!in.open(QIODevice::ReadOnly)) {
                    throw ScenarioError("cannot read " + path.toStdString());
                }
                file.content = in.readAll();
            } else if (f.contains("generate")) {
                const auto& g = f["generate"];
                file.content = generatePackets(g.value("packets", 0), g.value("seed", 1u));
            }
            file.time =
                f.contains("time") ? f["time"].get<uint32_t>() : defaultTime(file.content.size());
            file.accepts = strList(f, "accepts");
            m_files.append(file);
        }
        if (s.contains("deletionsFile")) {
            loadDeletions(base.absoluteFilePath(str(s, "deletionsFile", {})));
        }

        if (s.contains("faults")) {
            const auto& f = s["faults"];
            m_faults.dropAfterBytes = intList(f, "dropAfterBytes");
            m_faults.stallAfterBytes = intList(f, "stallAfterBytes");
            m_faults.unknownNames = strList(f, "unknownNames");
            m_faults.unanswered = strList(f, "unanswered");
            m_faults.crcDamageEvery = std::max(0, f.value("crcDamageEvery", 0));
            m_faults.garbageEvery = std::max(0, f.value("garbageEvery", 0));
            m_faults.undeletable = strList(f, "undeletable");
            m_faults.ignoreConnect = f.value("ignoreConnect", false);
            m_faults.ignoreDiscovery = f.value("ignoreDiscovery", false);
            m_faults.missingCharacteristics = strList(f, "missingCharacteristics");
            if (f.contains("subscribeError") && f["subscribeError"].is_string()) {
                m_faults.subscribeError = str(f, "subscribeError", {});
            }
            m_faults.connectDelayMs = std::max(0, f.value("connectDelayMs", 0));
            m_faults.disconnectConfirmMs = std::max(0, f.value("disconnectConfirmMs", 0));
        }
    } catch (const json::exception& e) {
        throw ScenarioError(std::string("bad scenario: ") + e.what());
    }

    m_advTimer.setInterval(m_advIntervalMs);
    connect(&m_advTimer, &QTimer::timeout, this, &VirtualPen::advertiseTick);
    m_otherTimer.setInterval(m_otherIntervalMs);
    connect(&m_otherTimer, &QTimer::timeout, this, &VirtualPen::otherTick);
    m_pumpTimer.setInterval(m_bytesPerSecond > 0 ? 5 : 0);
    connect(&m_pumpTimer, &QTimer::timeout, this, &VirtualPen::pump);
}

void VirtualPen::loadDeletions(const QString& path)
{
    m_deletionsFile = path;
    QFile in(path);
    if (in.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : in.readAll().split('\n')) {
            if (!line.isEmpty()) {
                removeFile(QString::fromUtf8(line));
            }
        }
    }
}

void VirtualPen::recordDeletion(const QString& name)
{
    m_deleted.append(name);
    if (m_deletionsFile.isEmpty()) {
        return;
    }
    // Written through before the acknowledgement goes out: a pen forgets nothing it has deleted,
    // whatever happens to the program driving it afterwards.
    QFile out(m_deletionsFile);
    if (!out.open(QIODevice::Append) || out.write(name.toUtf8() + '\n') < 0 || !out.flush() ||
        ::fsync(out.handle()) != 0) {
        qFatal("virtual pen: cannot record a deletion in %s", qPrintable(m_deletionsFile));
    }
}

std::unique_ptr<VirtualPen> VirtualPen::fromFile(const QString& path, QObject* parent)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        throw ScenarioError("cannot read scenario " + path.toStdString());
    }
    return fromJson(in.readAll(), QFileInfo(path).absolutePath(), parent);
}

std::unique_ptr<VirtualPen> VirtualPen::fromJson(const QByteArray& text, const QString& baseDir,
                                                 QObject* parent)
{
    json j;
    try {
        j = json::parse(text.constData(), text.constData() + text.size());
    } catch (const json::exception& e) {
        throw ScenarioError(std::string("scenario is not JSON: ") + e.what());
    }
    return std::make_unique<VirtualPen>(j, baseDir, parent);
}

VirtualPen::~VirtualPen() = default;

// ---------------------------------------------------------------------------------------------
// Inspection and control

QStringList VirtualPen::fileNames() const
{
    QStringList out;
    for (const File& f : m_files) {
        out.append(f.name);
    }
    return out;
}

std::optional<QByteArray> VirtualPen::fileContent(const QString& name) const
{
    for (const File& f : m_files) {
        if (f.name == name) {
            return f.content;
        }
    }
    return std::nullopt;
}

void VirtualPen::addFile(const QString& name, const QByteArray& content,
                         std::optional<uint32_t> time, const QStringList& accepts)
{
    removeFile(name);
    m_files.append({name, content, time.value_or(defaultTime(content.size())), accepts});
}

bool VirtualPen::removeFile(const QString& name)
{
    return m_files.removeIf([&](const File& f) { return f.name == name; }) > 0;
}

void VirtualPen::setBytesPerSecond(int value)
{
    m_bytesPerSecond = std::max(0, value);
    m_pumpTimer.setInterval(m_bytesPerSecond > 0 ? 5 : 0);
}

void VirtualPen::setRadioState(int state)
{
    m_radioState = state;
    if (state != CentralPort::poweredOn) {
        m_scanning = false;
        m_advTimer.stop();
        m_otherTimer.stop();
        if (m_linked || m_connecting) {
            endLink(QStringLiteral("蓝牙已关闭"));
        }
    }
    later(0, [this, state] { Q_EMIT stateUpdated(state); });
}

void VirtualPen::setAdvertising(bool on)
{
    m_advertising = on;
}

void VirtualPen::setAdvertiseInterval(int ms)
{
    m_advIntervalMs = std::max(1, ms);
    m_advTimer.setInterval(m_advIntervalMs);
}

void VirtualPen::setOtherDevices(int count, int intervalMs)
{
    m_otherCount = std::max(0, count);
    m_otherIntervalMs = std::max(1, intervalMs);
    m_otherTimer.setInterval(m_otherIntervalMs);
    if (m_scanning && m_otherCount > 0) {
        m_otherTimer.start();
    } else {
        m_otherTimer.stop();
    }
}

void VirtualPen::dropLink(const QString& error)
{
    if (m_linked || m_connecting) {
        endLink(error);
    }
}
