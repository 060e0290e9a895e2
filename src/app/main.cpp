// kestrel: the importer's entry point. The first argument may name a verb; without one the
// application runs (headless with --headless; the window comes later).

#include "AuditCommand.h"
#include "CheckSpeechCommand.h"
#include "CommandLine.h"
#include "DesktopCommand.h"
#include "ExportCommand.h"
#include "HeadlessCommand.h"
#include "SearchCommand.h"
#include "SignInCommand.h"
#include "SignOutCommand.h"
#include "StatusCommand.h"

#include <QCoreApplication>
#include <QStringList>
#include <functional>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Verb {
    QString name;
    QString summary; // one line for `kestrel --help`
    std::function<int(int argc, char** argv)> main;
};

// One entry per verb, each in its own file, in the order `--help` lists them.
const std::vector<Verb>& verbs()
{
    static const std::vector<Verb> table{
        {u"sign-in"_s, u"登录Mindvault账号（密码不回显，也可从标准输入读一行）"_s,
         &SignInCommand::main},
        {u"sign-out"_s, u"退出登录，删掉本机保存的凭据"_s, &SignOutCommand::main},
        {u"status"_s, u"账号、每条录音的状态和上一轮同步的结果"_s, &StatusCommand::main},
        {u"audit"_s, u"体检本机留档：原始包、Ogg和清单是否对得上"_s, &AuditCommand::main},
        {u"check-speech"_s, u"检测音频文件里有没有人声（每个文件一行结论）"_s,
         &CheckSpeechCommand::main},
        {u"search"_s, u"在本机留档的转写里找说过的话（不用联网）"_s, &SearchCommand::main},
        {u"export"_s, u"把录音（和转写）以易读的文件名导出到别的目录"_s, &ExportCommand::main},
    };
    return table;
}

QString help()
{
    QStringList lines{
        u"用法：kestrel [--headless …] | kestrel <动作> [选项…]"_s,
        QString(),
        u"  （不带动作）         打开桌面程序：托盘图标和主窗口；已在运行时把窗口调到前面"_s,
        u"                       选项 --archive-root 目录、--virtual-pen 场景.json、"
        u"--fast-timing，同无窗口模式"_s,
        u"  --headless           不开窗口，持续监听录音笔并同步（详见 kestrel "
        u"--headless --help）"_s,
        u"  --version            显示版本"_s,
        QString(),
        u"动作："_s};
    for (const Verb& verb : verbs())
        lines << u"  "_s + verb.name.leftJustified(21) + verb.summary;
    lines << QString() << u"每个动作的选项：kestrel <动作> --help"_s;
    return lines.join(u'\n');
}

} // namespace

int main(int argc, char** argv)
{
    const QString first = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    for (const Verb& verb : verbs())
        if (verb.name == first)
            return verb.main(argc - 1, argv + 1);

    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == u"--headless"_s)
            headless = true;
        else if (arg == u"--version"_s) {
            CommandLine::out(u"kestrel " KESTREL_VERSION ""_s);
            return CommandLine::ok;
        }
    }
    if (headless)
        return HeadlessCommand::main(argc, argv); // answers --help itself
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == u"--help"_s || arg == u"-h"_s) {
            CommandLine::out(help());
            return CommandLine::ok;
        }
    }
    return DesktopCommand::main(argc, argv);
}
