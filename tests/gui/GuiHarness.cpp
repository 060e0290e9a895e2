#include "GuiHarness.h"

#include "MindvaultDevServer.h"
#include "cleanup/PenDeletions.h"
#include "cloud/DeviceBinder.h"
#include "cloud/UploadQueue.h"
#include "support/TestSupport.h"
#include "sync/ManifestEdits.h"
#include "sync/SyncEngine.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

int ScriptedDialogs::ask(const Alert& alert)
{
    asked << alert;
    return answer;
}

std::optional<QString> ScriptedDialogs::askText(const Alert& alert, const QString& prefill)
{
    asked << alert;
    prefills << prefill;
    return textAnswer;
}

GuiHarness::GuiHarness() : GuiHarness(Options()) {}

GuiHarness::GuiHarness(Options options) : m_options(std::move(options))
{
    if (m_options.service) {
        MindvaultDevServer::Options o;
        o.email = "demo@example.com";
        o.password = m_options.password;
        o.processing = std::chrono::milliseconds(0);
        m_server = std::make_unique<MindvaultDevServer>(o);
        EXPECT_GT(m_server->start(), 0);
        TestSupport::writeFile(archive() + u"/importer/mindvault.json"_s,
                               QByteArray::fromStdString(m_server->clientConfigJson()));
    }
    m_pen = std::make_unique<VirtualPen>(
        nlohmann::json{{"name", "QX27-7A01"}, {"files", nlohmann::json::array()}}, QString());
    SyncEngine::Options engineOptions;
    engineOptions.notify = [](const QString&, const QString&) {
    };
    engineOptions.logObserver = [this](const QString& line) {
        const qsizetype cut = line.indexOf(u"] "_s);
        m_log.append(cut >= 0 ? line.mid(cut + 2) : line);
    };
    m_engine =
        std::make_unique<SyncEngine>(*m_pen, SyncPaths(archive()), 60.0, u"QX27"_s, engineOptions);
    const TokenStore store(dataFolder());
    m_queue = std::make_unique<UploadQueue>(*m_engine, UploadTiming(), store);
    if (m_options.service)
        m_queue->install();
    const VaultProvider vault = m_queue->provider();
    m_deletions = std::make_unique<PenDeletions>(*m_engine, vault);
    m_deletions->install();
    m_edits = std::make_unique<ManifestEdits>(*m_engine);
    m_edits->install();
    m_binder = std::make_unique<DeviceBinder>(*m_engine, vault, store);
    m_binder->install();
    AppServices services{*m_engine,
                         m_queue.get(),
                         *m_deletions,
                         *m_edits,
                         *m_binder,
                         store,
                         LoginItem(autostart(), {u"/usr/bin/kestrel"_s})};
    m_state = std::make_unique<AppState>(std::move(services), m_dialogs, m_shell,
                                         m_dir.path() + u"/window.ini"_s);
}

GuiHarness::~GuiHarness()
{
    m_state.reset();
    TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(20));
    m_binder.reset();
    m_edits.reset();
    m_deletions.reset();
    m_queue.reset();
    m_engine.reset();
}

int GuiHarness::logged(const QString& prefix) const
{
    int n = 0;
    for (const QString& line : m_log)
        n += line.startsWith(prefix) ? 1 : 0;
    return n;
}
