#include "SignInCommand.h"

#include "CommandLine.h"
#include "PasswordInput.h"
#include "cloud/Mindvault.h"
#include "cloud/MindvaultConfig.h"
#include "cloud/NetworkError.h"
#include "sync/Describe.h"
#include "sync/SyncPaths.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCoro/QCoroTask>

using namespace Qt::Literals::StringLiterals;

namespace SignInCommand {

namespace {

const QString usageText = u"用法：kestrel sign-in --email 邮箱 [--archive-root 目录]\n"
                          u"  密码在终端里输入（不回显）；标准输入不是终端时读它的第一行。"_s;

QCoro::Task<int> signIn(MindvaultConfig config, QString email, QString password)
{
    Mindvault client(std::move(config));
    try {
        co_await client.signIn(email, password);
    } catch (const NetworkError& e) {
        CommandLine::err(u"登录失败：连不上Mindvault（"_s + e.description() + u"）"_s);
        co_return CommandLine::failed;
    } catch (const std::exception& e) {
        CommandLine::err(u"登录失败："_s + describe(e));
        co_return CommandLine::failed;
    }
    CommandLine::out(u"已登录Mindvault："_s + email + u"（组织 "_s + client.org().value_or(u"—"_s) +
                     u"）"_s);
    CommandLine::out(u"登录凭据保存在 "_s + client.tokenStore().path());
    co_return CommandLine::ok;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption emailOption(u"email"_s, {}, u"EMAIL"_s);
    const QCommandLineOption root(u"archive-root"_s, {}, u"DIR"_s);
    parser.addOptions({emailOption, root});
    if (!CommandLine::parse(parser, usageText))
        return CommandLine::usage;
    const QString email = parser.value(emailOption).trimmed();
    if (email.isEmpty()) {
        CommandLine::err(u"缺少邮箱：用 --email 指定要登录的账号"_s);
        CommandLine::err(usageText);
        return CommandLine::usage;
    }

    const SyncPaths paths =
        parser.isSet(root) ? SyncPaths(parser.value(root)) : SyncPaths::standard();
    MindvaultConfig config;
    try {
        config = MindvaultConfig::load(paths.mindvaultConfig());
    } catch (const std::exception& e) {
        CommandLine::err(u"读不到Mindvault配置（"_s + paths.mindvaultConfig() + u"）："_s +
                         describe(e));
        return CommandLine::failed;
    }

    const std::optional<QString> password =
        PasswordInput::read(u"Mindvault 密码（"_s + email + u"）："_s);
    if (!password || password->isEmpty()) {
        CommandLine::err(u"没有读到密码：在终端里输入，或从标准输入给一行"_s);
        return CommandLine::failed;
    }
    return QCoro::waitFor(signIn(std::move(config), email, *password));
}

} // namespace SignInCommand
