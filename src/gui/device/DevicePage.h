#pragma once

#include "common/Clock.h"

#include <QCoro/QCoroTask>
#include <QWidget>

class AppModel;
class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QVBoxLayout;

// The pen: whether it is here and what it is doing, its name in the service, its readings, the
// files on it (imported ones open in the library), the local archive's last check, and the
// cleanup rule.
class DevicePage : public QWidget {
    Q_OBJECT

public:
    explicit DevicePage(AppModel& model, Clock clock = systemClock(), QWidget* parent = nullptr);

    // Re-reads the model (and the clock, for the relative times).
    void refresh();

protected:
    void changeEvent(QEvent* event) override;

Q_SIGNALS:
    // An imported file on the pen was chosen: show it in the library.
    void openRecording(const QString& base);

private:
    QWidget* header();
    QWidget* identityCard();
    QWidget* readingsCard();
    QWidget* filesCard();
    QWidget* archiveCard();
    QWidget* rulesCard();
    void restyle();
    void refreshFiles();
    QCoro::Task<> rename();
    // Drops what the user typed and shows the bound name again.
    void abandonDraft();

    AppModel& m_model;
    Clock m_clock;
    QTimer* m_tick;

    QLabel* m_symbol;
    QLabel* m_name;
    QLabel* m_connection;
    QLineEdit* m_draftName;
    QPushButton* m_rename;
    QLabel* m_renameNote;
    bool m_renaming = false;
    // The field holds the user's own text (typed, or refused by the service): refreshes leave
    // it alone until it is saved or abandoned (Escape, or another pen).
    bool m_draftEdited = false;
    std::optional<QString> m_draftPen; // the pen the draft was typed for
    QLabel* m_battery;
    QLabel* m_capacity;
    QLabel* m_firmware;
    QLabel* m_fileCount;
    QLabel* m_fileNote;
    QLabel* m_readingsAge;
    QLabel* m_filesHeading;
    QVBoxLayout* m_files;
    QString m_filesShown; // what the file rows were built from, to rebuild only on change
    QLabel* m_archiveText;
    QLabel* m_archiveResult;
    QLabel* m_archiveUnlisted;
    QLabel* m_rulesText;
    QCheckBox* m_cleanup;
};
