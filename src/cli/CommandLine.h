#pragma once

#include <QString>
#include <QStringList>
#include <cstdio>

class QCommandLineParser;

// Small helpers the verbs share: printing to the terminal in UTF-8 and exit codes.
namespace CommandLine {

enum Exit : int {
    ok = 0,
    failed = 1, // the work itself failed (no pen, connect or list failure, bad input file)
    usage = 2,  // the command line could not be understood, or the mode is not available
    busy = 3,   // another importer holds the archive
};

void out(const QString& line); // stdout, with a newline, flushed
void err(const QString& line); // stderr, with a newline

// Parses the process's arguments (the verb already removed). On anything it cannot take it
// prints what was wrong, in Chinese, and the verb's usage, and returns false. With --help it
// prints the usage on stdout and ends the process with `ok`.
bool parse(QCommandLineParser& parser, const QString& usage);

} // namespace CommandLine
