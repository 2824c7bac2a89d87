// The task editor window: its captions, the checks of OK with their boxes, what OK writes from
// each page, profiles and "Custom", default names, Enter, and the account dialog.
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QTimeEdit>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/task.h"
#include "tasks/ui/account_dialog.h"
#include "tasks/ui/schedule_dialog.h"
#include "tasks/ui/task_editor.h"
#include "tests/tasks/ui/ui_session.h"

using namespace pellix;

namespace {

struct TBox {
    QMessageBox::Icon icon;
    QString text;
};

} // namespace

class TTaskEditorTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<test::TUiSession> m_ui;
    std::vector<TBox> m_boxes;
    QMessageBox::StandardButton m_answer = QMessageBox::Yes;

    std::shared_ptr<TPXTask> NewTask()
    {
        auto task = std::make_shared<TPXTask>(&m_ui->App());
        task->SetTaskName("example");
        task->SetTaskFile(m_ui->App().TasksFolder() + "General/example.pxt");
        task->SetURL("http://www.example.net/");
        task->SetDestination(m_ui->App().DownloadsFolder() + "example.zip");
        task->Profile().SetProfileName("Custom");
        return task;
    }

    std::unique_ptr<TTaskEditor> Editor(std::shared_ptr<TPXTask> task,
                                        TTaskEditorCaption caption = TTaskEditorCaption::Create)
    {
        auto editor = std::make_unique<TTaskEditor>(m_ui->Session(), std::move(task), caption);
        editor->SetMessageHandler([this](QWidget*, QMessageBox::Icon icon, const QString& text,
                                         QMessageBox::StandardButtons buttons) {
            m_boxes.push_back({icon, text});
            return buttons.testFlag(QMessageBox::Yes) ? m_answer : QMessageBox::Ok;
        });
        return editor;
    }

    std::shared_ptr<TPXTask> Saved(const std::string& path)
    {
        auto task = std::make_shared<TPXTask>(&m_ui->App());
        task->SetTaskFile(path);
        return task->Load() ? task : nullptr;
    }

    static std::size_t NodeOf(const TTaskEditor& editor, const std::string& text)
    {
        const auto& nodes = editor.FileTypeTree().Nodes();
        for (std::size_t i = 0; i < nodes.size(); ++i)
            if (nodes[i].text == text)
                return i;
        return nodes.size();
    }

