#include "platform/PlatformTexts.h"

using namespace Qt::Literals::StringLiterals;

namespace PlatformTexts {

#if defined(Q_OS_MACOS)

QString auditCardNote()
{
    return u"检查每条录音的本地留档还在不在、能不能解出音频。iCloud 没下载完的和真丢了的会分开报。"_s;
}

QString unreadableForUploadLog()
{
    return u"，本轮跳过（多半是 iCloud 把它驱逐上云了，先下载回本地）"_s;
}

QString unreadableForUpload()
{
    return u"本地文件读不出来——可能被 iCloud「优化存储」挪上云了，在访达里下载回来再推"_s;
}

QString bluetoothStep()
{
    return u"允许使用蓝牙"_s;
}

QString bluetoothStepNote()
{
    return u"首次连接录音笔时系统会问"_s;
}

#else

// A synced folder here is some network drive's client, and no system prompt asks for
// Bluetooth: the texts say what can really be the matter.
QString auditCardNote()
{
    return u"检查每条录音的本地留档还在不在、能不能解出音频。网盘还没同步到本机的和真丢了的会分开报。"_s;
}

QString unreadableForUploadLog()
{
    return u"，本轮跳过（文件读不出来：可能是网盘还没把它同步到本机，或者没有读取权限）"_s;
}

QString unreadableForUpload()
{
    return u"本地文件读不出来——可能是网盘还没同步到本机，或者没有读取权限；"
           u"在文件管理器里确认它能打开后会自动再推"_s;
}

QString bluetoothStep()
{
    return u"打开电脑的蓝牙"_s;
}

QString bluetoothStepNote()
{
    return u"蓝牙关着或没装好时，这里会告诉你怎么办"_s;
}

#endif

} // namespace PlatformTexts
