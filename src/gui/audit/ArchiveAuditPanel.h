#pragma once

#include "cleanup/ArchiveAudit.h"

#include <QFrame>
#include <optional>

class QLabel;
class QTreeWidget;
class QPushButton;

// The archive check's findings over the main window: a summary, one row per recording with
// its status and the full sentence of what is wrong and what to do, and the raw files the
// ledger does not know about. Keeps nothing of its own; the report comes from the app model.
class ArchiveAuditPanel : public QFrame {
    Q_OBJECT

public:
    explicit ArchiveAuditPanel(QWidget* parent = nullptr);

    void setReport(const std::optional<ArchiveAudit::Report>& report);

Q_SIGNALS:
    void rerunRequested();
    void closeRequested();

private:
    QLabel* m_summary;
    QTreeWidget* m_rows;
    QLabel* m_unlisted;
};
