// Moving files to the trash: into the user's trash under $XDG_DATA_HOME, made when missing;
// when it cannot be made nothing lands in the current folder, and the file is removed or kept.
#include <QDir>
#include <QFile>
#include <QTest>

#include <filesystem>

#include "tests/support/temp_folder.h"
#include "workspace/ui/trash.h"

using namespace pellix;
namespace fs = std::filesystem;

namespace {

// The user's home, data folder and current folder inside the test's folder, for one test.
struct TTrashHome {
    explicit TTrashHome(const fs::path& data)
        : home(qgetenv("HOME")), dataHome(qgetenv("XDG_DATA_HOME")), current(QDir::currentPath())
    {
        fs::create_directories(folder.Path() / "home");
        fs::create_directories(folder.Path() / "cwd");
        qputenv("HOME", QByteArray::fromStdString((folder.Path() / "home").string()));
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data.empty() ? (folder.Path() / "data").string()
                                                                         : (folder.Path() / data).string()));
        QDir::setCurrent(QString::fromStdString((folder.Path() / "cwd").string()));
    }
    ~TTrashHome()
    {
        QDir::setCurrent(current);
        qputenv("HOME", home);
        qputenv("XDG_DATA_HOME", dataHome);
    }
    QString File(const char* name)
    {
        const fs::path file = folder.Path() / "home" / "Profiles" / name;
        test::WriteText(file, "[Profile]\n");
        return QString::fromStdString(file.string());
    }
    bool CurrentFolderEmpty() const { return fs::is_empty(folder.Path() / "cwd"); }

    test::TTempFolder folder;
    QByteArray home;
    QByteArray dataHome;
    QString current;
};

} // namespace

class TTrashTest : public QObject {
    Q_OBJECT
private slots:
    void GoesToTheUserTrashMadeWhenMissing()
    {
        TTrashHome h({});
        const QString file = h.File("Images Only.pxp");
        QVERIFY(!fs::exists(h.folder.Path() / "data")); // no trash folder yet
        const TTrashResult trashed = MoveToTrash(file, false);
        QCOMPARE(trashed.outcome, TTrashOutcome::Trashed);
        QVERIFY(!QFile::exists(file));
        const fs::path trash = h.folder.Path() / "data" / "Trash";
        QCOMPARE(fs::path(trashed.where.toStdString()).parent_path(), trash / "files");
        QVERIFY(fs::exists(trashed.where.toStdString()));
        QVERIFY(fs::exists(trash / "info" / (fs::path(trashed.where.toStdString()).filename().string() + ".trashinfo")));
        QVERIFY(h.CurrentFolderEmpty());
    }

    void WithoutATrashNothingLandsInTheCurrentFolder_data()
    {
        QTest::addColumn<bool>("removeInstead");
        QTest::newRow("removed instead") << true;
        QTest::newRow("kept") << false;
    }
    void WithoutATrashNothingLandsInTheCurrentFolder()
    {
        QFETCH(bool, removeInstead);
        // The data folder lies below a plain file: no trash can be made there.
        TTrashHome h("blocked/data");
        test::WriteText(h.folder.Path() / "blocked", "not a folder");
        const QString file = h.File("Images Only.pxp");
        const TTrashResult result = MoveToTrash(file, removeInstead);
        QCOMPARE(result.outcome, removeInstead ? TTrashOutcome::Removed : TTrashOutcome::Failed);
        QCOMPARE(QFile::exists(file), !removeInstead);
        QVERIFY(h.CurrentFolderEmpty());
    }
};

QTEST_MAIN(TTrashTest)
#include "trash_test.moc"
