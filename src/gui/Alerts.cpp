#include "Alerts.h"

using namespace Qt::Literals::StringLiterals;

namespace Alerts {

Dialogs::Alert signOut()
{
    return {u"退出登录？"_s,
            u"本机已导入的录音不会受影响，但在重新登录之前不能再推给Mindvault。"_s,
            {u"退出登录"_s, u"取消"_s}};
}

Dialogs::Alert threshold()
{
    return {u"多少分钟以下的录音不推Mindvault？"_s,
            u"短录音照样下载并留在本机，只是不推给Mindvault转写——花钱的是转写和分析，不是下载。"
            u"\n随时可以在详情里手动推。填 0 表示全部都推。"_s,
            {u"确定"_s, u"取消"_s}};
}

Dialogs::Alert cleanup(int coolingDays)
{
    return {u"开启后会删除录音笔里的文件"_s,
            u"只删同时满足这些条件的：已进Mindvault并转写完成、本地有裸包和 ogg 两份留档、"
            u"字节数和时长都对得上、录制时间超过 "_s +
                QString::number(coolingDays) +
                u" 天、且设备当前没在录音。\n\n任何一条拿不准都不删。删除不可逆。\n\n"
                u"另外：Mindvault 30 天后会清掉原始音频（隐私承诺），所以长期归档实际靠本机"
                u"「导入/原始包」文件夹，别把它删了。"_s,
            {u"我明白，开启"_s, u"取消"_s},
            Dialogs::Alert::Style::informational};
}

Dialogs::Alert loginItemFailed(const QString& reason)
{
    return {u"开机自启设置失败"_s, reason, {u"好"_s}};
}

std::optional<int> parseMinutes(const QString& text)
{
    bool ok = false;
    const int minutes = text.trimmed().toInt(&ok, 10);
    if (!ok || minutes < 0 || minutes > 120)
        return std::nullopt;
    return minutes;
}

} // namespace Alerts
