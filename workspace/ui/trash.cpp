#include "workspace/ui/trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace pellix {

namespace {

// The user's trash ($XDG_DATA_HOME/Trash) with its two folders, made when missing; empty when
// it cannot be had.
QString UserTrash()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty() || !QDir::isAbsolutePath(data))
        return {};
    const QString trash = QDir::cleanPath(data + "/Trash");
    QDir dir;
    for (const char* sub : {"/files", "/info"}) {
        const QFileInfo folder(trash + sub);
        if (!dir.mkpath(folder.filePath()) || !QFileInfo(folder.filePath()).isWritable())
            return {};
    }
    return trash;
}

} // namespace

TTrashResult MoveToTrash(const QString& path, bool removeInstead)
{
    TTrashResult result;
    if (!UserTrash().isEmpty()) {
        QString where;
        if (QFile::moveToTrash(path, &where)) {
            result.outcome = TTrashOutcome::Trashed;
            result.where = where;
            return result;
        }
    }
    if (removeInstead && QFile::remove(path))
        result.outcome = TTrashOutcome::Removed;
    return result;
}

} // namespace pellix
