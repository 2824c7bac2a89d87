// TZipIconCache: the small icon of a file type by extension (case ignored), looked up once per
// extension through the desktop's MIME database and icon theme, without touching a file.
#pragma once

#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QString>

namespace pellix {

class TZipIconCache final {
public:
    // The icon of a file name's type; a name without extension gets the folder icon.
    QIcon IconFor(const QString& fileName);
    QIcon FolderIcon();
    // How many extensions were looked up (not served from the cache).
    int Lookups() const { return m_lookups; }

private:
    QFileIconProvider m_provider;
    QHash<QString, QIcon> m_icons;  // lower-cased extension
    int m_lookups = 0;
};

} // namespace pellix
