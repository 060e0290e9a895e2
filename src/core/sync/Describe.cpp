#include "sync/Describe.h"

#include "common/Error.h"

#include <system_error>

QString describe(const std::exception& error)
{
    if (const auto* own = dynamic_cast<const KestrelError*>(&error)) {
        return own->description();
    }
    if (const auto* sys = dynamic_cast<const std::system_error*>(&error)) {
        return QString::fromLocal8Bit(sys->code().message());
    }
    return QString::fromUtf8(error.what());
}

QString describe(const std::exception_ptr& error)
{
    if (!error) {
        return {};
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return describe(e);
    } catch (...) {
        return QStringLiteral("未知错误");
    }
}
