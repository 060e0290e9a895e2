#pragma once

#include "cleanup/Cleanup.h"
#include "cloud/SessionState.h"

#include <QCoro/QCoroTask>
#include <functional>
#include <map>
#include <optional>

class Mindvault;

namespace Cleanup {

// One cleanup pass: the pure checks plus the one question for the service (is this recording
// transcribed?), asked at most once per session id in the pass.
class Planner {
public:
    // The service's state of one uploaded recording; nullopt when the service does not know
    // it. Throws when the service could not be asked.
    using Lookup = std::function<QCoro::Task<std::optional<SessionState>>(QString sessionId)>;

    explicit Planner(Lookup lookup);

    // The real service's answers. client() gives the signed-in client, or nullptr once it is
    // gone (the lookup then answers "unknown"); a session the service reports as not found is
    // unknown, every other failure is thrown.
    static Lookup serviceLookup(std::function<Mindvault*()> client);

    // The device veto, or one decision per entry in entry order, judged one after another.
    QCoro::Task<QList<Decision>> plan(QList<FileEntry> entries, Context context);
    // The whole rule set for one file. Never throws: a failed lookup is a keep decision.
    QCoro::Task<Decision> judge(FileEntry entry, Context context);

private:
    QCoro::Task<Decision> judgeIn(const FileEntry& entry, const Context& context);

    Lookup m_lookup;
    // Answers of this pass; nullopt: the service does not know the session. Failed lookups are
    // not kept, so the next entry with that id asks again.
    std::map<QString, std::optional<SessionState>> m_cache;
};

} // namespace Cleanup
