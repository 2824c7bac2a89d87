// TZipJobDialog: runs a zip job of the zip manager off the owner thread, with a modal progress
// dialog whose Cancel aborts the archive's engine.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>

#include "tasks/ui/message_box.h"
#include "workspace/zip_choice_jobs.h"

namespace pellix {

class TZipJobDialog final {
public:
    // work runs on a worker thread and gets the progress sink to pass to the job. While it runs,
    // the archive's OnStatusText and OnProgress are handed to this thread, and OnReplace asks
    // the user here (Yes, No, Cancel, All); all three are as before when Run returns, which is
    // when work has returned.
    static void Run(QWidget* parent, TZipArchive& archive, const QString& title,
                    const std::function<void(const TZipJobProgress&)>& work, const TMessageHandler& messages = {});
};

} // namespace pellix
