#include "cleanup/CleanupPlanner.h"

#include "cloud/Mindvault.h"
#include "cloud/MindvaultError.h"
#include "sync/Describe.h"

#include <QTextBoundaryFinder>

namespace Cleanup {

namespace {

constexpr int errorTextLimit = 40;

// The first characters of a text as the user sees them: a cut never splits a character that is
// made of several code units.
QString firstCharacters(const QString& text, int count)
{
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (int i = 0; i < count; ++i) {
        const qsizetype next = graphemes.toNextBoundary();
        if (next < 0) {
            return text;
        }
        end = next;
    }
    return text.left(end);
}

} // namespace

Planner::Planner(Lookup lookup) : m_lookup(std::move(lookup)) {}

Planner::Lookup Planner::serviceLookup(std::function<Mindvault*()> client)
{
    return [client =
                std::move(client)](QString sessionId) -> QCoro::Task<std::optional<SessionState>> {
        Mindvault* vault = client();
        if (vault == nullptr) {
            co_return std::nullopt;
        }
        std::optional<SessionState> state;
        try {
            state = co_await vault->sessionState(sessionId);
        } catch (const MindvaultError& e) {
            if (e.kind() != MindvaultError::Kind::notFound) {
                throw;
            }
        }
        co_return state;
    };
}

QCoro::Task<QList<Decision>> Planner::plan(QList<FileEntry> entries, Context context)
{
    if (auto vetoed = deviceVeto(entries, context.recordStatus, planVetoSuffix)) {
        co_return *vetoed;
    }
    QList<Decision> out;
    out.reserve(entries.size());
    for (const FileEntry& entry : entries) {
        out.append(co_await judgeIn(entry, context));
    }
    co_return out;
}

QCoro::Task<Decision> Planner::judge(FileEntry entry, Context context)
{
    co_return co_await judgeIn(entry, context);
}

QCoro::Task<Decision> Planner::judgeIn(const FileEntry& entry, const Context& context)
{
    const QString name = entry.base();
    const auto keep = [&name](QString reason) {
        return Decision{name, false, std::move(reason)};
    };

    if (isDeviceCurrent(name, context.deviceCurrent)) {
        co_return keep(QStringLiteral("是设备当前文件"));
    }
    // Everything below is about this very recording, which may be archived under another base.
    const std::optional<QString> archived = archivedBase(entry, context.imported);
    const auto uploaded = archived ? context.uploaded.find(*archived) : context.uploaded.end();
    if (uploaded == context.uploaded.end() || uploaded->second.isEmpty()) {
        co_return keep(QStringLiteral("没同步过Mindvault"));
    }
    const QString& sessionId = uploaded->second;

    auto cached = m_cache.find(sessionId);
    if (cached == m_cache.end()) {
        std::optional<SessionState> answer;
        std::exception_ptr failure;
        try {
            answer = co_await m_lookup(sessionId);
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure) {
            co_return keep(QStringLiteral("查Mindvault失败：") +
                           firstCharacters(describe(failure), errorTextLimit));
        }
        cached = m_cache.emplace(sessionId, std::move(answer)).first;
    }
    const std::optional<SessionState>& state = cached->second;
    if (!state) {
        co_return keep(QStringLiteral("Mindvault状态是 未知，不是 ready"));
    }
    if (state->status != QStringLiteral("ready")) {
        const QString shown = state->status.isEmpty() ? QStringLiteral("未知") : state->status;
        co_return keep(QStringLiteral("Mindvault状态是 ") + shown + QStringLiteral("，不是 ready"));
    }
    if (!state->transcriptId || state->transcriptId->isEmpty()) {
        co_return keep(QStringLiteral("Mindvault没有转写结果"));
    }
    if (auto failed = checkLocalArchive(*archived, entry, context.dest, context.rawDir)) {
        failed->name = name;
        co_return *failed;
    }
    co_return judgeAge(name, context.coolingDays, context.now);
}

} // namespace Cleanup
