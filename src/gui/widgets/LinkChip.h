#pragma once

#include "widgets/ChainStatus.h"

#include <QColor>
#include <QWidget>

class QLabel;

// One link of a recording's chain: its state symbol and title.
class LinkChip : public QWidget {
    Q_OBJECT

public:
    LinkChip(const QString& title, LinkState state, QWidget* parent = nullptr);

    void setState(LinkState state);
    LinkState state() const { return m_state; }

    // The state's symbol name and colour (green done, accent active, red failed, secondary
    // pending and skipped).
    static QString symbolName(LinkState state);
    static QColor symbolColor(LinkState state, bool dark);
    // What the symbol says, for screen readers: "完成", "进行中", "等待", "失败", "跳过".
    static QString stateName(LinkState state);

protected:
    void changeEvent(QEvent* event) override;

private:
    void restyle();

    QString m_title;
    LinkState m_state;
    QLabel* m_icon;
    QLabel* m_label;
};
