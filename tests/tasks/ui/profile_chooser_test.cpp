// The profile chooser: the address, its buttons in order, and what each one answers.
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <fstream>

#include "tasks/ui/profile_chooser.h"
#include "tests/tasks/ui/ui_session.h"

using namespace pellix;

class TProfileChooserTest : public QObject {
    Q_OBJECT
private slots:
    void ButtonsAndAnswers()
    {
        test::TUiSession ui;
        for (const char* name : {"Images", "Default"})
            std::ofstream(ui.App().ProfilesFolder() + name + ".pxp") << "[Profile]\n";

        struct TCase {
            QString button;
            int result;
            QString profile;
        };
        const TCase cases[] = {
            {"Cancel", QDialog::Rejected, ""},
            {"Use Pellix Wizard...", QDialog::Accepted, ""},
            {"Images", QDialog::Accepted, "Images"},
        };
        for (const TCase& c : cases) {
            TProfileChooser chooser(ui.App(), "http://example.net/");
            QCOMPARE(chooser.windowTitle(), QString("Auto-Pellix"));
            QCOMPARE(chooser.lblURL->text(), QString("http://example.net/"));
            QVERIFY(chooser.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
            QStringList captions;
            for (QPushButton* button : chooser.findChildren<QPushButton*>())
                captions << button->text();
            QCOMPARE(captions, (QStringList{"Cancel", "Use Pellix Wizard...", "Default", "Images"}));
            chooser.show();
            chooser.Button(c.button)->click();
            QCOMPARE(chooser.result(), c.result);
            QCOMPARE(chooser.ProfileName(), c.profile);
        }
    }
};

QTEST_MAIN(TProfileChooserTest)
#include "profile_chooser_test.moc"
