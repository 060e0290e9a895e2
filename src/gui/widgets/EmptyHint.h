#pragma once

#include <QString>
#include <QWidget>
#include <optional>

class QLabel;

// The centred placeholder of an empty view: a large symbol, a title and an optional detail.
class EmptyHint : public QWidget {
    Q_OBJECT

public:
    EmptyHint(const QString& icon, const QString& title, const std::optional<QString>& detail,
              QWidget* parent = nullptr);

    QString title() const;
    QString detail() const;

protected:
    void changeEvent(QEvent* event) override;

private:
    void restyle();

    QString m_icon;
    QLabel* m_symbol;
    QLabel* m_title;
    QLabel* m_detail;
};
