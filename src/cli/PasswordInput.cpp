#include "PasswordInput.h"

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
    const bool haveSaved = tcgetattr(fd, &saved) == 0;
    if (haveSaved) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    const auto line = readLine();
    if (haveSaved)
        tcsetattr(fd, TCSAFLUSH, &saved);
    if (!line)
        return std::nullopt;
    return QString::fromUtf8(line->data(), qsizetype(line->size()));
}

} // namespace PasswordInput
