#include "tasks/ui/message_box.h"

namespace pellix {

QMessageBox::StandardButton ShowMessage(const TMessageHandler& handler, QWidget* parent, QMessageBox::Icon icon,
                                        const QString& text, QMessageBox::StandardButtons buttons)
{
    if (handler)
        return handler(parent, icon, text, buttons);
    QMessageBox box(icon, "Pellix", text, buttons, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace pellix
