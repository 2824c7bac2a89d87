// TZipJobDialog: the job runs off the owner thread, its status texts reach the owner thread,
// Cancel aborts the engine, and the archive's hooks are as before afterwards.
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/modal_driver.h"
#include "workspace/ui/zip_job_dialog.h"

using namespace pellix;

class TZipJobDialogTest : public QObject {
    Q_OBJECT
private slots:
    void CancelAbortsAndHooksComeBack()
    {
        TZipArchive archive;
        QStringList texts;
        QThread* const owner = QThread::currentThread();
        bool textsOnOwner = true;
        archive.OnStatusText = [&](const std::string& text) {
            textsOnOwner = textsOnOwner && QThread::currentThread() == owner;
            texts << QString::fromStdString(text);
        };
        std::atomic<bool> workOffOwner{false};
        test::WhenModal<QProgressDialog>([](QProgressDialog* dialog) {
            QCOMPARE(dialog->windowTitle(), QString("Pellix"));
            dialog->findChild<QPushButton*>()->click();
        });
        TZipJobDialog::Run(nullptr, archive, "Working...", [&](const TZipJobProgress& progress) {
            workOffOwner = QThread::currentThread() != owner;
            archive.OnStatusText("Adding: a.txt");
            // Like an engine between entries: go on until aborted, with a deadline.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            for (std::int64_t done = 1; !archive.Engine().Aborted() && std::chrono::steady_clock::now() < deadline;
                 ++done) {
                progress("a.txt", done, 1000000);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        QVERIFY(workOffOwner);
        QVERIFY(archive.Engine().Aborted());
        QCOMPARE(texts, QStringList{"Adding: a.txt"});
        QVERIFY(textsOnOwner);
        // The archive's own hook again, called directly.
        archive.OnStatusText("Ready");
        QCOMPARE(texts.last(), QString("Ready"));
        QVERIFY(!archive.OnReplace);
    }
};

QTEST_MAIN(TZipJobDialogTest)
#include "zip_job_dialog_test.moc"
