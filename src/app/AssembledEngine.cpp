#include "AssembledEngine.h"

#include "FastTiming.h"
#include "cloud/UploadTiming.h"
#include "sync/EngineTiming.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// The pen family's advertised-name hint.
const QString deviceNameHint = u"QX27"_s;

const QString archiveRootName = u"archive-root"_s;
const QString virtualPenName = u"virtual-pen"_s;
const QString fastTimingName = u"fast-timing"_s;

SyncEngine::Options engineOptions(std::optional<Notify>& notify,
                                  const AssembledEngine::Options& options)
{
    SyncEngine::Options out;
    if (options.fastTiming)
        out.timing = FastTiming::engine();
    out.notify = [&notify](const QString& body, const QString& title) {
        if (notify)
            notify->send(body, title);
    };
    out.logObserver = options.logObserver;
    return out;
}

EngineServices::Options serviceOptions(const AssembledEngine::Options& options)
{
    EngineServices::Options out;
    if (options.fastTiming)
        out.uploadTiming = UploadTiming().scaled(1.0 / FastTiming::factor);
    out.acceptRebind = options.acceptRebind;
    return out;
}

} // namespace

QList<QCommandLineOption> AssembledEngine::Args::options()
{
    return {QCommandLineOption(archiveRootName, {}, u"DIR"_s),
            QCommandLineOption(virtualPenName, {}, u"SCENARIO"_s),
            QCommandLineOption(fastTimingName)};
}

AssembledEngine::Args AssembledEngine::Args::read(const QCommandLineParser& parser)
{
    Args a;
    a.fastTiming = parser.isSet(fastTimingName);
    if (parser.isSet(archiveRootName))
        a.archiveRoot = parser.value(archiveRootName);
    if (parser.isSet(virtualPenName))
        a.virtualPen = parser.value(virtualPenName);
    return a;
}

SyncPaths AssembledEngine::Args::paths() const
{
    return archiveRoot ? SyncPaths(*archiveRoot) : SyncPaths::standard();
}

AssembledEngine::AssembledEngine(CentralPort& central, const SyncPaths& paths,
                                 const QString& backendDescription, const Options& options)
    : m_engine(central, paths,
               EngineTiming::defaultCooldown / (options.fastTiming ? FastTiming::factor : 1.0),
               deviceNameHint, engineOptions(m_notify, options)),
      m_services(m_engine, serviceOptions(options)), m_radio(central, m_engine)
{
    // A pen station without a desktop session has nobody to show notifications to.
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        m_notify.emplace();
    m_engine.log(backendDescription);
}

void AssembledEngine::requestNotifications()
{
    if (m_notify)
        m_notify->request();
}
