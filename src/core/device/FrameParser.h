#pragma once

#include "device/Proto.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Reassembles frames from one notification source. Takes any bytes without throwing: bad
// checksums and garbage are skipped one byte at a time and counted.
class FrameParser {
public:
    static constexpr int maxDataLen = 8192;

    explicit FrameParser(QString name = {});

    // Appends the bytes and returns every frame now complete, in arrival order.
    QList<Proto::Frame> feed(QByteArrayView bytes);
    QList<Proto::Frame> feed(const QByteArray& bytes) { return feed(QByteArrayView(bytes)); }

    const QString& name() const { return m_name; }
    int crcErrors() const { return m_crcErrors; }
    int resyncs() const { return m_resyncs; }
    // Bytes held while waiting for the rest of a frame.
    qsizetype buffered() const { return m_buffer.size(); }

private:
    QString m_name;
    QByteArray m_buffer;
    int m_crcErrors = 0;
    int m_resyncs = 0;
};
