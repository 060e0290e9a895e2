#include "CheckSpeechCommand.h"

#include "CommandLine.h"
#include "audio/AudioFileReader.h"
#include "audio/VoiceActivity.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace CheckSpeechCommand {

namespace {

const QString usageText = u"用法：kestrel check-speech 文件…\n"
                          u"  逐个检测音频文件里有没有人声（FFmpeg 能读的格式都行），每个文件一行："
                          u"文件、有人声/没有人声、原因、各项测量值，以制表符分隔"_s;

// Why a file gave no report, as one sentence.
QString whyUnreadable(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return u"找不到文件 "_s + path;
    try {
        AudioFileReader reader(path);
    } catch (const AudioFileReader::OpenError& e) {
        return path + u" 读不了："_s + e.description();
    }
    return path + u" 里没有可分析的声音（长度为 0）"_s;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    if (!CommandLine::parse(parser, usageText, true))
        return CommandLine::usage;
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty()) {
        CommandLine::err(u"没有给要检测的文件。"_s);
        CommandLine::err(usageText);
        return CommandLine::usage;
    }

    bool allRead = true;
    for (const QString& file : files) {
        const std::optional<VoiceActivity::Report> r = VoiceActivity::analyze(file);
        if (!r) {
            CommandLine::err(whyUnreadable(file));
            allRead = false;
            continue;
        }
        CommandLine::out(QStringList{file, r->isLikelySpeech ? u"有人声"_s : u"没有人声"_s,
                                     r->reason, r->metricsLine()}
                             .join(u'\t'));
    }
    return allRead ? CommandLine::ok : CommandLine::usage;
}

} // namespace CheckSpeechCommand
