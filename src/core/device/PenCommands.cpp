#include "device/PenCommands.h"

#include "device/BLEClient.h"
#include "device/BLEError.h"
#include "device/DeviceTimer.h"
#include "device/FileListDecoder.h"
#include "device/PenReadings.h"
#include "device/ProtoError.h"

#include <QDate>
#include <QTime>
#include <algorithm>
#include <iterator>

namespace {

std::optional<uint8_t> firstByte(const std::optional<Proto::Frame>& f)
{
    const QByteArray body = f ? f->body() : QByteArray();
    return PenReadings::firstByte(body);
}

} // namespace

QCoro::Task<std::optional<Proto::Frame>> PenCommands::request(uint8_t type, uint8_t cmd,
                                                              uint8_t answer, double timeout)
{
    m_client.send(type, cmd);
    auto answerFrame = co_await m_client.expect(type, answer, timeout);
    co_return answerFrame;
}

QCoro::Task<std::optional<uint8_t>> PenCommands::battery(double timeout)
{
    const auto f = co_await request(Proto::T::ctrl, Proto::CtrlCmd::batteryReq,
                                    Proto::CtrlCmd::batteryAck, timeout);
    co_return firstByte(f);
}

QCoro::Task<std::optional<PenCommands::Capacity>> PenCommands::capacity(double timeout)
{
    const auto f = co_await request(Proto::T::ctrl, Proto::CtrlCmd::capacityReq,
                                    Proto::CtrlCmd::capacityAck, timeout);
    const QByteArray body = f ? f->body() : QByteArray();
    co_return PenReadings::capacity(body);
}

QCoro::Task<std::optional<QString>> PenCommands::firmware(double timeout)
{
    const auto f = co_await request(Proto::T::ctrl, Proto::CtrlCmd::firmwareReq,
                                    Proto::CtrlCmd::firmwareAck, timeout);
    if (!f) {
        co_return std::nullopt;
    }
    const QByteArray body = f->body();
    co_return PenReadings::text(body);
}

QCoro::Task<std::optional<uint8_t>> PenCommands::gain(double timeout)
{
    const auto f =
        co_await request(Proto::T::key, Proto::KeyCmd::gainReq, Proto::KeyCmd::gainAck, timeout);
    co_return firstByte(f);
}

QCoro::Task<std::optional<uint8_t>> PenCommands::recordStatus(double timeout)
{
    const auto f = co_await request(Proto::T::key, Proto::KeyCmd::statusReq,
                                    Proto::KeyCmd::statusAck, timeout);
    co_return firstByte(f);
}

QCoro::Task<std::optional<QString>> PenCommands::currentFilename(double timeout)
{
    const auto f = co_await request(Proto::T::key, Proto::KeyCmd::curNameReq,
                                    Proto::KeyCmd::curNameAck, timeout);
    const QByteArray body = f ? f->body() : QByteArray();
    co_return PenReadings::currentName(body);
}

void PenCommands::setTime(const QDateTime& date)
{
    if (!m_client.canWrite()) {
        throw BLEError::notConnected();
    }
    const QDateTime local = date.toLocalTime();
    const QDate d = local.date();
    const QTime t = local.time();
    const bool ok = local.isValid();
    m_client.sendRaw(Proto::buildSetTime(m_client.nextSeq(), ok ? d.year() : 2026,
                                         ok ? d.month() : 1, ok ? d.day() : 1, ok ? t.hour() : 0,
                                         ok ? t.minute() : 0, ok ? t.second() : 0));
}

QCoro::Task<PenCommands::FileList> PenCommands::fileList(double idleFallback, double hardTimeout)
{
    m_client.send(Proto::T::file, Proto::FileCmd::listReq);
    FileList out;
    const double deadline = DeviceTimer::now() + hardTimeout;
    double lastData = DeviceTimer::now();
    while (DeviceTimer::now() < deadline) {
        const double slice = std::min(m_client.timing().listPoll, deadline - DeviceTimer::now());
        const auto f = co_await m_client.nextFrame(slice);
        if (f) {
            if (f->frame.is(Proto::T::file, Proto::FileCmd::listData)) {
                out.entries.append(FileListDecoder::decode(f->frame.body()));
                lastData = DeviceTimer::now();
            } else if (f->frame.is(Proto::T::file, Proto::FileCmd::listDone)) {
                out.gotDone = true;
                co_return out;
            }
            continue;
        }
        if (!m_client.isConnected()) {
            co_return out; // the link is gone: nothing more will come
        }
        if (!out.entries.isEmpty() && DeviceTimer::now() - lastData > idleFallback) {
            co_return out;
        }
    }
    co_return out;
}

bool PenCommands::trySendRaw(const QByteArray& bytes)
{
    if (!m_client.canWrite()) {
        return false;
    }
    m_client.sendRaw(bytes);
    return true;
}

int PenCommands::defaultMaxResumes(std::optional<uint32_t> expectSize)
{
    const int bySize = expectSize ? int(double(*expectSize) / 1048576.0 * 2.0) : 0;
    return std::max(8, bySize);
}

