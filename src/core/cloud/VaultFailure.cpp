#include "cloud/VaultFailure.h"

namespace VaultFailure {

const QSet<QString>& permanent()
{
    static const QSet<QString> codes{
        QStringLiteral("INVALID_ASR_TIMELINE"), QStringLiteral("ASR_NO_SPEECH"),
        QStringLiteral("PROVIDER_REJECTED"),    QStringLiteral("ASR_TASK_EVIDENCE_MISSING"),
        QStringLiteral("MANIFEST_INCOMPLETE"),  QStringLiteral("OBJECT_MISMATCH"),
    };
    return codes;
}

const QSet<QString>& noSpeech()
{
    static const QSet<QString> codes{QStringLiteral("INVALID_ASR_TIMELINE"),
                                     QStringLiteral("ASR_NO_SPEECH")};
    return codes;
}

bool retryable(const std::optional<QString>& code)
{
    return !code || code->isEmpty() || !permanent().contains(*code);
}

bool isNoSpeech(const std::optional<QString>& code)
{
    return code && noSpeech().contains(*code);
}

QString explain(const std::optional<QString>& code)
{
    if (!code || code->isEmpty())
        return QStringLiteral("Mindvault侧失败，原因未知。");
    const QString& c = *code;
    if (c == u"INVALID_ASR_TIMELINE")
        return QStringLiteral("转写没能识别出任何语音。这段录音里可能没有清晰人声（比如放在包里、"
                              "只有环境噪音），重推同一份音频结果不会变。");
    if (c == u"ASR_NO_SPEECH")
        return QStringLiteral("这段录音里没有检测到人声，不是故障——多半是误按了录音键，"
                              "或者笔放在包里。");
    if (c == u"PROVIDER_REJECTED")
        return QStringLiteral("转写服务拒绝了这份音频，多半是格式或时长不被支持。");
    if (c == u"ASR_TASK_EVIDENCE_MISSING")
        return QStringLiteral("转写任务丢了凭据，无法确认结果。");
    if (c == u"MANIFEST_INCOMPLETE")
        return QStringLiteral("分片清单不完整，音频没能拼齐。");
    if (c == u"PROVIDER_UNAVAILABLE")
        return QStringLiteral("转写服务暂时不可用，属于临时故障，可以重推。");
    if (c == u"FINALIZATION_FAILED" || c == u"INTERNAL_ERROR")
        return QStringLiteral("Mindvault收尾时出错，属于临时故障，可以重推。");
    return u"Mindvault侧失败：" + c;
}

} // namespace VaultFailure
