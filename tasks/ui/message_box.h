// The message boxes of the task windows, with a hook that tests set to answer them.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

namespace pellix {

using TMessageHandler = std::function<QMessageBox::StandardButton(
    QWidget* parent, QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons)>;

// A modal box captioned "Pellix", or the handler's answer when one is set.
QMessageBox::StandardButton ShowMessage(const TMessageHandler& handler, QWidget* parent, QMessageBox::Icon icon,
                                        const QString& text,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok);

} // namespace pellix
