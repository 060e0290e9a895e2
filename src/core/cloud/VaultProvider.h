#pragma once

#include <QCoro/QCoroTask>
#include <functional>

class Mindvault;

// Hands out the connected service client, or nullptr when there is none (not configured, not
// signed in, sign-in revoked, service unreachable). The upload queue owns the client; the
// device binding and the pen cleanup borrow it per call through this and never keep it.
using VaultProvider = std::function<QCoro::Task<Mindvault*>()>;
