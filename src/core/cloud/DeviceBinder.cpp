#include "cloud/DeviceBinder.h"

#include "cloud/Mindvault.h"
#include "sync/EngineContext.h"
#include "sync/EngineHooks.h"
#include "sync/SyncPaths.h"
#include "sync/SyncPlanner.h"

#include <QRandomGenerator>
#include <QSysInfo>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString emailKey = u"email"_s;
const QString orgKey = u"org_id"_s;

// The reason text for anything but ok.
QString reasonOf(const DeviceBindOutcome& outcome)
{
    switch (outcome.kind()) {
    case DeviceBindOutcome::Kind::deviceTaken:
        return u"这个名字已被占用"_s;
    case DeviceBindOutcome::Kind::unauthorized:
        return u"登录失效（服务端不认这次请求）"_s;
    case DeviceBindOutcome::Kind::failed:
        return outcome.reason();
    case DeviceBindOutcome::Kind::ok:
        break;
    }
    return {};
}

} // namespace

DeviceBinder::DeviceBinder(EngineContext& engine, VaultProvider vault, TokenStore store,
                           Options options)
    : m_engine(engine), m_guard(engine.lifetime()), m_vault(std::move(vault)),
      m_store(std::move(store)), m_bindings(m_store.folder()),
      m_computerName(std::move(options.computerName)),
      m_randomSuffix(std::move(options.randomSuffix)), m_acceptRebind(options.acceptRebind)
{
    if (m_computerName.isEmpty())
        m_computerName = QSysInfo::machineHostName();
    if (m_computerName.isEmpty())
        m_computerName = u"Mac"_s;
    if (!m_randomSuffix) {
        m_randomSuffix = [] {
            return int(QRandomGenerator::global()->bounded(100, 1000));
        };
    }
}

DeviceBinder::~DeviceBinder()
{
    if (alive())
        m_engine.hooks().ensureDeviceBinding = nullptr;
}

void DeviceBinder::install()
{
    m_engine.hooks().ensureDeviceBinding = [this](const Discovered& target) {
        return ensureDeviceBinding(target);
    };
}

QString DeviceBinder::defaultDeviceNo(const QString& peripheralId) const
{
    QString id = peripheralId;
    id.remove(u'-').remove(u':');
    return SyncPlanner::safeDeviceNo(id.left(6) + u'-' + m_computerName);
}

QString DeviceBinder::alternateDeviceNo(const QString& taken)
{
    return taken + u'-' + QString::number(m_randomSuffix());
}

QCoro::Task<Mindvault*> DeviceBinder::vault()
{
    if (!m_vault)
        co_return nullptr;
    co_return co_await m_vault();
}

void DeviceBinder::showBinding(const QString& peripheralId, const std::optional<QString>& deviceNo)
{
    m_engine.showBindingName(peripheralId, deviceNo);
}

void DeviceBinder::log(const QString& line)
{
    m_engine.log(line);
}

QCoro::Task<bool> DeviceBinder::ensureDeviceBinding(Discovered discovered)
{
    const QString key = discovered.peripheral;
    const QString& name = discovered.name;
    const std::optional<QString> email = m_store.get(emailKey);
    const std::optional<QString> org = m_store.get(orgKey);
    if (!email || !org) {
        log(u"绑定检查跳过：还没登录，先只下载不做账号核对"_s);
        co_return true;
    }

    if (const auto existing = m_bindings.binding(key)) {
        // The organisation owns the pen; another account of it may sync it without a question.
        if (existing->orgId == *org) {
            showBinding(key, existing->deviceNo);
            co_return true;
        }
        // Bound under another account: its number there is not this account's name for it.
        showBinding(key, std::nullopt);
        m_engine.setPendingBindMismatch(BindMismatch{key, name, existing->email, *email});
        if (m_acceptRebind) {
            const SyncPhase during = m_engine.phase();
            const bool rebound = co_await resolveBindMismatch();
            if (!alive())
                co_return false;
            if (rebound) {
                m_engine.setPhase(during); // the round goes on where it was
                co_return true;
            }
        }
        log(u"拦下同步：「"_s + name + u"」上次同步到「"_s + existing->email +
            u"」，现在登录的是「"_s + *email + u"」——打开「设备」页确认后才会继续同步"_s);
        const QString status = name + u" 绑定的账号跟当前登录的不一致，等待人手确认"_s;
        m_engine.setPhase(SyncPhase::failed(status));
        m_engine.setLastSummary(status);
        m_engine.setLastRun(m_engine.now());
        if (!m_notified.contains(key)) {
            m_notified.insert(key);
            m_engine.notify(u"「"_s + name +
                                u"」上次绑的是别的账号，打开Mindvault确认后才会继续同步"_s,
                            u"Mindvault · 需要确认"_s);
        }
        co_return false;
    }

    Mindvault* client = co_await vault();
    if (!alive())
        co_return false;
    if (!client) {
        log(u"首次绑定「"_s + name +
            u"」暂时跳过：Mindvault接不通（登录可能失效了），本轮先同步，下次连接再试绑定"_s);
        co_return true;
    }

    const QString deviceNo = defaultDeviceNo(key);
    DeviceBindOutcome outcome =
        co_await client->selfRegisterDevice(QString::fromLatin1(provider), deviceNo);
    if (!alive())
        co_return false;
    if (outcome.is(DeviceBindOutcome::Kind::ok)) {
        m_bindings.bind(key, *org, *email, deviceNo);
        showBinding(key, deviceNo);
        log(u"首次绑定「"_s + name + u"」到当前账号「"_s + *email + u"」，命名为「"_s + deviceNo +
            u"」"_s);
        co_return true;
    }
    if (outcome.is(DeviceBindOutcome::Kind::deviceTaken)) {
        // Two more tries under fresh numbers; anything but another "taken" will not get better
        // with a third name.
        for (int attempt = 0; attempt < 2 && outcome.is(DeviceBindOutcome::Kind::deviceTaken);
             ++attempt) {
            const QString alternate = alternateDeviceNo(deviceNo);
            outcome = co_await client->selfRegisterDevice(QString::fromLatin1(provider), alternate);
            if (!alive())
                co_return false;
            if (outcome.is(DeviceBindOutcome::Kind::ok)) {
                m_bindings.bind(key, *org, *email, alternate);
                showBinding(key, alternate);
                log(u"首次绑定「"_s + name + u"」到「"_s + *email + u"」，命名为「"_s + alternate +
                    u"」（原名字被占用）"_s);
                co_return true;
            }
        }
        log(u"绑定「"_s + name + u"」失败：换名后仍不成——"_s + reasonOf(outcome) +
            u"。本轮跳过绑定，照常同步"_s);
        co_return true;
    }
    log(u"绑定「"_s + name + u"」失败："_s + reasonOf(outcome) + u"。本轮跳过绑定，照常同步"_s);
    co_return true;
}

