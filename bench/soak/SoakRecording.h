#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// One recording the soak put on the pen. Its bytes are made again when needed, so the soak's
// own memory does not grow with every recording it adds.
struct SoakRecording {
    QString name; // the pen's file name
    int packets = 0;
    uint32_t seed = 0;

    QByteArray content() const;
    uint32_t listedSeconds() const;
    // The ledger's key for it (name, listed length, size).
    QString ledgerKey() const;
};
