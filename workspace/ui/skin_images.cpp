#include "workspace/ui/skin_images.h"

#include <QBitmap>
#include <QColor>

#include "workspace/first_start.h"
#include "workspace/skin.h"

namespace pellix {

QPixmap LoadSkinPixmap(const QString& path)
{
    QPixmap pixmap(path);
    if (!pixmap.isNull() && !pixmap.hasAlphaChannel())
        pixmap.setMask(pixmap.createMaskFromColor(QColor(0xff, 0x00, 0xff)));
    return pixmap;
}

QString SkinImagePath(const TPXApp& app, const char* fileName)
{
    return QString::fromStdString(SkinImage(app, fileName, TFirstStart::DefaultDataFolder()));
}

QIcon SkinIcon(const TPXApp& app, const char* fileName, const QIcon& fallback)
{
    const QString path = SkinImagePath(app, fileName);
    const QPixmap pixmap = path.isEmpty() ? QPixmap() : LoadSkinPixmap(path);
    return pixmap.isNull() ? fallback : QIcon(pixmap);
}

} // namespace pellix
