#pragma once

#include <QString>
#include <optional>

// Reads a secret from standard input: typed at the terminal without echo, or the first line of
// a pipe or file when standard input is not a terminal. Never from the command line, where
// other users could read it in the process list.
namespace PasswordInput {

// prompt goes to stderr, and only when standard input is a terminal. Absent at end of input.
std::optional<QString> read(const QString& prompt);

} // namespace PasswordInput
