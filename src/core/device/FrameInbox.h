#pragma once

#include "device/FrameParser.h"
#include "device/OnceResume.h"
#include "device/Proto.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QMap>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

// The frames the pen sends, as the device client hands them out: one parser per notifying
// characteristic (AE22, AE23), the frames received and not yet taken, and the flows waiting for
// the next one. A wait ends early when the link is gone, as `linkUp` tells.
class FrameInbox {
public:
    struct SourcedFrame {
        QString source; // "AE22" or "AE23"
        Proto::Frame frame;
    };

    explicit FrameInbox(std::function<bool()> linkUp);

    // Fresh parsers (a new link starts with clean reassembly and counters).
    void resetParsers();
    void clearPending() { m_pending.clear(); }
    // Bytes from a notifying characteristic; AE23's go to its own parser, all others to AE22's.
    void feed(const QString& characteristic, const QByteArray& value);
    // Wakes every waiting flow, to look at the link again.
    void wake();

    // The oldest received frame not yet taken; absent after `timeout` seconds, or at once when
    // nothing is pending and there is no link (no frame can come).
    QCoro::Task<std::optional<SourcedFrame>> next(double timeout);
    // The next frame of this group and command; frames of other kinds are consumed and dropped.
    QCoro::Task<std::optional<Proto::Frame>> expect(uint8_t type, uint8_t cmd, double timeout);
    // "AE22: CRC错0 重同步1  AE23: CRC错0 重同步0"
    QString stats() const;

private:
    std::function<bool()> m_linkUp;
    QObject m_ctx; // owns the timers
    QMap<QString, FrameParser> m_parsers;
    std::deque<SourcedFrame> m_pending;
    std::vector<OnceResume<bool>> m_waiters;
};
