#include "sync/ArchiveRootCheck.h"

#include <QTemporaryFile>
#include <filesystem>
#include <system_error>

using namespace Qt::Literals::StringLiterals;

namespace ArchiveRootCheck {

std::optional<QString> problem(const QString& root, Use use)
{
    const QString named = u"归档目录 "_s + root + u' ';
    auto reason = [](const std::error_code& ec) {
        return QString::fromLocal8Bit(ec.message());
    };
    // std::filesystem rather than QFileInfo: it tells why a step failed.
    const std::filesystem::path path(root.toStdU16String());
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::none)
        return named + u"查看不了："_s + reason(ec) + u"——检查一下它和上一级目录的权限。"_s;
    if (std::filesystem::exists(status) && !std::filesystem::is_directory(status))
        return named + u"是一个文件，不是文件夹——换一个目录，或者把这个文件移走。"_s;

    if (use == Use::read) {
        if (!std::filesystem::exists(status))
            return named + u"不存在——还没有同步过，或者路径写错了。"_s;
        const std::filesystem::directory_iterator listing(path, ec);
        if (ec)
            return named + u"读不了："_s + reason(ec) + u"——检查一下它的权限。"_s;
        return std::nullopt;
    }

    std::filesystem::create_directories(path, ec);
    if (ec) {
        return named + u"建不起来："_s + reason(ec) +
               u"——换一个目录，或者看看上一级目录能不能写。"_s;
    }
    // Permission bits alone do not tell (read-only mounts, access lists): try a file.
    QTemporaryFile probe(root + u"/.kestrel-probe-XXXXXX"_s);
    if (!probe.open()) {
        return named + u"写不进去："_s + probe.errorString() +
               u"——换一个能写的目录，或者改一下它的权限。"_s;
    }
    return std::nullopt;
}

} // namespace ArchiveRootCheck
