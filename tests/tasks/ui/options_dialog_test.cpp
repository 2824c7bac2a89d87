// The preferences dialog on a settings store: its pages and captions, OK writing and Cancel not,
// histories cleared at once, the proxy offer, and a refused temp folder keeping the dialog open.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tasks/ui/options_dialog.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"
#include "workspace/app_settings.h"

using namespace pellix;

class TOptionsDialogTest : public QObject {
    Q_OBJECT
private:
    std::vector<QString> m_boxes;
    QMessageBox::StandardButton m_answer = QMessageBox::Yes;

    void Prepare(TdlgOptions& dialog, std::optional<std::string> proxy = std::nullopt)
    {
        dialog.SetMessageHandler([this](QWidget*, QMessageBox::Icon, const QString& text, QMessageBox::StandardButtons) {
            m_boxes.push_back(text);
            return m_answer;
        });
        dialog.SetEnvironment([proxy](const char* name) -> std::optional<std::string> {
            return std::string(name) == "http_proxy" ? proxy : std::nullopt;
        });
    }
    static std::string StoreBytes(const TPXApp& app)
    {
        std::ifstream in(app.Paths().settingsFile, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }

private slots:
    void init()
    {
        m_boxes.clear();
        m_answer = QMessageBox::Yes;
    }

    void CaptionsAndOK()
    {
        test::TTempFolder folder;
        TPXApp app(test::UserHomeAppPaths(folder.Path()));
        app.SetProxyAuthorization("ann:pw");
        app.SetMaxFileHistory(4);
        TdlgOptions dialog(app);
        Prepare(dialog);
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QString("Pellix Options"));
        QCOMPARE(dialog.pages->count(), 4);
        const QString tabs[] = {"General", "Zip Folders", "Connection", "Personal Intranet"};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(dialog.pages->tabText(i), tabs[i]);
        QCOMPARE(dialog.cbZipLast->text(), QString("Zip files only after download has completed"));
        QCOMPARE(dialog.cbProxy->text(), QString("Connect to the Internet using a proxy server"));
        QCOMPARE(dialog.cmbUserAgent->currentText(), QString("Pellix"));
        QCOMPARE(dialog.cmbUserAgent->count(), 10);
        QCOMPARE(dialog.edProxyUsername->text(), QString("ann"));
        QCOMPARE(dialog.edProxyPassword->text(), QString("pw"));
        QCOMPARE(dialog.edProxyPassword->echoMode(), QLineEdit::Password);
        QCOMPARE(dialog.edMaxFileHistory->value(), 4);
        QVERIFY(!dialog.edAddress->isEnabled());
        QVERIFY(dialog.rbLastZipFolder->isChecked() || dialog.rbZipFolder->isChecked());

        // Typing a zip folder picks its choice; the downloads folder picks neither unzip choice.
        dialog.rbLastUnzipFolder->setChecked(true);
        dialog.edDownloadsFolder->setText(QString::fromStdString(folder.Text() + "dl/"));
        QVERIFY(dialog.rbLastUnzipFolder->isChecked());
        dialog.edZipFolder->setText(QString::fromStdString(folder.Text() + "zips/"));
        QVERIFY(dialog.rbZipFolder->isChecked());
        QTest::mouseClick(dialog.cbProxy, Qt::LeftButton);
        QVERIFY(dialog.edAddress->isEnabled());
        dialog.edAddress->setText(" http://proxy.lan ");
        dialog.edPort->setText(" 8080 ");
        dialog.cmbUserAgent->setCurrentText("Anonymous");
        dialog.btnOK->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));

        TPXApp reread(app.Paths());
        QVERIFY(reread.UseProxy());
        QCOMPARE(reread.ProxyAddress(), std::string("proxy.lan"));
        QCOMPARE(reread.ProxyPort(), std::string("8080"));
        QCOMPARE(reread.DownloadsFolder(), folder.Text() + "dl/");
        QCOMPARE(reread.ZipFolder(), folder.Text() + "zips/");
        QVERIFY(!reread.LastZipFolder());
        QCOMPARE(reread.StoredUserAgent(), std::string("Anonymous"));
        QVERIFY(m_boxes.empty());
    }

    // Cancel writes nothing, but a history cleared before it stays cleared.
    void CancelAndClearing()
    {
        test::TTempFolder folder;
        TPXApp app(test::UserHomeAppPaths(folder.Path()));
        TdlgOptions dialog(app);
        Prepare(dialog);
        int urlsCleared = 0;
        int filesCleared = 0;
        dialog.SetClearURLHistory([&] { ++urlsCleared; });
        dialog.SetClearFileHistory([&] { ++filesCleared; });
        dialog.show();
        const std::string before = StoreBytes(app);
        dialog.cbZipLast->setChecked(!dialog.cbZipLast->isChecked());
        dialog.edTempFolder->setText(QString::fromStdString(folder.Text() + "elsewhere"));
        m_answer = QMessageBox::No;
        dialog.btnClearFiles->click();
        m_answer = QMessageBox::Yes;
        dialog.btnClearURLs->click();
        QCOMPARE(m_boxes, (std::vector<QString>{"Clear all items in your recently opened files list?",
                                               "Clear all items in your recently typed URL's list?"}));
        QCOMPARE(urlsCleared, 1);
        QCOMPARE(filesCleared, 0);
        dialog.btnCancel->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(StoreBytes(app), before);
    }

    void RefusedTempFolderKeepsTheDialogOpen()
    {
        test::TTempFolder folder;
        TPXApp app(test::UserHomeAppPaths(folder.Path()));
        TdlgOptions dialog(app);
        Prepare(dialog);
        dialog.show();
        const std::string before = StoreBytes(app);
        dialog.edTempFolder->setText(QString::fromStdString(app.Paths().homeFolder.string()));
        dialog.btnOK->click();
        QCOMPARE(m_boxes.size(), std::size_t(1));
        QVERIFY(m_boxes[0].contains("cannot hold temporary files"));
        QVERIFY(dialog.isVisible());
        QCOMPARE(StoreBytes(app), before);
    }

    void ProxyOffer()
    {
        test::TTempFolder folder;
        TPXApp app(test::UserHomeAppPaths(folder.Path()));
        TdlgOptions dialog(app);
        Prepare(dialog, "http://cache.lan:3128/");
        m_answer = QMessageBox::No;
        dialog.OfferSystemProxy();
        QCOMPARE(m_boxes.size(), std::size_t(1));
        QVERIFY(m_boxes[0].contains("\ncache.lan:3128\n"));
        QCOMPARE(dialog.pages->currentIndex(), 2);
        QVERIFY(!dialog.cbProxy->isChecked());
        m_answer = QMessageBox::Yes;
        dialog.OfferSystemProxy(); // offered again while no proxy is used
        QVERIFY(dialog.cbProxy->isChecked());
        QCOMPARE(dialog.edAddress->text(), QString("cache.lan"));
        QCOMPARE(dialog.edPort->text(), QString("3128"));
        QVERIFY(!app.UseProxy()); // nothing stored before OK
        dialog.OfferSystemProxy();
        QCOMPARE(m_boxes.size(), std::size_t(2)); // a proxy in use is not offered
    }
};

QTEST_MAIN(TOptionsDialogTest)
#include "options_dialog_test.moc"
