#include "PasswordInput.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace PasswordInput {

namespace {

std::optional<std::string> readLine()
{
    std::string line;
    int c = 0;
    bool any = false;
    while ((c = std::fgetc(stdin)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        line.push_back(char(c));
    }
    if (!any)
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// While echo is off, a Ctrl+C, hang-up or kill must not leave the user's terminal blind: the
// saved settings go back before the signal takes its default course.
int quietFd = -1;
termios loud{};

void restoreAndResignal(int sig)
{
    tcsetattr(quietFd, TCSAFLUSH, &loud); // async-signal-safe
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

class QuietTerminal {
public:
    QuietTerminal(int fd, const termios& saved)
    {
        quietFd = fd;
        loud = saved;
        struct sigaction restore {};
        restore.sa_handler = restoreAndResignal;
        sigemptyset(&restore.sa_mask);
        for (size_t i = 0; i < std::size(kSignals); ++i)
            sigaction(kSignals[i], &restore, &m_previous[i]);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    ~QuietTerminal()
    {
        tcsetattr(quietFd, TCSAFLUSH, &loud);
        for (size_t i = 0; i < std::size(kSignals); ++i)
            sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    QuietTerminal(const QuietTerminal&) = delete;
    QuietTerminal& operator=(const QuietTerminal&) = delete;

private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    struct sigaction m_previous[std::size(kSignals)]{};
};

} // namespace

std::optional<QString> read(const QString& prompt)
{
    const int fd = fileno(stdin);
    if (!isatty(fd)) {
        const auto line = readLine();
        if (!line)
            return std::nullopt;
        return QString::fromUtf8(line->data(), qsizetype(line->size()));
    }

    const QByteArray shown = prompt.toUtf8();
    std::fwrite(shown.constData(), 1, size_t(shown.size()), stderr);
    std::fflush(stderr);
    termios saved{};
    std::optional<std::string> line;
    if (tcgetattr(fd, &saved) == 0) {
        const QuietTerminal quiet(fd, saved);
        line = readLine();
    } else {
        line = readLine();
    }
    if (!line)
        return std::nullopt;
    return QString::fromUtf8(line->data(), qsizetype(line->size()));
}

} // namespace PasswordInput