private slots:
    void init()
    {
        m_ui = std::make_unique<test::TUiSession>();
        m_boxes.clear();
        m_answer = QMessageBox::Yes;
    }
    void cleanup() { m_ui.reset(); }

    void CaptionsAndPages()
    {
        const std::pair<TTaskEditorCaption, QString> captions[] = {
            {TTaskEditorCaption::Edit, "Edit Task"},
            {TTaskEditorCaption::Add, "Add a Task"},
            {TTaskEditorCaption::Create, "Create New Task"},
        };
        for (const auto& [caption, title] : captions)
            QCOMPARE(Editor(NewTask(), caption)->windowTitle(), title);

        auto editor = Editor(NewTask());
        QCOMPARE(editor->ListView1->count(), 8);
        QCOMPARE(editor->ListView1->item(7)->text(), QString("Schedule"));
        editor->ListView1->setCurrentRow(5);
        QCOMPARE(editor->pages->currentIndex(), 5);
        QVERIFY(!editor->ListView1->item(5)->icon().isNull());
        QVERIFY(editor->ListView1->item(0)->icon().isNull());
        QVERIFY(editor->rbScheduleLater->isChecked());
        QCOMPARE(editor->cmbProfile->itemText(0), QString("Custom"));
    }

    // Every failing check shows its box and keeps the dialog open; they come in the OK order.
    void ValidationBoxesInOrder()
    {
        struct TCase {
            const char* name;
            std::function<void(TTaskEditor&)> set;
            QMessageBox::Icon icon;
            QString text;
        };
        const std::string dl = m_ui->App().DownloadsFolder();
        const TCase cases[] = {
            {"no address",
             [](TTaskEditor& e) {
                 e.cmbURL->setEditText("");
                 e.edTaskName->clear();
             },
             QMessageBox::Critical, kEditURLRequired},
            {"ftp", [](TTaskEditor& e) { e.cmbURL->setEditText("ftp://example.net/"); }, QMessageBox::Critical,
             kEditURLRequired},
            {"no name", [](TTaskEditor& e) { e.edTaskName->clear(); }, QMessageBox::Critical, kEditNameRequired},
            {"bare intranet folder",
             [](TTaskEditor& e) {
                 e.rbIntranet->click();
                 e.edIntranetFolder->setText("Sites");
             },
             QMessageBox::Warning, kEditIntranetRequired},
            {"zip only an extension", [dl](TTaskEditor& e) { e.edFileName->setText(QString::fromStdString(dl) + ".zip"); },
             QMessageBox::Warning, kEditZipRequired},
        };
        for (const TCase& c : cases) {
            m_boxes.clear();
            auto editor = Editor(NewTask(), TTaskEditorCaption::Edit);
            c.set(*editor);
            editor->btnOK->click();
            QVERIFY2(m_boxes.size() == 1, c.name);
            QCOMPARE(m_boxes[0].icon, c.icon);
            QCOMPARE(m_boxes[0].text, c.text);
            QVERIFY2(editor->result() != QDialog::Accepted, c.name);
            QVERIFY(!std::filesystem::exists(m_ui->App().TasksFolder() + "General/example.pxt"));
        }

        // The address is normalised as soon as it passed; the name typed is kept.
        auto editor = Editor(NewTask(), TTaskEditorCaption::Edit);
        editor->cmbURL->setEditText("  example.org ");
        editor->edFileName->setText("nofolder.zip");
        editor->btnOK->click();
        QCOMPARE(editor->cmbURL->currentText(), QString("http://example.org/"));
        QCOMPARE(editor->edTaskName->text(), QString("example"));
    }

    // "Add a Task" asks before replacing a task file of the same name; No keeps the dialog open.
    void AddAsksBeforeReplacing()
    {
        auto existing = NewTask();
        QVERIFY(existing->Save());
        auto task = NewTask();
        task->SetTaskFile(m_ui->Folder() + "mail/example.pxt");
        m_answer = QMessageBox::No;
        auto editor = Editor(task, TTaskEditorCaption::Add);
        editor->btnOK->click();
        QCOMPARE(m_boxes.size(), std::size_t(1));
        QCOMPARE(m_boxes[0].text, QString(kEditReplaceQuestion));
        QVERIFY(editor->result() != QDialog::Accepted);
        m_answer = QMessageBox::Yes;
        editor->btnOK->click();
        QCOMPARE(editor->result(), int(QDialog::Accepted));
        QVERIFY(editor->ReplacedExisting());
        QVERIFY(!editor->MovedCategory());
    }

    // What OK writes, one row per page: the controls are used as a user would, the saved task file
    // is read back.
    void OkWritesEachPage()
    {
        struct TCase {
            const char* page;
            std::function<void(TTaskEditor&)> set;
            std::function<void(const TPXTask&)> check;
        };
        const TCase cases[] = {
            {"Starting address",
             [](TTaskEditor& e) {
                 e.cmbURL->setEditText("https://docs.example.net/a/");
                 e.execDialog = [](QDialog& d) {
                     auto& account = static_cast<TAccountDialog&>(d);
                     account.SetAccount("ann", "pw");
                     return int(QDialog::Accepted);
                 };
                 e.btnUserNamePassword->click();
                 QVERIFY(e.cbUserNamePassword->isChecked());
             },
             [](const TPXTask& t) {
                 QCOMPARE(t.URL(), std::string("https://docs.example.net/a/"));
                 QCOMPARE(t.UserName(), std::string("ann"));
                 QCOMPARE(t.Password(), std::string("pw"));
             }},
            {"Save to",
             [](TTaskEditor& e) {
                 e.rbIntranet->click();
                 QVERIFY(!e.edFileName->isEnabled());
                 QVERIFY(e.edIntranetFolder->isEnabled());
                 e.edIntranetFolder->setText("/srv/sites");
             },
             [](const TPXTask& t) {
                 QVERIFY(t.IntranetMode());
                 QCOMPARE(t.Destination(), std::string("/srv/sites/"));
             }},
            {"Save to, zip without extension",
             [this](TTaskEditor& e) {
                 e.edFileName->setText(QString::fromStdString(m_ui->App().DownloadsFolder() + "mine"));
                 e.cbUseStartPageTitle->click();
             },
             [this](const TPXTask& t) {
                 QVERIFY(!t.IntranetMode());
                 QCOMPARE(t.Destination(), m_ui->App().DownloadsFolder() + "mine.zip");
                 QVERIFY(!t.Profile().UseStartPageTitle());
             }},
            {"Filetypes",
             [](TTaskEditor& e) {
                 e.cbAll->click();
                 QVERIFY(e.tvFileTypes->isEnabled());
                 e.ToggleFileType(NodeOf(e, "Images"));
                 e.ToggleFileType(NodeOf(e, ".htm"));
             },
             [](const TPXTask& t) {
                 QCOMPARE(t.Profile().FileTypes(), (std::vector<std::string>{".htm", ".gif", ".jpg", ".jpeg"}));
             }},
            {"Followed Links",
             [](TTaskEditor& e) {
                 e.rbPagesDir->click();
                 e.rbLevels->click();
                 e.edLevels->setValue(3);
                 e.rbResSite->click();
             },
             [](const TPXTask& t) {
                 QCOMPARE(t.Profile().PageLocation(), 0);
                 QCOMPARE(t.Profile().Depth(), 3);
                 QCOMPARE(t.Profile().ResourceLocation(), 1);
             }},
            {"Followed Links (Adv)",
             [](TTaskEditor& e) {
                 e.rbAPAll->click();
                 QCOMPARE(e.Fields().aggressiveParser, 2);
                 e.cbAggressiveParser->click();
                 QVERIFY(!e.rbAPAll->isEnabled());
             },
             [](const TPXTask& t) { QCOMPARE(t.Profile().AggressiveParser(), 0); }},
            {"URL Filters",
             [](TTaskEditor& e) {
                 e.AddFilter(true, "[PL]", "docs");
                 e.AddFilter(false, "[RL]", "ads,track");
                 e.AddFilter(false, "[AL]", "print");
                 e.lbEx->setCurrentRow(1);
                 QVERIFY(e.btnExRemove->isEnabled());
                 e.btnExRemove->click();
             },
             [](const TPXTask& t) {
                 QCOMPARE(t.Profile().IncludeFilters(), (std::vector<std::string>{"[PL]docs"}));
                 QCOMPARE(t.Profile().ExcludeFilters(), (std::vector<std::string>{"[RL]ads,track"}));
             }},
            {"Link Conversion",
             [](TTaskEditor& e) {
                 e.rbcflNone->click();
                 e.rbculAll->click();
                 QCOMPARE(e.cmbProfile->currentText(), QString("Default"));
             },
             [](const TPXTask& t) {
                 QCOMPARE(t.Profile().ConvertFollowedLinks(), 0);
                 QCOMPARE(t.Profile().ConvertUnfollowedLinks(), 2);
                 QCOMPARE(t.Profile().ProfileName(), std::string("Default"));
             }},
            {"Schedule, Now",
             [](TTaskEditor& e) { e.rbScheduleNow->click(); },
             [](const TPXTask& t) {
                 QCOMPARE(t.Schedule(), std::string("Now"));
                 QCOMPARE(t.Status(), int(kStatusScheduled));
             }},
            {"Schedule, At",
             [](TTaskEditor& e) {
                 e.execDialog = [](QDialog& d) {
                     auto& schedule = static_cast<TScheduleDialog&>(d);
                     schedule.dtAtDate->setDate(QDate(2026, 12, 24));
                     schedule.dtAtTime->setTime(QTime(8, 30, 15));
                     return int(QDialog::Accepted);
                 };
                 e.btnSchedule->click();
                 QVERIFY(e.rbScheduleAt->isChecked());
             },
             [](const TPXTask& t) {
                 QCOMPARE(t.Schedule(), std::string("2026-12-24 08:30"));
                 QCOMPARE(t.Status(), int(kStatusScheduled));
             }},
            {"Schedule, not scheduled",
             [](TTaskEditor&) {},
             [](const TPXTask& t) {
                 QCOMPARE(t.Schedule(), std::string());
                 QCOMPARE(t.Status(), int(kStatusUnscheduled));
             }},
        };
        std::ofstream(m_ui->App().ProfilesFolder() + "Default.pxp") << "[Profile]\nDepth=2\n";
        for (const TCase& c : cases) {
            auto task = NewTask();
            task->Profile().SetProfileName("Default");
            auto editor = Editor(task, TTaskEditorCaption::Edit);
            c.set(*editor);
            editor->btnOK->click();
            QVERIFY2(m_boxes.empty(), c.page);
            QVERIFY2(editor->result() == QDialog::Accepted, c.page);
            auto saved = Saved(task->TaskFile());
            QVERIFY2(saved, c.page);
            c.check(*saved);
            std::filesystem::remove(task->TaskFile());
        }
    }

    // Choosing a profile fills the pages from its file and never switches to "Custom"; the user's
    // next change of a rule does.
    void ProfileChoiceAndCustom()
    {
        std::ofstream(m_ui->App().ProfilesFolder() + "Shallow.pxp")
            << "[Profile]\nDepth=0\nPage Location=0\nFile Types=.htm,.gif\nURL Filters Include=\"[AL]x\"\n";
        auto editor = Editor(NewTask());
        const int shallow = editor->cmbProfile->findText("Shallow");
        QVERIFY(shallow > 0);
        editor->cmbProfile->setCurrentIndex(shallow);
        emit editor->cmbProfile->activated(shallow);
        QCOMPARE(editor->cmbProfile->currentText(), QString("Shallow"));
        QVERIFY(editor->rbPageOnly->isChecked());
        QVERIFY(editor->rbPagesDir->isChecked());
        QVERIFY(!editor->cbAll->isChecked());
        QCOMPARE(editor->lbInc->count(), 1);
        QCOMPARE(editor->tvFileTypes->topLevelItem(1)->checkState(0), Qt::PartiallyChecked);

        // A group's check image: all its extensions follow, and the profile becomes "Custom".
        editor->ToggleFileType(NodeOf(*editor, "Images"));
        QCOMPARE(editor->tvFileTypes->topLevelItem(1)->checkState(0), Qt::Unchecked);
        QCOMPARE(editor->cmbProfile->currentText(), QString("Custom"));
        editor->ToggleFileType(NodeOf(*editor, "Images"));
        QCOMPARE(editor->tvFileTypes->topLevelItem(1)->checkState(0), Qt::Checked);
        QCOMPARE(editor->tvFileTypes->topLevelItem(1)->child(2)->checkState(0), Qt::Checked);

        editor->cmbProfile->setCurrentIndex(shallow);
        emit editor->cmbProfile->activated(shallow);
        editor->rbPagesAnywhere->click();
        QCOMPARE(editor->cmbProfile->currentText(), QString("Custom"));
    }

    // Built-in file types cannot be deleted; another is, after the question.
    void DeletingAFileType()
    {
        auto editor = Editor(NewTask());
        editor->cbAll->click();
        editor->tvFileTypes->setCurrentItem(editor->tvFileTypes->topLevelItem(0));
        QVERIFY(!editor->btnDelete->isEnabled());
        editor->tvFileTypes->setCurrentItem(editor->tvFileTypes->topLevelItem(2)->child(1));
        QVERIFY(editor->btnDelete->isEnabled());
        editor->btnDelete->click();
        QCOMPARE(m_boxes.back().text, QString("Are you sure you want to delete the .gz file type?"));
        QCOMPARE(editor->tvFileTypes->topLevelItem(2)->childCount(), 1);
    }

    // Outside "Edit Task" the names follow the typed address; in it they stay.
    void DefaultNamesFollowTheAddress()
    {
        auto editor = Editor(NewTask(), TTaskEditorCaption::Create);
        editor->cmbURL->lineEdit()->clear();
        QTest::keyClicks(editor->cmbURL->lineEdit(), "http://www.sample.org/");
        QCOMPARE(editor->edTaskName->text(), QString("sample"));
        QCOMPARE(editor->edFileName->text(), QString::fromStdString(m_ui->App().DownloadsFolder() + "sample.zip"));

        auto edit = Editor(NewTask(), TTaskEditorCaption::Edit);
        QTest::keyClicks(edit->cmbURL->lineEdit(), "x");
        QCOMPARE(edit->edTaskName->text(), QString("example"));
    }

    // Enter accepts the editor, from the name box and from the address box.
    void EnterIsOK()
    {
        for (int field = 0; field < 2; ++field) {
            auto task = NewTask();
            auto editor = Editor(task, TTaskEditorCaption::Create);
            editor->show();
            QVERIFY(QTest::qWaitForWindowExposed(editor.get()));
            QWidget* target = field == 0 ? static_cast<QWidget*>(editor->edTaskName) : editor->cmbURL->lineEdit();
            target->setFocus();
            QTest::keyClick(target, Qt::Key_Return);
            QTRY_COMPARE(editor->result(), int(QDialog::Accepted));
            QVERIFY(Saved(task->TaskFile()));
            std::filesystem::remove(task->TaskFile());
        }
    }

    // The account box: checking it opens the account dialog, whose Cancel unchecks it again.
    void AccountBoxAndDialog()
    {
        auto editor = Editor(NewTask());
        int opened = 0;
        editor->execDialog = [&](QDialog&) {
            ++opened;
            return int(QDialog::Rejected);
        };
        editor->cbUserNamePassword->click();
        QCOMPARE(opened, 1);
        QVERIFY(!editor->cbUserNamePassword->isChecked());

        TAccountDialog& account = editor->AccountDialog();
        QCOMPARE(account.windowTitle(), QString("Account/Password"));
        QCOMPARE(account.PasswordEdit()->echoMode(), QLineEdit::Password);
        const std::pair<QString, QString> rows[] = {{"", ""}, {"ann", ""}, {"", "pw"}, {"ann", "pw"}};
        for (const auto& [user, password] : rows) {
            account.UserNameEdit()->clear();
            account.PasswordEdit()->clear();
            QTest::keyClicks(account.UserNameEdit(), user);
            QTest::keyClicks(account.PasswordEdit(), password);
            QCOMPARE(account.OKButton()->isEnabled(), !user.isEmpty() && !password.isEmpty());
        }
    }

    // Another category: the task file moves with its download list.
    void CategoryMove()
    {
        std::filesystem::create_directories(m_ui->App().TasksFolder() + "Work");
        auto task = NewTask();
        QVERIFY(task->Save());
        std::ofstream(task->DefaultDownloadListPath()) << "list";
        auto editor = Editor(task, TTaskEditorCaption::Edit);
        editor->cmbTaskCategory->setCurrentIndex(editor->cmbTaskCategory->findText("Work"));
        editor->btnOK->click();
        QCOMPARE(editor->result(), int(QDialog::Accepted));
        QVERIFY(editor->MovedCategory());
        const std::string work = m_ui->App().TasksFolder() + "Work/";
        QVERIFY(Saved(work + "example.pxt"));
        QVERIFY(std::filesystem::exists(work + "example.dwn"));
        QVERIFY(!std::filesystem::exists(m_ui->App().TasksFolder() + "General/example.pxt"));
    }
};

QTEST_MAIN(TTaskEditorTest)
#include "task_editor_test.moc"
