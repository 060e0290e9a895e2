#pragma once

#include "BluezObjectTree.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <deque>

// The other devices of a busy room, as BlueZ shows them while discovery runs: each appears
// (InterfacesAdded of a Device1) when first heard, changes its RSSI on every advertisement
// heard, and expires (InterfacesRemoved) once it has not been heard for a while.
class BluezRoom : public QObject {
    Q_OBJECT

public:
    struct Options {
        int count = 0;          // neighbours present at a time
        int lifetimeMs = 3000;  // how long each stays before it expires
        int advertiseMs = 1000; // each one's advertisement cadence (an RSSI change each)
    };

    BluezRoom(BluezObjectTree& tree, QString adapterPath, Options options,
              QObject* parent = nullptr);

    // Discovery on: neighbours are heard; off: they stop changing and expire.
    void setListening(bool on);
    int appeared() const { return m_serial; }

private:
    struct Neighbour {
        QString path;
        qint64 bornMs;
    };

    void tick();
    void appear();

    BluezObjectTree& m_tree;
    QString m_adapterPath;
    Options m_options;
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::deque<Neighbour> m_present;
    int m_serial = 0;
    int m_rssiTurn = 0;
    bool m_listening = false;
};
