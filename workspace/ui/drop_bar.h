// TFormDropBar: the drop zone: a small always-on-top strip at the top edge of the screen while
// the program is minimised. It rolls down when the pointer or a drag touches it and takes
// dropped links and files for the main window.
#pragma once

#include <QTimer>
#include <QWidget>

#include "workspace/ui/drop_target.h"

class QLabel;
class QMenu;
class QToolButton;

namespace pellix {

inline constexpr int kDropBarWidth = 170;
inline constexpr int kDropBarHeight = 210;
inline constexpr int kDropBarRolledUp = 2;
inline constexpr const char* kDropBarCaption = "Pellix DropZone";
inline constexpr const char* kDropBarHint =
    "This is the Pellix DropZone.\nYou can Drag and Drop links from your\npreferred browser onto here, to quickly\n"
    "zip up a website, or save some web information.";

class TFormDropBar final : public QWidget {
    Q_OBJECT
public:
    // popup: the tray's menu, shown on a right click; picture: shown on the zone (may be null).
    TFormDropBar(TDropTarget::TDropHandler onDrop, QMenu* popup, const QPixmap& picture);
    ~TFormDropBar() override;

    // Places the zone at the top edge of the screen and shows it rolled up.
    void ShowZone();
    void RollDown();
    void RollUp();
    bool RolledDown() const { return height() >= 200; }
    bool Rolling() const { return m_timer.isActive(); }

    QToolButton* btnExit = nullptr;
    QToolButton* btnRestore = nullptr;
    QLabel* imgZone = nullptr;

signals:
    void ExitRequested();
    void RestoreRequested();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Step();

    QMenu* m_popup = nullptr;
    QTimer m_timer;
    int m_direction = 0; // +1 rolling down, -1 rolling up
};

} // namespace pellix
