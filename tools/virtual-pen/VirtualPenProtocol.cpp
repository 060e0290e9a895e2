// The pen's side of the protocol: requests in, answers and file content out, faults on the way.
#include "VirtualPen.h"
#include "device/Proto.h"

#include <algorithm>

namespace {

QByteArray be32(uint32_t v)
{
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i) {
        out[i] = char((v >> (24 - 8 * i)) & 0xFF);
    }
    return out;
}

uint32_t readLe32(const QByteArray& b, int at)
{
    const auto* p = reinterpret_cast<const uint8_t*>(b.constData()) + at;
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The pen's side of the protocol

bool VirtualPen::isUnanswered(const char* what) const
{
    return m_faults.unanswered.contains(QLatin1String(what));
}

const VirtualPen::File* VirtualPen::findFile(const QString& name) const
{
    for (const File& f : m_files) {
        if (f.accepts.isEmpty() ? f.name == name : f.accepts.contains(name)) {
            return &f;
        }
    }
    return nullptr;
}

qint64 VirtualPen::limitFor(const QList<qint64>& list) const
{
    const int index = m_connections - 1;
    return index >= 0 && index < list.size() ? list[index] : -1;
}

void VirtualPen::answer(uint8_t type, uint8_t cmd, const QByteArray& body, uint8_t seq,
                        const QString& characteristic)
{
    queueFrame(Proto::buildFrame(type, cmd, body, seq), characteristic);
}

void VirtualPen::handleRequest(const Proto::Frame& frame)
{
    using namespace Proto;
    Request req;
    req.type = frame.type().value_or(0);
    req.cmd = frame.cmd().value_or(0);
    req.body = frame.body();
    const bool fileRequest = req.type == T::file &&
                             (req.cmd == FileCmd::importReq || req.cmd == FileCmd::delOne) &&
                             req.body.size() >= 4 + filenameFieldLen;
    if (fileRequest) {
        req.offset = readLe32(req.body, 0);
        const QByteArray field = req.body.mid(4, filenameFieldLen);
        const qsizetype nul = field.indexOf('\0');
        req.name = QString::fromUtf8(nul < 0 ? field : field.left(nul));
    }
    m_requests.append(req);

    const uint8_t seq = frame.seq;
    const QString& ae22 = Proto::charNotify;
    const QString& ae23 = Proto::charKey;

    if (req.type == T::ctrl) {
        switch (req.cmd) {
        case CtrlCmd::setTime:
            if (req.body.size() >= 7) {
                const auto* b = reinterpret_cast<const uint8_t*>(req.body.constData());
                m_lastSetTime =
                    QDateTime(QDate(b[0] | (b[1] << 8), b[2], b[3]), QTime(b[4], b[5], b[6]));
            }
            return;
        case CtrlCmd::capacityReq:
            if (!isUnanswered("capacity")) {
                answer(T::ctrl, CtrlCmd::capacityAck,
                       QByteArray(le32(m_capRemain) + le32(m_capTotal)), seq, ae22);
            }
            return;
        case CtrlCmd::batteryReq:
            if (!isUnanswered("battery")) {
                answer(T::ctrl, CtrlCmd::batteryAck, QByteArray(1, char(m_battery)), seq, ae22);
            }
            return;
        case CtrlCmd::firmwareReq:
            if (!isUnanswered("firmware")) {
                answer(T::ctrl, CtrlCmd::firmwareAck, m_firmware.toUtf8(), seq, ae22);
            }
            return;
        default:
            return;
        }
    }
    if (req.type == T::key) {
        switch (req.cmd) {
        case KeyCmd::statusReq:
            if (!isUnanswered("status") && m_recordStatus) {
                answer(T::key, KeyCmd::statusAck, QByteArray(1, char(*m_recordStatus)), seq, ae23);
            }
            return;
        case KeyCmd::curNameReq:
            if (!isUnanswered("current")) {
                answer(T::key, KeyCmd::curNameAck, m_currentName.toUtf8() + '\0', seq, ae23);
            }
            return;
        case KeyCmd::gainReq:
            if (!isUnanswered("gain")) {
                answer(T::key, KeyCmd::gainAck, QByteArray(1, char(m_gain)), seq, ae23);
            }
            return;
        default:
            return;
        }
    }
    if (req.type != T::file) {
        return;
    }
    switch (req.cmd) {
    case FileCmd::listReq: {
        if (isUnanswered("list")) {
            return;
        }
        for (qsizetype at = 0; at < m_files.size(); at += m_listEntriesPerFrame) {
            const qsizetype n = std::min<qsizetype>(m_listEntriesPerFrame, m_files.size() - at);
            QByteArray body = be32(uint32_t(n));
            for (qsizetype i = at; i < at + n; ++i) {
                const File& f = m_files[i];
                QByteArray field = f.name.toUtf8().left(nameFieldLen);
                field.append(nameFieldLen - field.size(), '\0');
                body += be32(f.time) + be32(uint32_t(f.content.size())) + field;
            }
            answer(T::file, FileCmd::listData, body, seq, ae22);
        }
        answer(T::file, FileCmd::listDone, {}, seq, ae22);
        return;
    }
    case FileCmd::importReq: {
        if (!fileRequest || isUnanswered("import")) {
            return;
        }
        m_transfer.reset(); // a new request replaces any transfer under way
        const File* f = m_faults.unknownNames.contains(req.name) ? nullptr : findFile(req.name);
        if (!f) {
            answer(T::file, FileCmd::importEnd, QByteArray(1, '\1'), seq, ae22);
            return;
        }
        if (req.offset > uint32_t(f->content.size())) {
            answer(T::file, FileCmd::importEnd, QByteArray(1, '\2'), seq, ae22);
            return;
        }
        answer(T::file, FileCmd::importBegin, {}, seq, ae22);
        m_transfer = Transfer{f->name, qint64(req.offset)};
        schedulePump();
        return;
    }
    case FileCmd::delOne: {
        if (!fileRequest || isUnanswered("delete")) {
            return;
        }
        const File* f = findFile(req.name);
        uint8_t status = 1;
        if (f) {
            status = 0;
            if (!m_faults.undeletable.contains(req.name) &&
                !m_faults.undeletable.contains(f->name)) {
                const QString listed = f->name;
                if (m_transfer && m_transfer->name == listed) {
                    m_transfer.reset();
                }
                removeFile(listed);
                recordDeletion(listed);
            }
        }
        answer(T::file, FileCmd::delOneAck, QByteArray(1, char(status)), seq, ae22);
        return;
    }
    default:
        return;
    }
}

void VirtualPen::queueFrame(QByteArray frame, const QString& characteristic)
{
    // Notifications only reach a subscribed central; key answers fall back to AE22.
    QString target = characteristic.toLower();
    if (!m_subscribed.contains(target)) {
        target = Proto::charNotify;
        if (!m_subscribed.contains(target)) {
            return;
        }
    }
    ++m_framesSent;
    if (m_faults.crcDamageEvery > 0 && m_framesSent % m_faults.crcDamageEvery == 0) {
        frame[2] = char(frame[2] ^ 0x01);
    }
    if (m_faults.garbageEvery > 0 && m_framesSent % m_faults.garbageEvery == 0) {
        frame.prepend(QByteArray::fromHex("001122"));
    }
    const int chunk = std::max(1, m_mtu - 3);
    for (qsizetype at = 0; at < frame.size(); at += chunk) {
        m_outgoing.push_back({target, frame.mid(at, chunk)});
    }
    schedulePump();
}

void VirtualPen::schedulePump()
{
    if (m_linked && !m_pumpTimer.isActive()) {
        m_pumpClock.start();
        m_pumpTimer.start();
    }
}

bool VirtualPen::fillTransfer()
{
    if (!m_transfer) {
        return false;
    }
    const File* f = nullptr;
    for (const File& file : m_files) {
        if (file.name == m_transfer->name) {
            f = &file;
        }
    }
    if (!f) {
        answer(Proto::T::file, Proto::FileCmd::importEnd, QByteArray(1, '\3'), 0,
               Proto::charNotify);
        m_transfer.reset();
        return true;
    }
    const qint64 dropAt = limitFor(m_faults.dropAfterBytes);
    const qint64 stallAt = m_stalledThisLink ? -1 : limitFor(m_faults.stallAfterBytes);
    qint64 n = std::min<qint64>(m_dataFrameBytes, f->content.size() - m_transfer->pos);
    if (dropAt >= 0) {
        n = std::min(n, std::max<qint64>(0, dropAt - m_contentSentLink));
    }
    if (stallAt >= 0) {
        n = std::min(n, std::max<qint64>(0, stallAt - m_contentSentLink));
    }
    bool queued = false;
    if (n > 0) {
        answer(Proto::T::file, Proto::FileCmd::importData, f->content.mid(m_transfer->pos, n), 0,
               Proto::charNotify);
        m_transfer->pos += n;
        m_contentSentLink += n;
        m_contentSentTotal += n;
        queued = true;
    }
    if (dropAt >= 0 && m_contentSentLink >= dropAt) {
        m_transfer.reset();
        m_dropPending = true; // once what is on the air has gone out
    } else if (stallAt >= 0 && m_contentSentLink >= stallAt) {
        m_transfer.reset();
        m_stalledThisLink = true; // silent until the next request
    } else if (m_transfer->pos >= f->content.size()) {
        m_transfer.reset();
        answer(Proto::T::file, Proto::FileCmd::importEnd, QByteArray(1, '\0'), 0,
               Proto::charNotify);
        queued = true;
    }
    return queued || m_transfer.has_value();
}

void VirtualPen::pump()
{
    if (!m_linked) {
        m_pumpTimer.stop();
        return;
    }
    const int gen = m_linkGeneration;
    int burst = 64; // chunks per turn of the event loop when unthrottled
    if (m_bytesPerSecond > 0) {
        m_budget += m_bytesPerSecond * (double(m_pumpClock.nsecsElapsed()) / 1e9);
        m_pumpClock.restart();
        m_budget = std::min(m_budget, m_bytesPerSecond * 0.05 + m_mtu);
    }
    while (gen == m_linkGeneration) {
        if (m_outgoing.empty() && !fillTransfer()) {
            break;
        }
        if (m_outgoing.empty()) {
            continue;
        }
        const Chunk& c = m_outgoing.front();
        if (m_bytesPerSecond > 0) {
            if (m_budget < double(c.bytes.size())) {
                return; // wait for the next tick
            }
            m_budget -= double(c.bytes.size());
        } else if (burst-- <= 0) {
            return;
        }
        const Chunk chunk = c;
        m_outgoing.pop_front();
        Q_EMIT valueUpdated(m_address, chunk.characteristic, chunk.bytes);
    }
    if (gen != m_linkGeneration) {
        return;
    }
    if (m_dropPending) {
        m_dropPending = false;
        endLink(QStringLiteral("连接意外中断"));
        return;
    }
    m_pumpTimer.stop();
    m_budget = 0;
}
