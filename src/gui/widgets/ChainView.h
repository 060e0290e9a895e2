#pragma once

#include "widgets/ChainStatus.h"

#include <QWidget>

class QGridLayout;
class QLabel;
class LinkChip;

// A recording's five links: compact (a row of chips with arrows) or verbose (one line per link
// with its note).
class ChainView : public QWidget {
    Q_OBJECT

public:
    ChainView(const ChainStatus& status, bool verbose, QWidget* parent = nullptr);

    void setStatus(const ChainStatus& status);
    const ChainStatus& status() const { return m_status; }

    // The five titles in order.
    static const QStringList& titles();

protected:
    void changeEvent(QEvent* event) override;

private:
    void rebuild();

    ChainStatus m_status;
    bool m_verbose;
    QList<LinkChip*> m_chips;        // compact
    QList<QLabel*> m_icons, m_notes; // verbose
};
