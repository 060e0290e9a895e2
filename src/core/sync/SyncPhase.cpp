#include "sync/SyncPhase.h"

using namespace Qt::StringLiterals;

SyncPhase SyncPhase::downloading(const QString& fileName, int percent)
{
    SyncPhase p(Kind::Downloading);
    p.m_text = fileName;
    p.m_percent = percent;
    return p;
}

SyncPhase SyncPhase::uploading(const QString& name, const QString& detail)
{
    SyncPhase p(Kind::Uploading);
    p.m_text = name;
    p.m_detail = detail;
    return p;
}

SyncPhase SyncPhase::failed(const QString& message)
{
    SyncPhase p(Kind::Failed);
    p.m_text = message;
    return p;
}

QString SyncPhase::label() const
{
    switch (m_kind) {
    case Kind::Downloading:
        return u"下载 "_s + m_text + u' ' + QString::number(m_percent) + u'%';
    case Kind::Uploading:
        return u"推送 "_s + m_text + u"："_s + m_detail;
    case Kind::Failed:
        return u"失败："_s + m_text;
    case Kind::Idle:
        return u"空闲"_s;
    case Kind::WaitingForDevice:
        return u"等待录音笔"_s;
    case Kind::Connecting:
        return u"连接中"_s;
    case Kind::Listing:
        return u"读取列表"_s;
    case Kind::Cleaning:
        return u"清理设备"_s;
    }
    return {};
}
