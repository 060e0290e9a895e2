#pragma once

#include <QProcess>
#include <QString>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

namespace httplib {
class Client;
}

// The stand-in service as its own process, driven through its /_control/ switches: its memory
// (every session it keeps) then stays out of the importer's figures.
class StandInProcess {
public:
    struct Options {
        QString program; // the mindvault-dev executable
        std::string email;
        std::string password;
        double processingSeconds = 0.2;
        QString configFile; // the client configuration it writes
    };

    // Starts it and waits for its base URL; throws std::runtime_error when it does not come up.
    explicit StandInProcess(const Options& options);
    ~StandInProcess();
    StandInProcess(const StandInProcess&) = delete;
    StandInProcess& operator=(const StandInProcess&) = delete;

    qint64 pid() const { return m_process.processId(); }

    // The next `count` requests of the step answer `status` once `after` more have passed;
    // count 0 clears the step's fault.
    void failStep(const std::string& step, int status, int count, int after);
    // A sign-out on the web: every refresh token dies, and the access tokens with them.
    void revokeSignIn();
    // Every session with its clientRequestId, status and stored bytes.
    nlohmann::json sessions();

private:
    void post(const std::string& target);

    QProcess m_process;
    std::unique_ptr<httplib::Client> m_client;
};
