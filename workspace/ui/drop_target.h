// TDropTarget: makes a window accept dragged links and files; each drop is read into TDropData
// and handed to the drop handler, each drag movement to the optional drag-over handler.
#pragma once

#include <QObject>

#include <functional>

#include "workspace/drop_decision.h"

class QMimeData;
class QWidget;

namespace pellix {

class TDropTarget final : public QObject {
    Q_OBJECT
public:
    using TDropHandler = std::function<void(const TDropData& data)>;
    using TDragOverHandler = std::function<void()>;

    // Registers window (it accepts drops from now on); the target is its child.
    TDropTarget(QWidget* window, TDropHandler onDrop, TDragOverHandler onDragOver = {});

    // What the data offers, as the handler sees it.
    static TDropData ReadMimeData(const QMimeData& data);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TDropHandler m_onDrop;
    TDragOverHandler m_onDragOver;
};

} // namespace pellix
