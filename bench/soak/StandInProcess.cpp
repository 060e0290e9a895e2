#include "StandInProcess.h"

#include <QUrl>
#include <httplib.h>
#include <stdexcept>

using namespace Qt::Literals::StringLiterals;

StandInProcess::StandInProcess(const Options& options)
{
    m_process.setProgram(options.program);
    m_process.setArguments({u"--port"_s, u"0"_s, u"--user"_s,
                            QString::fromStdString(options.email + ':' + options.password),
                            u"--processing-seconds"_s, QString::number(options.processingSeconds),
                            u"--write-config"_s, options.configFile});
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start();
    if (!m_process.waitForStarted(10000))
        throw std::runtime_error("the stand-in service did not start: " +
                                 m_process.errorString().toStdString());
    // Its first line is the base URL, written once it listens.
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(10000))
            throw std::runtime_error("the stand-in service did not say where it listens");
    }
    const QUrl base(QString::fromUtf8(m_process.readLine()).trimmed());
    m_client = std::make_unique<httplib::Client>(base.host().toStdString(), base.port());
}

StandInProcess::~StandInProcess()
{
    m_client.reset();
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(1000);
}

void StandInProcess::post(const std::string& target)
{
    const auto res = m_client->Post(target, std::string(), "text/plain");
    if (!res || res->status != 200)
        throw std::runtime_error("the stand-in service refused " + target);
}

void StandInProcess::failStep(const std::string& step, int status, int count, int after)
{
    post("/_control/fail?step=" + step + "&status=" + std::to_string(status) +
         "&count=" + std::to_string(count) + "&after=" + std::to_string(after));
}

void StandInProcess::revokeSignIn()
{
    post("/_control/revoke");
    post("/_control/expire-access");
}

nlohmann::json StandInProcess::sessions()
{
    const auto res = m_client->Get("/_control/sessions");
    if (!res || res->status != 200)
        throw std::runtime_error("the stand-in service did not list its sessions");
    return nlohmann::json::parse(res->body).at("sessions");
}
