#include "device/BLEError.h"

QString BLEError::description() const
{
    switch (m_kind) {
    case Kind::bluetoothUnavailable:
        return QStringLiteral("蓝牙不可用：") + m_detail;
    case Kind::connectFailed:
        return QStringLiteral("连接失败：") + m_detail;
    case Kind::missingCharacteristic:
        return QStringLiteral("设备缺少特征 ") + m_detail;
    case Kind::notFound:
        return QStringLiteral("没找到录音笔");
    case Kind::notConnected:
        return QStringLiteral("尚未连接");
    }
    return {};
}
