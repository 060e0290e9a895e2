#pragma once

#include "audio/VoiceActivity.h"
#include "sync/SyncPlanner.h"

#include <QHash>
#include <QString>

// What the importer noted about single recordings during this run, shown on their rows: the last
// problem (a download or a push that failed), the speech screening's report, and the recordings
// kept local as too short. The engine holds the one instance; the round and the upload queue
// write through these methods only. Nothing here is saved: the ledger holds what must last.
class RecordingNotes {
public:
    const QHash<QString, QString>& errors() const { return m_errors; }
    void setError(const QString& base, const QString& text) { m_errors.insert(base, text); }
    void clearError(const QString& base) { m_errors.remove(base); }

    const QHash<QString, VoiceActivity::Report>& voiceReports() const { return m_voiceReports; }
    void setVoiceReport(const QString& base, const VoiceActivity::Report& report)
    {
        m_voiceReports.insert(base, report);
    }

    // base -> the recording's length in seconds.
    const QHash<QString, double>& skippedShort() const { return m_skippedShort; }
    void setSkippedShort(const QString& base, double seconds)
    {
        m_skippedShort.insert(base, seconds);
    }
    void clearSkippedShort(const QString& base) { m_skippedShort.remove(base); }

    void describe(SyncPlanner::ItemContext& context) const
    {
        context.errors = m_errors;
        context.skippedShort = m_skippedShort;
    }

private:
    QHash<QString, QString> m_errors; // base -> last problem
    QHash<QString, VoiceActivity::Report> m_voiceReports;
    QHash<QString, double> m_skippedShort;
};