QCoro::Task<bool> DeviceBinder::resolveBindMismatch(std::optional<QString> newDeviceName)
{
    const std::optional<BindMismatch> pending = m_engine.pendingBindMismatch();
    if (!pending)
        co_return false;
    Mindvault* client = co_await vault();
    if (!alive() || !client)
        co_return false;
    const std::optional<QString> email = m_store.get(emailKey);
    std::optional<QString> org = m_store.get(orgKey);
    if (!org)
        org = client->org();
    if (!email || !org)
        co_return false;

    const QString& name = pending->deviceName;
    QString number;
    if (newDeviceName)
        number = SyncPlanner::safeDeviceNo(newDeviceName->trimmed());
    if (number.isEmpty()) {
        const auto old = m_bindings.binding(pending->peripheralId);
        number = old ? old->deviceNo : defaultDeviceNo(pending->peripheralId);
    }

    const DeviceBindOutcome outcome =
        co_await client->selfRegisterDevice(QString::fromLatin1(provider), number);
    if (!alive())
        co_return false;
    switch (outcome.kind()) {
    case DeviceBindOutcome::Kind::ok:
        m_bindings.bind(pending->peripheralId, *org, *email, number);
        showBinding(pending->peripheralId, number);
        if (m_engine.pendingBindMismatch() &&
            m_engine.pendingBindMismatch()->peripheralId == pending->peripheralId)
            m_engine.setPendingBindMismatch(std::nullopt);
        m_notified.remove(pending->peripheralId);
        log(u"确认换绑「"_s + name + u"」到「"_s + *email + u"」，命名为「"_s + number + u"」"_s);
        m_engine.setPhase(m_engine.monitoring() ? SyncPhase::waitingForDevice()
                                                : SyncPhase::idle());
        co_return true;
    case DeviceBindOutcome::Kind::deviceTaken:
        log(u"换绑「"_s + name + u"」失败：这个名字已被占用"_s);
        co_return false;
    case DeviceBindOutcome::Kind::unauthorized:
    case DeviceBindOutcome::Kind::failed:
        log(u"换绑「"_s + name + u"」失败："_s + reasonOf(outcome));
        co_return false;
    }
    co_return false;
}

QCoro::Task<DeviceBinder::RenameResult> DeviceBinder::renameDevice(QString to)
{
    const std::optional<QString> peripheralId = m_engine.device().peripheralId;
    if (!peripheralId)
        co_return RenameResult{false, u"还没连上这支笔，连上之后才能改名"_s};
    const QString number = SyncPlanner::safeDeviceNo(to.trimmed());
    if (number.isEmpty())
        co_return RenameResult{false, u"名字不能是空的"_s};
    Mindvault* client = co_await vault();
    if (!alive())
        co_return RenameResult{};
    if (!client)
        co_return RenameResult{false, u"连不上Mindvault，改名要登记到服务端才算数"_s};

    const auto old = m_bindings.binding(*peripheralId);
    const QString oldName = old ? old->deviceNo : m_engine.device().name;
    const DeviceBindOutcome outcome =
        co_await client->selfRegisterDevice(QString::fromLatin1(provider), number);
    if (!alive())
        co_return RenameResult{};
    if (outcome.is(DeviceBindOutcome::Kind::ok)) {
        const std::optional<QString> email = m_store.get(emailKey);
        std::optional<QString> org = m_store.get(orgKey);
        if (!org)
            org = client->org();
        // A binding without its organisation would block this pen at the next sighting.
        if (org)
            m_bindings.bind(*peripheralId, *org, email.value_or(QString()), number);
        showBinding(*peripheralId, number);
        log(u"改名「"_s + oldName + u"」→「"_s + number + u"」"_s);
        co_return RenameResult{true, {}};
    }
    const QString why = reasonOf(outcome);
    log(u"改名失败「"_s + oldName + u"」→「"_s + number + u"」："_s + why);
    co_return RenameResult{false, why};
}

void DeviceBinder::dismissBindMismatch()
{
    if (const auto& pending = m_engine.pendingBindMismatch())
        m_notified.remove(pending->peripheralId);
    m_engine.setPendingBindMismatch(std::nullopt);
}
