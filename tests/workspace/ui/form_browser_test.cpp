// The internal browser offline, on a real display: a small site downloaded into a Zip file by
// pellix-cli, a page of it opened in TFormBrowser straight from the Zip. Its images load, a click
// on a local link leads to the next page of the Zip, and the site's server is asked nothing more.
// Exit 77 (skipped) when the program is built without the browser or there is no display.
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QImage>
#include <QProcess>
#include <QTest>

#include <cstdio>
#include <filesystem>

#ifdef PELLIX_HAVE_WEBENGINE
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <QTabWidget>
#include <QTreeView>

#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"
#include "tests/support/test_http_server.h"
#include "workspace/app_settings.h"
#include "workspace/offline_address.h"
#include "workspace/session.h"
#include "workspace/settings_store.h"
#include "workspace/ui/browser_engine.h"
#include "workspace/ui/form_browser.h"
#include "workspace/ui/form_pellix.h"
#include "workspace/ui/qt_owner_thread.h"
#include "workspace/ui/zip_manager_view.h"
#include "workspace/ui/zip_page_model.h"
#include "workspace/ui/zip_scheme_handler.h"

#ifndef PELLIX_CLI_PATH
#error "PELLIX_CLI_PATH must name the built pellix-cli"
#endif

using namespace pellix;
namespace fs = std::filesystem;

namespace {

constexpr int kWaitMs = 20000;

QByteArray Png(int width, int height, Qt::GlobalColor colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The page's answer to a script, waited for with a deadline.
QVariant Evaluate(QWebEnginePage* page, const QString& script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, kWaitMs))
        return QString("no answer from the page");
    return result;
}

// The real widths of the page's images once all have loaded (0 for one that failed), or
// "loading" until then.
QString ImageWidths(QWebEnginePage* page)
{
    const QString script =
        "(() => { const images = Array.from(document.images);"
        " return images.every(i => i.complete) ? images.map(i => i.naturalWidth).join(',') : 'loading'; })()";
    QString widths;
    if (!QTest::qWaitFor([&] { return (widths = Evaluate(page, script).toString()) != "loading"; }, kWaitMs))
        return "timed out";
    return widths;
}

// A loopback port that refuses connections: bound, then closed.
int ClosedPort()
{
    int port = 0;
    {
        test::TTestHttpServer server;
        port = server.Port();
    }
    return port;
}

} // namespace

class TFormBrowserTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_server.Route("/").Header("Content-Type", "text/html").Body(
            "<html><head><title>Offline Start</title></head><body>"
            "<p style='margin-top:40px'><a id='next' href='sub/page2.html' style='font-size:40px'>the second page</a></p>"
            "<img src='img/logo.png'> <img src='img/wide.png'></body></html>");
        m_server.Route("/sub/page2.html").Header("Content-Type", "text/html").Body(
            "<html><head><title>Second Page</title></head><body><a href='../index.html'>home</a>"
            "<img src='../img/logo.png'></body></html>");
        m_server.Route("/img/logo.png").Header("Content-Type", "image/png").Body(Png(120, 60, Qt::darkBlue).toStdString());
        m_server.Route("/img/wide.png").Header("Content-Type", "image/png").Body(Png(300, 40, Qt::darkRed).toStdString());

        m_zip = m_folder.Path() / "Site.zip";
        fs::create_directories(m_folder.Path() / "tmp");
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", QString::fromStdString((m_folder.Path() / "tmp").string()));
        cli.setProcessEnvironment(env);
        cli.start(PELLIX_CLI_PATH, {"--home", QString::fromStdString((m_folder.Path() / "home").string()), "--zip",
                                    QString::fromStdString(m_zip.string()), "--quiet",
                                    QString::fromStdString(m_server.Url("/"))});
        QVERIFY(cli.waitForFinished(60000));
        QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
        QVERIFY(fs::exists(m_zip));
        m_host = "127.0.0.1_" + std::to_string(m_server.Port());
        m_served = m_server.Requests().size();

        m_profile = new QWebEngineProfile(this);
        m_profile->setHttpCacheType(QWebEngineProfile::NoCache);
        m_handler = new TZipSchemeHandler(m_profile);
        m_profile->installUrlSchemeHandler(kZipScheme, m_handler);
    }

    void ImagesLoadAndALocalLinkLeadsToTheNextPage()
    {
        QStringList status;
        TFormBrowser browser(m_profile, [&](const QString& text) { status << text; });
        browser.resize(900, 600);
        browser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&browser));
        int loaded = 0;
        bool lastOk = false;
        connect(&browser, &TFormBrowser::PageLoaded, this, [&](bool ok) {
            ++loaded;
            lastOk = ok;
        });

        const QString start =
            QString::fromStdString(m_handler->Addresses().AddressOfEntry(m_zip.string(), m_host + "/index.htm"));
        browser.Navigate(start);
        QVERIFY(QTest::qWaitFor([&] { return loaded == 1; }, kWaitMs));
        QVERIFY(lastOk);
        QWebEngineView* view = browser.View();
        QCOMPARE(view->title(), QString("Offline Start"));
        QCOMPARE(ImageWidths(view->page()), QString("120,300"));
        // The page opens, its banner frame navigates, and the end of the page's load says so last.
        QVERIFY2(status.indexOf("Opening Page...") >= 0 && status.indexOf("Navigating Frame...") >
                                                             status.indexOf("Opening Page..."),
                 qPrintable(status.join(" | ")));
        QCOMPARE(status.last(), QString("Done."));
        // The banner's frame comes from the Zip as well.
        QVERIFY(QTest::qWaitFor(
            [&] {
                return Evaluate(view->page(), "(() => { const f = document.querySelector('iframe');"
                                              " return f && f.contentDocument ? f.contentDocument.title : 'none'; })()")
                           .toString() == "Saved with Pellix";
            },
            kWaitMs));

        // A click where the link is drawn, as the user clicks it.
        const QVariantList where = Evaluate(view->page(),
                                            "(() => { const r = document.getElementById('next')"
                                            ".getBoundingClientRect(); return [r.left + r.width / 2,"
                                            " r.top + r.height / 2]; })()")
                                       .toList();
        QCOMPARE(where.size(), 2);
        QWidget* surface = view->focusProxy() ? view->focusProxy() : view;
        const QPoint point(qRound(where[0].toDouble()), qRound(where[1].toDouble()));
        QTest::mouseMove(surface, point);
        QTest::mouseClick(surface, Qt::LeftButton, {}, point);
        QVERIFY(QTest::qWaitFor([&] { return loaded == 2; }, kWaitMs));
        QVERIFY(lastOk);
        QCOMPARE(view->title(), QString("Second Page"));
        QVERIFY2(view->url().toString().endsWith("/" + QString::fromStdString(m_host) + "/sub/page2.html"),
                 qPrintable(view->url().toString()));
        QCOMPARE(view->url().scheme(), QString(kZipScheme));
        QCOMPARE(ImageWidths(view->page()), QString("120"));
        // Both pages went into the address list, and back leads to the first.
        QCOMPARE(browser.AddressBox()->count(), 2);
        QVERIFY(browser.findChild<QWidget*>("btnBrowserBack")->isEnabled());

        // Everything came out of the Zip.
        QCOMPARE(m_server.Requests().size(), m_served);
    }

    // In the main window the Browse view follows the left pane: the downloads folder while
    // nothing is chosen, then the page selected in the Pages tab or the file selected in the zip
    // tree; selecting the Zip itself keeps the page being read.
    void TheBrowseViewShowsTheLeftPanesSelection()
    {
        test::TTempFolder home;
        TPXApp app(test::UserHomeAppPaths(home.Path()));
        app.Store().WriteSetting(kFileTypesKey, "HTML", ".htm;.html;");
        TQtOwnerThread owner;
        auto session = std::make_unique<TSession>(app, owner);
        auto window = std::make_unique<TFormPellix>(*session);
        QStringList messages;
        window->SetMessageSink([&](TRunnerMessageKind, const QString& text) { messages << text; });
        window->resize(1000, 700);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));

        window->SwitchView(TView::Browse);
        TFormBrowser* browser = window->Browser();
        QVERIFY(browser);
        const auto shows = [&](const QString& ending) {
            return QTest::qWaitFor([&] { return browser->View() && browser->View()->url().toString().endsWith(ending); },
                                   kWaitMs);
        };
        const QString downloads = QString::fromStdString(TOfflineAddress::FileAddress(app.DownloadsFolder()));
        QVERIFY2(shows(downloads), qPrintable(browser->View()->url().toString()));

        window->OpenZipFile(QString::fromStdString(m_zip.string()));
        TZipManagerView* zips = window->ZipView();
        QVERIFY(QTest::qWaitFor([&] { return zips->PageModel().rowCount() > 0; }, kWaitMs));
        window->SwitchView(TView::Browse);
        auto* pane = window->findChild<QTabWidget*>("leftPane");
        auto* pages = window->findChild<QTreeView*>("tvPages");
        pane->setCurrentIndex(1);
        const auto rowOf = [&](const std::string& entry) {
            const auto& all = zips->PageModel().Pages();
            for (std::size_t i = 0; i < all.size(); ++i)
                if (all[i].entry == entry)
                    return zips->PageModel().index(static_cast<int>(i), 0);
            return QModelIndex();
        };
        pages->setCurrentIndex(rowOf(m_host + "/sub/page2.html"));
        QVERIFY2(shows("/sub/page2.html"), qPrintable(browser->View()->url().toString()));
        pages->setCurrentIndex(rowOf(m_host + "/index.htm"));
        QVERIFY(shows("/index.htm"));

        pane->setCurrentIndex(0);
        QVERIFY(zips->SelectNode(m_zip.string()));
        // A navigation would have put its address into the box at once.
        QVERIFY(browser->AddressBox()->currentText().endsWith("/index.htm"));
        QVERIFY(zips->SelectNode(m_zip.string(), m_host + "/img/logo.png"));
        QVERIFY(shows("/img/logo.png"));
        QCOMPARE(messages, QStringList());
        QCOMPARE(m_server.Requests().size(), m_served);

        window.reset();
        owner.RunElsewhere([&] { session.reset(); });
        owner.Stop();
    }

    // A home page that cannot be reached leaves the program's own start text, not an error page;
    // a page that loads stays as it is.
    void AnUnreachableHomePageShowsTheStartText()
    {
        TFormBrowseHome home(m_profile, [](const QString&) {});
        home.resize(600, 400);
        home.show();
        const QString closed = "http://127.0.0.1:" + QString::number(ClosedPort()) + "/";
        home.Navigate(closed);
        QVERIFY(QTest::qWaitFor([&] { return Evaluate(home.View()->page(), "document.title").toString() == "Pellix Home"; },
                                kWaitMs));
        const QString text = Evaluate(home.View()->page(), "document.body.innerText").toString();
        QVERIFY2(text.contains("press Go") && text.contains(closed), qPrintable(text));

        home.Navigate(QString::fromStdString(m_server.Url("/")));
        QVERIFY(QTest::qWaitFor([&] { return Evaluate(home.View()->page(), "document.title").toString() == "Offline Start"; },
                                kWaitMs));
        m_served = m_server.Requests().size(); // the other cases count the site's requests from here
    }

    void cleanupTestCase()
    {
        delete m_profile;
        m_profile = nullptr;
    }

private:
    test::TTempFolder m_folder;
    test::TTestHttpServer m_server;
    fs::path m_zip;
    std::string m_host;
    std::size_t m_served = 0;
    QWebEngineProfile* m_profile = nullptr;
    TZipSchemeHandler* m_handler = nullptr;
};

int main(int argc, char** argv)
{
    PrepareBrowserEngine();
    QApplication app(argc, argv);
    if (!BrowserControlAvailable()) {
        std::printf("SKIP: the internal browser needs a display (platform %s)\n",
                    qPrintable(QGuiApplication::platformName()));
        return 77;
    }
    TFormBrowserTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "form_browser_test.moc"

#else

int main()
{
    std::printf("SKIP: built without the internal browser (Qt WebEngine)\n");
    return 77;
}

#endif
