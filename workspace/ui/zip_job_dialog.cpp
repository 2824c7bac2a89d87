#include "workspace/ui/zip_job_dialog.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>

#include "workspace/unzip_rules.h"

namespace pellix {

namespace {

// Runs fn on the owner thread and waits for it; fn runs at once when called there.
void CallOnOwner(QObject* context, const std::function<void()>& fn)
{
    if (QThread::currentThread() == context->thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(context, fn, Qt::BlockingQueuedConnection);
}

TReplaceAnswer AnswerOf(QMessageBox::StandardButton button)
{
    switch (button) {
    case QMessageBox::Yes: return TReplaceAnswer::Yes;
    case QMessageBox::No: return TReplaceAnswer::No;
    case QMessageBox::YesToAll: return TReplaceAnswer::All;
    default: return TReplaceAnswer::Cancel;
    }
}

} // namespace

void TZipJobDialog::Run(QWidget* parent, TZipArchive& archive, const QString& title,
                        const std::function<void(const TZipJobProgress&)>& work, const TMessageHandler& messages)
{
    QProgressDialog progress(title, "&Cancel", 0, 0, parent);
    progress.setObjectName("dlgZipProgress");
    progress.setWindowTitle("Pellix");
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumWidth(420);
    QObject::connect(&progress, &QProgressDialog::canceled, [&archive] { archive.Engine().Abort(); });

    const auto savedStatus = archive.OnStatusText;
    const auto savedProgress = archive.OnProgress;
    const auto savedReplace = archive.OnReplace;
    QObject* owner = &progress;
    if (savedStatus)
        archive.OnStatusText = [owner, savedStatus](const std::string& text) {
            QMetaObject::invokeMethod(owner, [savedStatus, text] { savedStatus(text); }, Qt::QueuedConnection);
        };
    if (savedProgress)
        archive.OnProgress = [owner, savedProgress](const std::string& text, std::int64_t position, std::int64_t maximum) {
            QMetaObject::invokeMethod(
                owner, [savedProgress, text, position, maximum] { savedProgress(text, position, maximum); },
                Qt::QueuedConnection);
        };
    archive.OnReplace = [owner, parent, &messages](const std::string& file, std::string& name, TZipReplaceAction& action) {
        CallOnOwner(owner, [&] {
            const QMessageBox::StandardButton button = ShowMessage(
                messages, parent, QMessageBox::Information, QString::fromStdString(ReplacePromptText(file, name)),
                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel | QMessageBox::YesToAll);
            action = ReplaceActionOf(AnswerOf(button));
        });
    };

    // Progress is shown at most once per pending event-loop turn, however fast entries go by.
    auto pending = std::make_shared<std::atomic<bool>>(false);
    const TZipJobProgress sink = [owner, pending, &progress](const std::string& text, std::int64_t done, std::int64_t total) {
        if (pending->exchange(true))
            return;
        QMetaObject::invokeMethod(
            owner,
            [&progress, pending, text, done, total] {
                pending->store(false);
                progress.setMaximum(static_cast<int>(total));
                progress.setValue(static_cast<int>(total > 0 ? std::min(done, total) : 0));
                progress.setLabelText(QString::fromStdString(text));
            },
            Qt::QueuedConnection);
    };

    QEventLoop loop;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        work(sink);
        finished = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    if (!finished)
        loop.exec();
    worker.join();
    // Texts and prompts the worker queued before it ended are shown before the hooks go back.
    QCoreApplication::sendPostedEvents(owner);
    archive.OnStatusText = savedStatus;
    archive.OnProgress = savedProgress;
    archive.OnReplace = savedReplace;
}

} // namespace pellix