QCoro::Task<DownloadResult> PenCommands::download(QStringList candidates,
                                                  std::optional<uint32_t> expectSize,
                                                  double idleTimeout, std::optional<int> maxResumes,
                                                  QByteArray resumeFrom, ProgressFn onProgress)
{
    const int resumeLimit = maxResumes ? std::max(0, *maxResumes) : defaultMaxResumes(expectSize);
    DownloadResult result;
    if (candidates.isEmpty()) {
        co_return result;
    }
    // A name too long for the request cannot be asked for, but the same file's shorter names
    // still can: pass over it instead of giving the file up.
    QStringList names;
    std::copy_if(candidates.cbegin(), candidates.cend(), std::back_inserter(names),
                 Proto::fitsNameField);
    if (names.isEmpty()) {
        result.filename = candidates.first();
        result.data = resumeFrom;
        result.disconnected = true;
        co_return result;
    }

    int index = 0;
    QByteArray buf;
    double t0 = 0;
    double lastData = 0;
    int resumeCount = 0;
    std::optional<uint8_t> rememberedEnd;

    auto snapshot = [&] {
        result.data = buf;
        result.seconds = DeviceTimer::now() - t0;
        result.resumes = resumeCount;
    };
    // Writes a request for the current candidate from the bytes held; false when the link is
    // gone.
    auto request = [&]() -> bool {
        if (!trySendRaw(Proto::buildImportRequest(names[index], uint32_t(buf.size()),
                                                  m_client.nextSeq()))) {
            return false;
        }
        lastData = DeviceTimer::now();
        return true;
    };
    auto startCandidate = [&]() -> bool {
        result.tried.append(names[index]);
        buf = resumeFrom;
        t0 = DeviceTimer::now();
        resumeCount = 0;
        return request();
    };
    auto gaveUp = [&] {
        snapshot();
        result.filename = names[index];
        result.disconnected = true;
        return result;
    };

    if (!startCandidate()) {
        co_return gaveUp();
    }
    while (true) {
        const auto f = co_await m_client.nextFrame(m_client.timing().downloadPoll);
        bool evaluate = false;
        bool stalled = false;
        std::optional<uint8_t> code;
        if (f) {
            const Proto::Frame& frame = f->frame;
            if (frame.is(Proto::T::file, Proto::FileCmd::importData)) {
                buf.append(frame.data.constData() + 2, frame.data.size() - 2);
                lastData = DeviceTimer::now();
                if (onProgress) {
                    onProgress(buf.size(), expectSize);
                }
            } else if (frame.is(Proto::T::file, Proto::FileCmd::importBegin)) {
                lastData = DeviceTimer::now();
            } else if (frame.is(Proto::T::file, Proto::FileCmd::importEnd)) {
                code = firstByte(frame);
                result.endCode = code;
                evaluate = true;
            }
        } else if (!m_client.isConnected()) {
            // The link dropped mid-transfer: no point waiting out the idle time.
            co_return gaveUp();
        } else if (DeviceTimer::now() - lastData > idleTimeout) {
            code = rememberedEnd;
            evaluate = true;
            stalled = true;
        }
        if (!evaluate) {
            continue;
        }

        snapshot();
        if (stalled && !buf.isEmpty() && resumeCount < resumeLimit) {
            ++resumeCount;
            if (!request()) {
                co_return gaveUp();
            }
            continue;
        }
        // "No such file" before this name delivered anything: the pen may know the file by
        // its next name. A resumed transfer starts with the bytes held, so "nothing came" is
        // measured against them, not against an empty buffer.
        if (code == 1 && buf.size() == resumeFrom.size() && index + 1 < names.size()) {
            ++index;
            rememberedEnd = 1;
            if (!startCandidate()) {
                co_return gaveUp();
            }
            continue;
        }
        result.filename = names[index];
        co_return result;
    }
}

QCoro::Task<PenCommands::DeleteOutcome> PenCommands::deleteOne(FileEntry entry, double timeout)
{
    const QStringList candidates = entry.candidates();
    // As for downloads, a name too long for the request is passed over for the shorter ones;
    // only a file with no name that fits cannot be asked for at all.
    QStringList names;
    std::copy_if(candidates.cbegin(), candidates.cend(), std::back_inserter(names),
                 Proto::fitsNameField);
    if (names.isEmpty() && !candidates.isEmpty()) {
        throw ProtoError::filenameTooLong(candidates.first());
    }
    QStringList tried;
    auto refused = [&] {
        return DeleteOutcome{false, QStringLiteral("全部候选名都被拒绝（") +
                                        tried.join(QStringLiteral("；")) + QStringLiteral("）")};
    };
    for (const QString& name : names) {
        if (!m_client.canWrite()) {
            throw BLEError::notConnected();
        }
        m_client.sendRaw(Proto::buildDeleteOne(name, m_client.nextSeq()));
        const auto ack =
            co_await m_client.expect(Proto::T::file, Proto::FileCmd::delOneAck, timeout);
        QString reply;
        if (!ack) {
            reply = QStringLiteral("无应答");
        } else if (const QByteArray body = ack->body(); body.isEmpty()) {
            reply = QStringLiteral("应答空");
        } else {
            reply = QStringLiteral("应答 ") + QString::number(uint8_t(body[0]));
        }

        const FileList list =
            co_await fileList(m_client.timing().verifyListIdle, m_client.timing().verifyListHard);
        // Absence only counts from a complete list: a list cut short (silent pen, dropped link)
        // proves nothing, and calling that a deletion would lose track of a file still there.
        if (!list.gotDone) {
            co_return DeleteOutcome{false, name + QStringLiteral(" → ") + reply +
                                               QStringLiteral("，重拉列表不完整，无法确认删除")};
        }
        const bool stillThere =
            std::any_of(list.entries.begin(), list.entries.end(), [&](const FileEntry& e) {
                return e.rawName == entry.rawName && e.size == entry.size;
            });
        if (!stillThere) {
            co_return DeleteOutcome{true, name + QStringLiteral(" → ") + reply +
                                              QStringLiteral("，重拉列表已消失")};
        }
        tried.append(name + QStringLiteral(":") + reply);
    }
    co_return refused();
}
