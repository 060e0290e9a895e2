#pragma once

#include <QWidget>

class AppModel;
class Dialogs;
class QStackedWidget;
class QVBoxLayout;

// The signed-in window: the top bar, the warning banner, and the side rail beside the section
// pages. The pages fill `content()`; the bars go into `header()`.
class MainWindowView : public QWidget {
    Q_OBJECT

public:
    MainWindowView(AppModel& model, Dialogs& dialogs, QWidget* parent = nullptr);

    AppModel& model() const { return m_model; }
    Dialogs& dialogs() const { return m_dialogs; }
    // Above the content: the device bar and the blocked banner stack here.
    QVBoxLayout& header() const { return *m_header; }
    // The side rail's sections and the panels that open over them.
    QStackedWidget& content() const { return *m_content; }

private:
    AppModel& m_model;
    Dialogs& m_dialogs;
    QVBoxLayout* m_header;
    QStackedWidget* m_content;
};
