// WhenModal: answers the next modal dialog of a given type from inside its own event loop, for
// window tests that call a function which runs the dialog with exec().
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace pellix::test {

// fn gets the dialog once it is the active modal widget; polled from the event loop.
template <class TDialog>
void WhenModal(std::function<void(TDialog*)> fn)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, fn] {
        if (auto* dialog = qobject_cast<TDialog*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            fn(dialog);
        }
    });
    timer->start();
}

} // namespace pellix::test
