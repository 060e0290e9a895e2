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

bool sameUuid(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
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

// ---------------------------------------------------------------------------------------------
// Central port: scanning and link

void VirtualPen::later(int ms, std::function<void()> fn)
{
    QTimer::singleShot(ms, this, std::move(fn));
}

void VirtualPen::startScan()
{
    if (m_radioState != CentralPort::poweredOn) {
        return;
    }
    m_scanning = true;
    m_advTimer.start();
    if (m_otherCount > 0) {
        m_otherTimer.start();
    }
    later(0, [this] { advertiseTick(); }); // a pen in range is seen at once
}

void VirtualPen::stopScan()
{
    m_scanning = false;
    m_advTimer.stop();
    m_otherTimer.stop();
}

void VirtualPen::advertiseTick()
{
    if (!m_scanning || !m_advertising || m_linked || m_connecting ||
        m_radioState != CentralPort::poweredOn) {
        return;
    }
    Q_EMIT advertised(m_address, m_name,
                      m_advertisesService ? QStringList{Proto::serviceMain} : QStringList{},
                      m_rssi);
}

void VirtualPen::otherTick()
{
    if (!m_scanning) {
        return;
    }
    // Built once: the simulated neighbours must cost next to nothing, or a benchmark of the
    // listener would mostly measure them.
    while (m_others.size() < m_otherCount) {
        const int i = int(m_others.size());
        m_others.append({QStringLiteral("0A:00:00:00:%1:%2")
                             .arg((i >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
                             .arg(i & 0xFF, 2, 16, QLatin1Char('0'))
                             .toUpper(),
                         QStringLiteral("Other-%1").arg(i)});
    }
    for (int i = 0; i < m_otherCount && m_scanning; ++i) {
        Q_EMIT advertised(m_others[i].first, m_others[i].second, {}, -70);
    }
}

void VirtualPen::connectPeripheral(const QString& peripheral)
{
    if (peripheral.compare(m_address, Qt::CaseInsensitive) != 0) {
        later(0,
              [this, peripheral] { Q_EMIT connectFailed(peripheral, QStringLiteral("未知设备")); });
        return;
    }
    if (m_linked || m_connecting) {
        return;
    }
    m_connecting = true;
    if (m_faults.ignoreConnect) {
        return; // asleep: the attempt hangs until cancelled
    }
    const int gen = ++m_linkGeneration;
    later(m_faults.connectDelayMs, [this, gen] {
        if (gen != m_linkGeneration || !m_connecting) {
            return;
        }
        m_connecting = false;
        m_linked = true;
        ++m_connections;
        m_subscribed.clear();
        m_requestParser = FrameParser(QStringLiteral("AE21"));
        m_transfer.reset();
        m_outgoing.clear();
        m_contentSentLink = 0;
        m_stalledThisLink = false;
        m_dropPending = false;
        Q_EMIT connected(m_address);
    });
}

void VirtualPen::cancelConnection(const QString& peripheral)
{
    if (peripheral.compare(m_address, Qt::CaseInsensitive) != 0 || (!m_linked && !m_connecting)) {
        return;
    }
    ++m_linkGeneration;
    m_linked = false;
    m_connecting = false;
    m_transfer.reset();
    m_outgoing.clear();
    m_subscribed.clear();
    m_pumpTimer.stop();
    later(m_faults.disconnectConfirmMs, [this] { Q_EMIT disconnected(m_address, std::nullopt); });
}

void VirtualPen::endLink(const std::optional<QString>& error)
{
    ++m_linkGeneration;
    m_linked = false;
    m_connecting = false;
    m_transfer.reset();
    m_outgoing.clear();
    m_subscribed.clear();
    m_dropPending = false;
    m_pumpTimer.stop();
    later(0, [this, error] { Q_EMIT disconnected(m_address, error); });
}

void VirtualPen::discoverServices(const QString& peripheral, const QStringList& /*services*/)
{
    if (!m_linked || peripheral != m_address || m_faults.ignoreDiscovery) {
        return;
    }
    const int gen = m_linkGeneration;
    later(0, [this, gen] {
        if (gen == m_linkGeneration) {
            Q_EMIT servicesDiscovered(m_address, {Proto::serviceMain}, std::nullopt);
        }
    });
}

void VirtualPen::discoverCharacteristics(const QString& peripheral, const QString& service)
{
    if (!m_linked || peripheral != m_address) {
        return;
    }
    QStringList chars;
    for (const QString& c : {Proto::charWrite, Proto::charNotify, Proto::charKey}) {
        const bool missing = std::any_of(
            m_faults.missingCharacteristics.begin(), m_faults.missingCharacteristics.end(),
            [&](const QString& m) { return c.contains(m, Qt::CaseInsensitive); });
        if (!missing) {
            chars.append(c);
        }
    }
    const int gen = m_linkGeneration;
    later(0, [this, gen, service, chars] {
        if (gen == m_linkGeneration) {
            Q_EMIT characteristicsDiscovered(m_address, service, chars, std::nullopt);
        }
    });
}

void VirtualPen::setNotify(const QString& peripheral, const QString& characteristic, bool enabled)
{
    if (!m_linked || peripheral != m_address) {
        return;
    }
    std::optional<QString> error;
    if (sameUuid(characteristic, Proto::charNotify) && m_faults.subscribeError) {
        error = m_faults.subscribeError;
    } else if (enabled) {
        if (!m_subscribed.contains(characteristic.toLower())) {
            m_subscribed.append(characteristic.toLower());
        }
    } else {
        m_subscribed.removeAll(characteristic.toLower());
    }
    const int gen = m_linkGeneration;
    later(0, [this, gen, characteristic, error] {
        if (gen == m_linkGeneration) {
            Q_EMIT notificationStateUpdated(m_address, characteristic, error);
        }
    });
}

int VirtualPen::maximumWriteLength(const QString& /*peripheral*/) const
{
    return m_mtu - 3;
}

QString VirtualPen::peripheralName(const QString& peripheral) const
{
    return peripheral.compare(m_address, Qt::CaseInsensitive) == 0 ? m_name : QString();
}

void VirtualPen::writeWithoutResponse(const QString& peripheral, const QString& characteristic,
                                      const QByteArray& value)
{
    if (!m_linked || peripheral != m_address || !sameUuid(characteristic, Proto::charWrite)) {
        return;
    }
    if (value.size() > maximumWriteLength(peripheral)) {
        ++m_oversizeWrites; // a real stack refuses the write: it never reaches the pen
        return;
    }
    for (const Proto::Frame& f : m_requestParser.feed(value)) {
        handleRequest(f);
    }
}
