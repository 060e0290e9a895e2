#include "device/ProtoError.h"

QString ProtoError::description() const
{
    return QStringLiteral("文件名超过 24B: ") + m_name;
}
