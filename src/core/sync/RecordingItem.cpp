#include "sync/RecordingItem.h"

#include <utility>

RecordingItem::RecordingItem(QString base_, int durationSec_, std::optional<uint32_t> deviceSize_,
                             std::optional<qint64> localBytes_, std::optional<QString> sessionId_,
                             std::optional<QString> vaultStatus_,
                             std::optional<QString> transcriptId_,
                             std::optional<QString> lastError_,
                             std::optional<QString> vaultErrorCode_)
    : base(std::move(base_)), durationSec(durationSec_), deviceSize(deviceSize_),
      localBytes(localBytes_), sessionId(std::move(sessionId_)),
      vaultStatus(std::move(vaultStatus_)), transcriptId(std::move(transcriptId_)),
      lastError(std::move(lastError_)), vaultErrorCode(std::move(vaultErrorCode_))
{}

bool RecordingItem::inVault() const
{
    return vaultStatus == QStringLiteral("ready") && transcriptId.has_value();
}
