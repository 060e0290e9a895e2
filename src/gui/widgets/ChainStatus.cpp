#include "ChainStatus.h"

#include "cloud/VaultFailure.h"
#include "format/Fmt.h"

#include <QLocale>

using namespace Qt::Literals::StringLiterals;

QString ChainStatus::bytes(qint64 count)
{
    if (count == 0)
        return u"—"_s;
    const QLocale c = QLocale::c();
    const double kb = count / 1000.0;
    if (kb < 1000)
        return c.toString(qMax(1.0, kb), 'f', 0) + u" KB"_s;
    if (kb < 1000 * 1000)
        return c.toString(kb / 1000, 'f', 1) + u" MB"_s;
    return c.toString(kb / 1000 / 1000, 'f', 2) + u" GB"_s;
}

ChainStatus::ChainStatus(const RecordingItem& item,
                         const std::optional<RecordingActivity>& activity)
{
    const QString label = activity ? activity->label : QString();
    const bool downloading = label.startsWith(u"下载"_s);
    const bool pushing = label.startsWith(u"推送"_s);
    const bool failedStatus = item.vaultStatus == u"failed"_s;

    if (item.deviceSize) {
        device = LinkState::done;
        deviceNote = bytes(*item.deviceSize);
    } else if (item.localBytes) {
        device = LinkState::skipped;
        deviceNote = u"设备上已不在（已清理）"_s;
    } else {
        device = LinkState::pending;
        deviceNote = u"设备上没有"_s;
    }

    if (item.localBytes) {
        disk = LinkState::done;
        diskNote = bytes(*item.localBytes);
    } else if (downloading) {
        disk = LinkState::active;
        diskNote = label;
    } else {
        disk = LinkState::pending;
        diskNote = u"尚未落盘"_s;
    }

    if (failedStatus && VaultFailure::isNoSpeech(item.vaultErrorCode)) {
        vault = LinkState::done;
        vaultNote = u"已收到"_s;
        transcript = LinkState::skipped;
        transcriptNote = VaultFailure::explain(item.vaultErrorCode);
        analysis = LinkState::skipped;
        analysisNote = u"没有可分析的内容"_s;
        return;
    }

    bool transcriptDecided = false;
    if (item.vaultStatus == u"ready"_s && item.transcriptId) {
        vault = LinkState::done;
        vaultNote = u"已就绪，转写完成"_s;
        transcript = LinkState::done;
        transcriptNote = u"转写就绪"_s;
        transcriptDecided = true;
    } else if (failedStatus || (item.lastError && item.sessionId)) {
        vault = LinkState::failed;
        vaultNote = item.lastError.value_or(u"推送失败"_s);
    } else if (pushing) {
        vault = LinkState::active;
        vaultNote = label;
    } else if (!item.sessionId) {
        vault = LinkState::pending;
        vaultNote = u"尚未推送"_s;
    } else {
        vault = LinkState::active;
        vaultNote = Fmt::vaultStatus(item.vaultStatus);
    }

    if (!transcriptDecided) {
        if (item.transcriptId) {
            transcript = LinkState::done;
            transcriptNote = u"转写就绪"_s;
        } else if (failedStatus) {
            transcript = LinkState::failed;
            transcriptNote = item.lastError.value_or(u"转写失败"_s);
        } else if (item.sessionId) {
            transcript = LinkState::active;
            transcriptNote = u"Mindvault正在转写"_s;
        } else {
            transcript = LinkState::pending;
            transcriptNote = u"等推送"_s;
        }
    }

    if (item.vaultTitle) {
        analysis = LinkState::done;
        analysisNote = u"判断已沉进大脑"_s;
    } else if (transcript == LinkState::done) {
        analysis = LinkState::active;
        analysisNote = u"分析进行中"_s;
    } else {
        analysis = LinkState::pending;
        analysisNote = u"等转写"_s;
    }
}
