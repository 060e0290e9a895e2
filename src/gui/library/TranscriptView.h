#pragma once

#include "cloud/Speakers.h"

#include <QCoro/QCoroTask>
#include <QWidget>
#include <optional>

class QLabel;
class QPushButton;
class QTextBrowser;
class QVBoxLayout;
class TranscriptReader;

// Reading a transcribed recording in the detail pane: who spoke how much, naming the speakers
// still to confirm, and the text with its speakers and times.
class TranscriptView : public QWidget {
    Q_OBJECT

public:
    explicit TranscriptView(TranscriptReader& reader, QWidget* parent = nullptr);

    // The transcript to show; none hides the view.
    void setTranscriptId(const std::optional<QString>& transcriptId);

private:
    void rebuild();
    QWidget* speakerRow(const SpeakerRow& speaker, double share);
    QCoro::Task<> name(SpeakerRow speaker, QString identity, QWidget* row);

    TranscriptReader& m_reader;
    std::optional<QString> m_id;
    QLabel* m_status;
    QPushButton* m_retry;
    QWidget* m_speakers;
    QVBoxLayout* m_speakerRows;
    QTextBrowser* m_text;
};
