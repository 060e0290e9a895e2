#pragma once

#include <QColor>
#include <QWidget>

// A short status text on a capsule tinted with its tone's colour.
class StatusPill : public QWidget {
    Q_OBJECT

public:
    enum class Tone { ok, warn, bad, idle };

    StatusPill(const QString& text, Tone tone, QWidget* parent = nullptr);

    void set(const QString& text, Tone tone);
    const QString& text() const { return m_text; }
    Tone tone() const { return m_tone; }
    static QColor color(Tone tone, bool dark);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    Tone m_tone;
};
