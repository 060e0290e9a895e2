#pragma once

#include "device/Discovered.h"
#include "device/OnceResume.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <memory>
#include <optional>

class BLEScanner;

// An endless stream of advertisement sightings that keeps only the newest one of each device: a
// consumer that falls behind sees each device's latest sighting, never a backlog, and a burst of
// neighbours' sightings cannot hide the pen's. Scanning runs while any stream is open; destroying
// or closing the stream ends it.
class AdvertisementStream {
public:
    AdvertisementStream(AdvertisementStream&& other) noexcept;
    AdvertisementStream& operator=(AdvertisementStream&& other) noexcept;
    AdvertisementStream(const AdvertisementStream&) = delete;
    AdvertisementStream& operator=(const AdvertisementStream&) = delete;
    ~AdvertisementStream();

    // The newest sighting not yet taken, waiting for one if needed. Absent when the stream is
    // closed, or when `timeout` seconds pass first (no time-out when absent).
    QCoro::Task<std::optional<Discovered>> next(std::optional<double> timeout = std::nullopt);
    bool isOpen() const;
    void close();

    // Shared between the stream and the client that feeds it.
    struct Sink {
        QList<Discovered> pending; // one per peripheral, in order of first arrival
        std::optional<OnceResume<bool>> waiter;
        bool open = true;
        void push(const Discovered& d);
        void end();
    };

private:
    friend class BLEScanner;
    AdvertisementStream(BLEScanner* client, std::weak_ptr<int> clientAlive, int id,
                        std::shared_ptr<Sink> sink);

    BLEScanner* m_client = nullptr;
    std::weak_ptr<int> m_clientAlive;
    int m_id = -1;
    std::shared_ptr<Sink> m_sink;
};
