#include "device/RadioState.h"

using namespace Qt::Literals::StringLiterals;

namespace RadioState {

QString advice(int state)
{
    switch (state) {
    case poweredOn:
        return {};
    case unknown:
        return u"蓝牙服务 bluetoothd 没有运行：请启动它（sudo systemctl start bluetooth），"_s
               u"启动后会自动接着同步。"_s;
    case resetting:
        return u"蓝牙服务 bluetoothd 刚刚退出了：请等它重启或手动启动"_s
               u"（sudo systemctl restart bluetooth），恢复后会自动接着同步。"_s;
    case unsupported:
        return u"这台电脑上没有找到蓝牙适配器：请插上或启用蓝牙适配器，找到后会自动接着同步。"_s;
    case unauthorized:
        return u"系统不允许本程序使用蓝牙：请让管理员把当前用户加入 bluetooth 组"_s
               u"（或放开 D-Bus 的蓝牙策略）后重新登录。"_s;
    case poweredOff:
        // Switching it on fails under a block the adapter does not show: name both remedies.
        return u"蓝牙适配器关着：请打开蓝牙（bluetoothctl power on）；打不开的话多半是飞行模式"_s
               u"或 rfkill 屏蔽了（rfkill unblock bluetooth）。打开后会自动接着同步。"_s;
    case blocked:
        return u"蓝牙被系统屏蔽了（飞行模式或 rfkill）：请关掉飞行模式，或运行 rfkill unblock "_s
               u"bluetooth，之后会自动接着同步。"_s;
    default:
        return u"蓝牙暂时不可用（状态 "_s + QString::number(state) +
               u"）：请检查蓝牙适配器和 bluetoothd，恢复后会自动接着同步。"_s;
    }
}

} // namespace RadioState
