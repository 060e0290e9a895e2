#include "cloud/AudioSource.h"

#include <QFile>
#include <algorithm>

struct AudioSource::File {
    QFile file;
};

AudioSource::AudioSource(QByteArray bytes) : m_bytes(std::move(bytes)), m_size(m_bytes.size()) {}

AudioSource AudioSource::fromFile(const QString& path)
{
    AudioSource source;
    source.m_file = std::make_shared<File>();
    source.m_file->file.setFileName(path);
    if (!source.m_file->file.open(QIODevice::ReadOnly))
        throw ReadError(u"读不到录音文件 " + path + u"：" + source.m_file->file.errorString());
    source.m_size = source.m_file->file.size();
    return source;
}

QByteArray AudioSource::read(qint64 offset, qint64 length) const
{
    offset = std::clamp<qint64>(offset, 0, m_size);
    length = std::clamp<qint64>(length, 0, m_size - offset);
    if (!m_file)
        return QByteArray::fromRawData(m_bytes.constData() + offset, length);
    QFile& f = m_file->file;
    QByteArray chunk;
    if (f.seek(offset))
        chunk = f.read(length);
    if (chunk.size() != length)
        throw ReadError(u"读录音文件 " + f.fileName() + u" 出错：" + f.errorString());
    return chunk;
}
