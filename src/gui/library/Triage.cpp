#include "library/Triage.h"

#include "cloud/VaultFailure.h"
#include "sync/RecordingItem.h"

namespace Triage {

using C = Kind::Case;

Kind classify(const RecordingItem& item, const std::optional<QString>& busyBase)
{
    const bool transcribed = item.inVault();
    const bool failed = item.vaultStatus == QStringLiteral("failed");
    if (item.pendingDeviceDelete) {
        return {C::deleting};
    }
    if (busyBase && *busyBase == item.base) {
        return {C::processing};
    }
    if (item.lastError && item.lastError->contains(QStringLiteral("录音中"))) {
        return {C::recording};
    }
    if (item.skippedShortSeconds && !transcribed) {
        return {C::tooShort};
    }
    if (item.serverGone) {
        return {C::serverGone};
    }
    if (failed && VaultFailure::isNoSpeech(item.vaultErrorCode)) {
        return {C::noSpeech};
    }
    if (failed) {
        return {item.dismissed ? C::dismissed : C::failed};
    }
    if (transcribed && item.unconfirmedSpeakers > 0) {
        return {C::speakers, item.unconfirmedSpeakers};
    }
    if (item.lastError && !transcribed) {
        return {C::stuck};
    }
    if (item.onDisk() && !item.sessionId) {
        return {item.uploadAttempts > 0 ? C::stuck : C::queued};
    }
    if (transcribed) {
        return {C::inVault};
    }
    if (item.onDevice() && !item.onDisk()) {
        return {C::onDevice};
    }
    return {C::processing};
}

QString Kind::text() const
{
    switch (value) {
    case C::deleting:
        return QStringLiteral("等着删除");
    case C::processing:
        return QStringLiteral("正在处理");
    case C::recording:
        return QStringLiteral("正在录");
    case C::tooShort:
        return QStringLiteral("太短未推");
    case C::serverGone:
        return QStringLiteral("Mindvault里已删除");
    case C::noSpeech:
        return QStringLiteral("没有人声");
    case C::dismissed:
        return QStringLiteral("已忽略");
    case C::failed:
        return QStringLiteral("转写失败");
    case C::speakers:
        return QStringLiteral("待认人 ") + QString::number(unconfirmed);
    case C::stuck:
        return QStringLiteral("推送卡住");
    case C::queued:
        return QStringLiteral("排队等推送");
    case C::inVault:
        return QStringLiteral("已入Mindvault");
    case C::onDevice:
        return QStringLiteral("在录音笔上");
    }
    return {};
}

QString Kind::icon() const
{
    switch (value) {
    case C::deleting:
        return QStringLiteral("edit-delete");
    case C::processing:
    case C::queued:
        return QStringLiteral("view-refresh");
    case C::recording:
        return QStringLiteral("media-record");
    case C::tooShort:
    case C::dismissed:
        return QStringLiteral("list-remove");
    case C::serverGone:
    case C::noSpeech:
        return QStringLiteral("dialog-information");
    case C::failed:
    case C::stuck:
        return QStringLiteral("dialog-warning");
    case C::speakers:
        return QStringLiteral("system-users");
    case C::inVault:
        return QStringLiteral("emblem-ok");
    case C::onDevice:
        return QStringLiteral("drive-removable-media");
    }
    return {};
}

Tone Kind::tone() const
{
    switch (value) {
    case C::inVault:
        return Tone::ok;
    case C::failed:
    case C::stuck:
        return Tone::bad;
    case C::speakers:
    case C::serverGone:
    case C::noSpeech:
    case C::deleting:
        return Tone::warn;
    default:
        return Tone::idle;
    }
}

Problem Kind::problem() const
{
    switch (value) {
    case C::failed:
        return Problem::failed;
    case C::stuck:
        return Problem::stuck;
    case C::speakers:
        return Problem::speakers;
    default:
        return Problem::none;
    }
}

} // namespace Triage
