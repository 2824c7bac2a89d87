// Skin images for the windows: a skin's bitmap with its key colour made transparent, as an icon.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace pellix {

class TPXApp;

// Skin bitmaps have no alpha: pixels of the key colour #FF00FF are transparent.
QPixmap LoadSkinPixmap(const QString& path);
// The current skin's image (or the shipped default skin's); fallback when neither has it.
QIcon SkinIcon(const TPXApp& app, const char* fileName, const QIcon& fallback);
// The file of the current skin's image, empty when there is none.
QString SkinImagePath(const TPXApp& app, const char* fileName);

} // namespace pellix
