// mindvault-dev: the stand-in service for tests and the demo.
//   mindvault-dev --port PORT --user EMAIL:PASSWORD [--org ORG_ID] [--processing-seconds S]
//                 [--write-config FILE] [--detect-speech]
// The first line on stdout is the base URL.
#include "MindvaultDevServer.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

namespace {

MindvaultDevServer* running = nullptr;

void onSignal(int)
{
    if (running)
        running->stop();
}

int usage()
{
    std::cerr << "usage: mindvault-dev --port PORT --user EMAIL:PASSWORD [--org ORG_ID]\n"
                 "                     [--processing-seconds S] [--write-config FILE]\n"
                 "                     [--detect-speech]\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    MindvaultDevServer::Options options;
    int port = -1;
    bool haveUser = false;
    std::string configFile;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--detect-speech") {
            options.detectSpeech = true;
            continue;
        }
        if (i + 1 >= argc)
            return usage();
        const std::string value = argv[++i];
        try {
            if (arg == "--port") {
                port = std::stoi(value);
            } else if (arg == "--user") {
                const auto colon = value.find(':');
                if (colon == std::string::npos || colon == 0)
                    return usage();
                options.email = value.substr(0, colon);
                options.password = value.substr(colon + 1);
                haveUser = true;
            } else if (arg == "--org") {
                options.orgId = value;
            } else if (arg == "--processing-seconds") {
                options.processing = std::chrono::milliseconds(int64_t(std::stod(value) * 1000));
            } else if (arg == "--write-config") {
                configFile = value;
            } else {
                return usage();
            }
        } catch (const std::exception&) {
            return usage();
        }
    }
    if (port < 0 || port > 65535 || !haveUser)
        return usage();

    MindvaultDevServer server(options);
    if (server.bind(port) <= 0) {
        std::cerr << "mindvault-dev: cannot listen on 127.0.0.1:" << port << "\n";
        return 1;
    }
    if (!configFile.empty()) {
        std::ofstream out(configFile, std::ios::trunc);
        out << server.clientConfigJson() << "\n";
        if (!out) {
            std::cerr << "mindvault-dev: cannot write " << configFile << "\n";
            return 1;
        }
    }
    std::cout << server.baseUrl() << std::endl; // flushed: callers wait for this line

    running = &server;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    return server.serveBound() ? 0 : 1;
}
