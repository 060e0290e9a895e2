#pragma once

#include <QWidget>

class QButtonGroup;
class QToolButton;

// The narrow rail beside the pages: the library ("内容") and the pen ("设备"). Ctrl+1 and Ctrl+2
// switch from anywhere in the window.
class SideRail : public QWidget {
    Q_OBJECT

public:
    enum class Section { library, device };

    explicit SideRail(QWidget* parent = nullptr);

    Section section() const { return m_section; }
    void setSection(Section section);
    void setDeviceConnected(bool connected);

Q_SIGNALS:
    void sectionChanged(SideRail::Section section);

private:
    Section m_section = Section::library;
    QToolButton* m_library;
    QToolButton* m_device;
};
