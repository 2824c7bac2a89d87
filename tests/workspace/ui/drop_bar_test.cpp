// The drop zone: its place and size, rolling down and up, its buttons, and drops handed on.
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QUrl>

#include "workspace/ui/drop_bar.h"

using namespace pellix;

namespace {

// Sends a drag enter, move and drop of data at the window's centre, as the system does.
bool Drop(QWidget* target, QMimeData* data)
{
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::LinkAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(at, Qt::CopyAction | Qt::LinkAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return enter.isAccepted() && drop.isAccepted();
}

} // namespace

class TFormDropBarTest : public QObject {
    Q_OBJECT
private slots:
    void PlacedAtTheTopEdgeAndRolls()
    {
        QMenu popup;
        TFormDropBar zone([](const TDropData&) {}, &popup, QPixmap());
        zone.ShowZone();
        QCOMPARE(zone.windowTitle(), QString("Pellix DropZone"));
        QVERIFY(zone.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(zone.windowFlags().testFlag(Qt::FramelessWindowHint));
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(zone.x(), screen.width() - 170 - 60);
        QCOMPARE(zone.y(), screen.y());
        QCOMPARE(zone.size(), QSize(170, 2));
        QCOMPARE(zone.imgZone->toolTip(), QString(kDropBarHint));

        zone.RollDown();
        QTRY_VERIFY(zone.RolledDown() && !zone.Rolling());
        QCOMPARE(zone.height(), 210);
        zone.RollUp();
        QTRY_VERIFY(!zone.Rolling());
        QCOMPARE(zone.height(), 2);

        // A drag touching the strip rolls it down.
        QMimeData data;
        data.setText("hello");
        QDragEnterEvent enter(QPoint(80, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&zone, &enter);
        QVERIFY(zone.Rolling());
        QTRY_VERIFY(zone.RolledDown());
    }

    void ButtonsAskTheMainWindow()
    {
        QMenu popup;
        TFormDropBar zone([](const TDropData&) {}, &popup, QPixmap());
        QSignalSpy exits(&zone, &TFormDropBar::ExitRequested);
        QSignalSpy restores(&zone, &TFormDropBar::RestoreRequested);
        QCOMPARE(zone.btnExit->toolTip(), QString("Exit"));
        QCOMPARE(zone.btnRestore->toolTip(), QString("Restore"));
        zone.btnExit->click();
        zone.btnRestore->click();
        QCOMPARE(exits.count(), 1);
        QCOMPARE(restores.count(), 1);
    }

    void DropsReachTheHandler()
    {
        std::vector<TDropData> drops;
        QMenu popup;
        TFormDropBar zone([&](const TDropData& data) { drops.push_back(data); }, &popup, QPixmap());
        zone.ShowZone();

        QMimeData link; // a link from a browser: its address as a uri-list and as text
        link.setUrls({QUrl("http://example.com/a")});
        link.setText("http://example.com/a");
        QVERIFY(Drop(&zone, &link));
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile("/tmp/a b.zip"), QUrl::fromLocalFile("/tmp/c.zip")});
        QVERIFY(Drop(&zone, &files));
        QMimeData nothing;
        nothing.setData("application/x-other", "x");
        QVERIFY(!Drop(&zone, &nothing));

        QTRY_COMPARE(drops.size(), std::size_t(2));
        QCOMPARE(drops[0].otherURIs, std::vector<std::string>{"http://example.com/a"});
        QCOMPARE(drops[0].text, std::string("http://example.com/a"));
        QCOMPARE(drops[1].localFiles, (std::vector<std::string>{"/tmp/a b.zip", "/tmp/c.zip"}));
        QCOMPARE(DecideDrop(drops[1]).kind, TDropKind::ZipWizard);
    }
};

QTEST_MAIN(TFormDropBarTest)
#include "drop_bar_test.moc"
