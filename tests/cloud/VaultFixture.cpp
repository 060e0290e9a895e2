#include "VaultFixture.h"

using namespace std::chrono_literals;

MindvaultDevServer::Options VaultFixture::serverOptions()
{
    MindvaultDevServer::Options o;
    o.email = email.toStdString();
    o.password = password.toStdString();
    o.orgId = "org-test";
    o.processing = 0ms;
    return o;
}

VaultFixture::VaultFixture()
    : store(dir.path() + QStringLiteral("/Mindvault")), server(serverOptions())
{
    if (server.start() <= 0)
        ADD_FAILURE() << "the stand-in service did not start";
    vault = makeClient();
}

VaultFixture::~VaultFixture()
{
    vault.reset();
    // Close the client's keep-alive connections first, or the server waits them out on stop.
    nam.clearConnectionCache();
    server.stop();
}

MindvaultConfig VaultFixture::config() const
{
    return MindvaultConfig::decode(QByteArray::fromStdString(server.clientConfigJson()));
}

std::unique_ptr<Mindvault> VaultFixture::makeClient(std::optional<MindvaultConfig> c)
{
    return std::make_unique<Mindvault>(c.value_or(config()), store, &nam, Mindvault::Timing{5, 5});
}

Mindvault& VaultFixture::signedIn()
{
    TestSupport::run(vault->signIn(email, password));
    return *vault;
}
