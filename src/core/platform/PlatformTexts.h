#pragma once

#include <QString>

// The few texts that speak of the platform the importer runs on: its cloud drive, its file
// browser, its Bluetooth permission. Every other text is the same everywhere.
namespace PlatformTexts {

// The device page's archive card: what the audit checks.
QString auditCardNote();
// Appended to the recording's name in the log when its local file cannot be read for upload.
QString unreadableForUploadLog();
// The recording's error when its local file cannot be read for upload.
QString unreadableForUpload();
// The welcome page's second step and the note under it.
QString bluetoothStep();
QString bluetoothStepNote();

} // namespace PlatformTexts
