#include "workspace/ui/drop_target.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace pellix {

namespace {

bool Offers(const QMimeData* data) { return data && (data->hasUrls() || data->hasText()); }

Qt::DropAction EffectOf(Qt::KeyboardModifiers keys)
{
    const TDropEffect effect =
        DropEffect(keys & Qt::ShiftModifier, keys & Qt::ControlModifier, keys & Qt::AltModifier);
    return effect == TDropEffect::MoveOrLink ? Qt::MoveAction : Qt::CopyAction;
}

} // namespace

TDropTarget::TDropTarget(QWidget* window, TDropHandler onDrop, TDragOverHandler onDragOver)
    : QObject(window), m_onDrop(std::move(onDrop)), m_onDragOver(std::move(onDragOver))
{
    window->setAcceptDrops(true);
    window->installEventFilter(this);
}

TDropData TDropTarget::ReadMimeData(const QMimeData& data)
{
    TDropData read;
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile())
            read.localFiles.push_back(url.toLocalFile().toStdString());
        else
            read.otherURIs.push_back(url.toString(QUrl::FullyEncoded).toStdString());
    }
    if (data.hasText())
        read.text = data.text().toStdString();
    return read;
}

bool TDropTarget::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (!Offers(drag->mimeData()))
            return false;
        const Qt::DropAction wanted = EffectOf(drag->modifiers());
        drag->setDropAction(drag->possibleActions() & wanted ? wanted
                            : drag->possibleActions() & Qt::LinkAction ? Qt::LinkAction
                                                                       : drag->proposedAction());
        drag->accept();
        if (m_onDragOver)
            m_onDragOver();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (!Offers(drop->mimeData()))
            return false;
        drop->acceptProposedAction();
        // The handler may open dialogs: the drag ends first.
        const TDropData data = ReadMimeData(*drop->mimeData());
        if (m_onDrop)
            QMetaObject::invokeMethod(this, [this, data] { m_onDrop(data); }, Qt::QueuedConnection);
        return true;
    }
    default: return QObject::eventFilter(watched, event);
    }
}

} // namespace pellix
