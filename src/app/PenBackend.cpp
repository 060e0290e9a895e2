#include "PenBackend.h"

#include "VirtualPen.h"

using namespace Qt::Literals::StringLiterals;

namespace PenBackend {

Opened open(const std::optional<QString>& virtualPenScenario)
{
    Opened result;
    if (!virtualPenScenario) {
        result.error = u"这台电脑上还没有可用的蓝牙后端：这一版只能配合虚拟录音笔运行"_s
                       u"（--virtual-pen 场景.json）"_s;
        return result;
    }
    try {
        result.central = VirtualPen::fromFile(*virtualPenScenario);
    } catch (const std::exception& e) {
        result.error = u"虚拟录音笔场景读不了："_s + *virtualPenScenario + u"（"_s +
                       QString::fromUtf8(e.what()) + u"）"_s;
    }
    return result;
}

} // namespace PenBackend
