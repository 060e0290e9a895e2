#pragma once

#include "RecordingActivity.h"
#include "sync/RecordingItem.h"

#include <QWidget>
#include <optional>
#include <vector>

class AppModel;
class ChainView;
class Dialogs;
class ListenBar;
class ListenPlayer;
class QGridLayout;
class QLabel;
class QPushButton;
class TranscriptReader;
class TranscriptView;

// One recording in full: its header, how far it has come along the chain, hearing it, reading
// its transcript, and every action on it. Acts only through the model's actions.
class RecordingDetailView : public QWidget {
    Q_OBJECT

public:
    // Loads the waveform bars of an archived recording (slow the first time: decodes the file).
    using BarsFn = std::function<std::optional<std::vector<float>>(QString base, QString oggPath)>;

    RecordingDetailView(AppModel& model, Dialogs& dialogs, ListenPlayer& player,
                        TranscriptReader& reader, BarsFn bars, QWidget* parent = nullptr);

    // Shows this recording; the same base again only refreshes what changed.
    void setItem(const RecordingItem& item, const std::optional<RecordingActivity>& activity);
    const std::optional<RecordingItem>& item() const { return m_item; }

private:
    QPushButton* action(const QString& name, const QString& text, const QString& help);
    void placeActions();
    void loadBars(const QString& base, const QString& path);
    void confirmDelete();

    AppModel& m_model;
    Dialogs& m_dialogs;
    ListenPlayer& m_player;
    BarsFn m_bars;
    std::optional<RecordingItem> m_item;

    QLabel* m_title;
    QLabel* m_date;
    QLabel* m_duration;
    ChainView* m_chain;
    QWidget* m_shortNote;
    QLabel* m_shortText;
    ListenBar* m_listen;
    TranscriptView* m_transcript;
    QPushButton* m_openVault;
    QPushButton* m_redownload;
    QPushButton* m_repush;
    QPushButton* m_dismiss;
    QPushButton* m_star;
    QPushButton* m_reveal;
    QPushButton* m_delete;
    QGridLayout* m_actions;
};
