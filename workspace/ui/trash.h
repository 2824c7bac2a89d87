// MoveToTrash: a file to the desktop's trash, never into the current folder.
#pragma once

#include <QString>

namespace pellix {

enum class TTrashOutcome { Trashed, Removed, Failed };

struct TTrashResult {
    TTrashOutcome outcome = TTrashOutcome::Failed;
    QString where;  // Trashed: the file's path inside the trash
};

// Moves path into the user's trash (or the trash of the file's own file system). Qt falls back
// to the current folder as a "trash" when the user's trash folder cannot be made, so the trash
// is made here first and nothing is moved when it cannot be. When the file cannot go to a trash
// and removeInstead is set, it is removed; Failed leaves it where it was.
TTrashResult MoveToTrash(const QString& path, bool removeInstead);

} // namespace pellix
