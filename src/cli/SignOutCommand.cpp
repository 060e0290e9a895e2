#include "SignOutCommand.h"

#include "CommandLine.h"
#include "cloud/Mindvault.h"

#include <QCoreApplication>
#include <QFile>

using namespace Qt::Literals::StringLiterals;

namespace SignOutCommand {

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (QCoreApplication::arguments().size() > 1) {
        CommandLine::err(u"用法：kestrel sign-out（不带参数）"_s);
        return CommandLine::usage;
    }
    const TokenStore store;
    if (!QFile::exists(store.path())) {
        CommandLine::out(u"本来就没有登录Mindvault"_s);
        return CommandLine::ok;
    }
    const std::optional<QString> email = Mindvault::signedInEmail(store);
    // Signing out needs no client configuration: it only forgets the local credential.
    store.clear();
    if (QFile::exists(store.path())) {
        CommandLine::err(u"退出登录失败：删不掉登录凭据 "_s + store.path());
        return CommandLine::failed;
    }
    CommandLine::out(u"已退出登录Mindvault"_s + (email ? u"（"_s + *email + u"）"_s : QString()));
    return CommandLine::ok;
}

} // namespace SignOutCommand
