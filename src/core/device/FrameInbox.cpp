#include "device/FrameInbox.h"

#include "device/DeviceTimer.h"
#include "device/UuidMatch.h"

#include <QStringList>

namespace {

const QString kAE22 = QStringLiteral("AE22");
const QString kAE23 = QStringLiteral("AE23");

} // namespace

FrameInbox::FrameInbox(std::function<bool()> linkUp) : m_linkUp(std::move(linkUp))
{
    resetParsers();
}

void FrameInbox::resetParsers()
{
    m_parsers.clear();
    m_parsers.insert(kAE22, FrameParser(kAE22));
    m_parsers.insert(kAE23, FrameParser(kAE23));
}

void FrameInbox::feed(const QString& characteristic, const QByteArray& value)
{
    const QString& source = UuidMatch::is(characteristic, "ae23") ? kAE23 : kAE22;
    const QList<Proto::Frame> frames = m_parsers[source].feed(value);
    if (frames.isEmpty()) {
        return;
    }
    for (const Proto::Frame& f : frames) {
        m_pending.push_back({source, f});
    }
    wake();
}

void FrameInbox::wake()
{
    for (const auto& w : std::exchange(m_waiters, {})) {
        w.fire(true);
    }
}

QCoro::Task<std::optional<FrameInbox::SourcedFrame>> FrameInbox::next(double timeout)
{
    const auto deadline = DeviceTimer::now() + timeout;
    while (true) {
        if (!m_pending.empty()) {
            SourcedFrame f = std::move(m_pending.front());
            m_pending.pop_front();
            co_return f;
        }
        const double remaining = deadline - DeviceTimer::now();
        if (!m_linkUp() || remaining <= 0) {
            co_return std::nullopt;
        }
        OnceResume<bool> woken;
        std::erase_if(m_waiters, [](const OnceResume<bool>& w) { return w.fired(); });
        m_waiters.push_back(woken);
        DeviceTimer timer(&m_ctx, remaining, [woken] { woken.fire(false); });
        co_await woken;
    }
}

QCoro::Task<std::optional<Proto::Frame>> FrameInbox::expect(uint8_t type, uint8_t cmd,
                                                            double timeout)
{
    const auto deadline = DeviceTimer::now() + timeout;
    while (DeviceTimer::now() < deadline) {
        auto f = co_await next(deadline - DeviceTimer::now());
        if (!f) {
            co_return std::nullopt;
        }
        if (f->frame.is(type, cmd)) {
            co_return std::move(f->frame);
        }
    }
    co_return std::nullopt;
}

QString FrameInbox::stats() const
{
    QStringList items;
    for (const FrameParser& p : m_parsers) {
        items.append(p.name() + QStringLiteral(": CRC错") + QString::number(p.crcErrors()) +
                     QStringLiteral(" 重同步") + QString::number(p.resyncs()));
    }
    items.sort();
    return items.join(QStringLiteral("  "));
}
