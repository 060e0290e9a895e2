#pragma once

#include <QSet>
#include <QString>
#include <optional>

// The service's failure codes: which are final, which mean "nothing was said", and what to tell
// the user about each.
namespace VaultFailure {

// Codes for which a re-push of the same audio cannot help.
const QSet<QString>& permanent();
// Codes meaning the recording held no speech (a subset of permanent()).
const QSet<QString>& noSpeech();

// Absent or empty: true; otherwise not in permanent().
bool retryable(const std::optional<QString>& code);
bool isNoSpeech(const std::optional<QString>& code);
QString explain(const std::optional<QString>& code);

} // namespace VaultFailure
