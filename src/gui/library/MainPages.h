#pragma once

#include <QObject>

class ArchiveAuditPanel;
class BindMismatchCard;
class DevicePage;
class LibraryPage;
class MainWindowView;
class PanelOverlay;
class SideRail;

// Fills the signed-in window: the device bar and the blocked banner above, the side rail
// beside the library and device pages, and the audit panel and the binding-conflict card over
// them when the model asks for them.
class MainPages : public QObject {
    Q_OBJECT

public:
    explicit MainPages(MainWindowView& view);

    SideRail& rail() const { return *m_rail; }
    LibraryPage& library() const { return *m_library; }
    DevicePage& device() const { return *m_device; }
    // The open panels, if any.
    ArchiveAuditPanel* auditPanel() const;
    BindMismatchCard* bindCard() const;

private:
    void refreshAudit();
    void refreshBindMismatch();

    MainWindowView& m_view;
    SideRail* m_rail;
    LibraryPage* m_library;
    DevicePage* m_device;
    PanelOverlay* m_auditOverlay;
    PanelOverlay* m_bindOverlay;
};
