#pragma once

#include <QString>

// The per-user folders the archive and the service credentials live in.
namespace StandardFolders {

// The user's documents folder (XDG_DOCUMENTS_DIR on Linux, ~/Documents on macOS).
QString documents();

// The per-user application data folder of the service client: credentials and device
// bindings live here ("<data home>/Mindvault"). XDG_DATA_HOME is honoured on Linux.
QString serviceData();

} // namespace StandardFolders
