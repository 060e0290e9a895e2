#include "device/AdvertisementStream.h"

#include "device/BLEScanner.h"
#include "device/DeviceTimer.h"

#include <algorithm>
#include <optional>
#include <utility>

void AdvertisementStream::Sink::push(const Discovered& d)
{
    const auto same = std::find_if(pending.begin(), pending.end(), [&](const Discovered& p) {
        return p.peripheral == d.peripheral;
    });
    if (same != pending.end())
        *same = d;
    else
        pending.append(d);
    if (auto w = std::exchange(waiter, std::nullopt)) {
        w->fire(true);
    }
}

void AdvertisementStream::Sink::end()
{
    open = false;
    if (auto w = std::exchange(waiter, std::nullopt)) {
        w->fire(false);
    }
}

AdvertisementStream::AdvertisementStream(BLEScanner* client, std::weak_ptr<int> clientAlive, int id,
                                         std::shared_ptr<Sink> sink)
    : m_client(client), m_clientAlive(std::move(clientAlive)), m_id(id), m_sink(std::move(sink))
{}

AdvertisementStream::AdvertisementStream(AdvertisementStream&& other) noexcept
    : m_client(std::exchange(other.m_client, nullptr)),
      m_clientAlive(std::move(other.m_clientAlive)), m_id(std::exchange(other.m_id, -1)),
      m_sink(std::move(other.m_sink))
{}

AdvertisementStream& AdvertisementStream::operator=(AdvertisementStream&& other) noexcept
{
    if (this != &other) {
        close();
        m_client = std::exchange(other.m_client, nullptr);
        m_clientAlive = std::move(other.m_clientAlive);
        m_id = std::exchange(other.m_id, -1);
        m_sink = std::move(other.m_sink);
    }
    return *this;
}

AdvertisementStream::~AdvertisementStream()
{
    close();
}

bool AdvertisementStream::isOpen() const
{
    return m_sink && m_sink->open;
}

void AdvertisementStream::close()
{
    if (!m_sink) {
        return;
    }
    auto sink = std::exchange(m_sink, nullptr);
    sink->end();
    if (!m_clientAlive.expired() && m_client) {
        m_client->removeSink(m_id);
    }
    m_client = nullptr;
}

QCoro::Task<std::optional<Discovered>> AdvertisementStream::next(std::optional<double> timeout)
{
    auto sink = m_sink; // the stream object may be moved or closed while we wait
    if (!sink) {
        co_return std::nullopt;
    }
    const double deadline = timeout ? DeviceTimer::now() + *timeout : 0;
    while (true) {
        if (!sink->pending.isEmpty()) {
            co_return sink->pending.takeFirst();
        }
        if (!sink->open) {
            co_return std::nullopt;
        }
        OnceResume<bool> woken;
        sink->waiter = woken;
        std::optional<DeviceTimer> timer;
        if (timeout) {
            const double remaining = deadline - DeviceTimer::now();
            if (remaining <= 0) {
                co_return std::nullopt;
            }
            timer.emplace(nullptr, remaining, [woken] { woken.fire(false); });
        }
        const bool gotOne = co_await woken;
        if (!gotOne && sink->pending.isEmpty()) {
            co_return std::nullopt;
        }
    }
}
