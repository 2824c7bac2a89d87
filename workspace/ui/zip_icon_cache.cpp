// TZipIconCache: small icons by extension.
#include "workspace/ui/zip_icon_cache.h"

#include <QMimeDatabase>

namespace pellix {

QIcon TZipIconCache::FolderIcon() { return IconFor(QString()); }

QIcon TZipIconCache::IconFor(const QString& fileName) {
    const int dot = fileName.lastIndexOf('.');
    const int slash = fileName.lastIndexOf('/');
    const QString extension = dot > slash && dot >= 0 ? fileName.mid(dot + 1).toLower() : QString();
    const auto it = m_icons.constFind(extension);
    if (it != m_icons.constEnd())
        return *it;
    ++m_lookups;
    QIcon icon;
    if (extension.isEmpty()) {
        icon = m_provider.icon(QFileIconProvider::Folder);
    } else {
        static const QMimeDatabase mimes;
        const QMimeType type = mimes.mimeTypeForFile("x." + extension, QMimeDatabase::MatchExtension);
        icon = QIcon::fromTheme(type.iconName());
        if (icon.isNull())
            icon = QIcon::fromTheme(type.genericIconName());
        if (icon.isNull())
            icon = m_provider.icon(QFileIconProvider::File);
    }
    m_icons.insert(extension, icon);
    return icon;
}

} // namespace pellix
