#include "workspace/ui/form_browser.h"

#ifdef PELLIX_HAVE_WEBENGINE

#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include "workspace/main_window_rules.h"
#include "workspace/offline_address.h"

namespace pellix {

namespace {

// The page tells when one of its frames starts a navigation of its own.
class TBrowserPage final : public QWebEnginePage {
public:
    TBrowserPage(QWebEngineProfile* profile, std::function<void()> frameNavigates, QObject* parent)
        : QWebEnginePage(profile, parent), m_frameNavigates(std::move(frameNavigates))
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        if (!isMainFrame && m_frameNavigates)
            m_frameNavigates();
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    }

private:
    std::function<void()> m_frameNavigates;
};

// Links that ask for a new window (target="_blank") open in the same view: the program has one
// browser.
class TBrowserControl final : public QWebEngineView {
public:
    TBrowserControl(QWebEngineProfile* profile, QWidget* parent, std::function<void()> frameNavigates = {})
        : QWebEngineView(parent)
    {
        setPage(new TBrowserPage(profile, std::move(frameNavigates), this));
    }

protected:
    QWebEngineView* createWindow(QWebEnginePage::WebWindowType) override { return this; }
};

} // namespace

TFormBrowser::TFormBrowser(QWebEngineProfile* profile, TBrowserStatusSink status, QWidget* parent)
    : QWidget(parent), m_profile(profile), m_status(std::move(status))
{
    setObjectName("FormBrowser");
    setAccessibleName("Browse");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* strip = new QWidget(this);
    strip->setObjectName("pnlBrowserTop");
    strip->setAutoFillBackground(true);
    strip->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(3, 3, 3, 3);
    row->setSpacing(2);
    const auto button = [&](const char* name, const QString& caption, QStyle::StandardPixmap icon) {
        auto* b = new QToolButton(strip);
        b->setObjectName(name);
        b->setIcon(style()->standardIcon(icon));
        b->setToolTip(caption);
        b->setAccessibleName(caption);
        b->setAutoRaise(true);
        row->addWidget(b);
        return b;
    };
    m_back = button("btnBrowserBack", "Back", QStyle::SP_ArrowBack);
    m_forward = button("btnBrowserForward", "Forward", QStyle::SP_ArrowForward);
    m_stop = button("btnBrowserStop", "Stop", QStyle::SP_BrowserStop);
    m_refresh = button("btnBrowserRefresh", "Refresh", QStyle::SP_BrowserReload);
    m_homeButton = button("btnBrowserHome", "Home", QStyle::SP_DirHomeIcon);
    m_back->setShortcut(QKeySequence::Back);
    m_forward->setShortcut(QKeySequence::Forward);
    m_refresh->setShortcut(QKeySequence::Refresh);
    m_address = new QComboBox(strip);
    m_address->setObjectName("cmbBrowserURL");
    m_address->setEditable(true);
    m_address->setInsertPolicy(QComboBox::NoInsert);
    m_address->setAccessibleName("Browser Address");
    m_address->lineEdit()->setAccessibleName("Browser Address");
    m_address->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    row->addWidget(m_address, 1);
    column->addWidget(strip);
    for (QToolButton* b : {m_back, m_forward, m_stop})
        b->setEnabled(false);

    connect(m_back, &QToolButton::clicked, this, [this] { if (m_view) m_view->back(); });
    connect(m_forward, &QToolButton::clicked, this, [this] { if (m_view) m_view->forward(); });
    connect(m_stop, &QToolButton::clicked, this, [this] { if (m_view) m_view->stop(); });
    connect(m_refresh, &QToolButton::clicked, this, [this] { if (m_view) m_view->reload(); });
    connect(m_homeButton, &QToolButton::clicked, this, [this] {
        if (!m_home.isEmpty())
            Navigate(m_home);
    });
    connect(m_address->lineEdit(), &QLineEdit::returnPressed, this, &TFormBrowser::cmbBrowserURLEnter);
    // Picking an address of the list opens it, as Enter does.
    connect(m_address, &QComboBox::activated, this, [this] { cmbBrowserURLEnter(); });
}

void TFormBrowser::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    CreateControl();
}

bool TFormBrowser::HasPage() const { return m_view && !m_view->url().isEmpty(); }

void TFormBrowser::CreateControl()
{
    if (m_view)
        return;
    // The control reports no end for a frame's own navigation: its status is shown while the page
    // loads, whose end says "Done." after every frame.
    m_view = new TBrowserControl(m_profile, this, [this] {
        if (m_loading)
            m_status("Navigating Frame...");
    });
    m_view->setObjectName("wbBrowser");
    m_view->setAccessibleName("Page");
    static_cast<QVBoxLayout*>(layout())->addWidget(m_view, 1);
    connect(m_view, &QWebEngineView::loadStarted, this, [this] {
        m_loading = true;
        m_stop->setEnabled(true);
        m_status("Opening Page...");
    });
    connect(m_view, &QWebEngineView::urlChanged, this, [this](const QUrl& url) {
        if (!m_address->lineEdit()->hasFocus() || m_address->currentText().isEmpty())
            m_address->setEditText(url.toString());
        UpdateHistoryButtons();
    });
    connect(m_view, &QWebEngineView::loadFinished, this, [this](bool ok) {
        m_loading = false;
        m_stop->setEnabled(false);
        m_status("Done.");
        const QString address = m_view->url().toString();
        if (!address.isEmpty() && AddToAddressList(m_addresses, address.toStdString()))
            m_address->insertItem(0, address);
        m_address->setEditText(address);
        UpdateHistoryButtons();
        emit PageLoaded(ok);
    });
    // The status text of the control: the address under the pointer.
    connect(m_view->page(), &QWebEnginePage::linkHovered, this, [this](const QString& url) { m_status(url); });
}

void TFormBrowser::UpdateHistoryButtons()
{
    m_back->setEnabled(m_view && m_view->history()->canGoBack());
    m_forward->setEnabled(m_view && m_view->history()->canGoForward());
}

void TFormBrowser::Navigate(const QString& address)
{
    CreateControl();
    m_stop->setEnabled(true);
    m_address->setEditText(address);
    m_status("Opening Page...");
    m_view->setUrl(QUrl(address, QUrl::TolerantMode));
}

void TFormBrowser::cmbBrowserURLEnter()
{
    const std::string address = TOfflineAddress::AddressOfTyped(m_address->currentText().toStdString());
    if (!address.empty())
        Navigate(QString::fromStdString(address));
}

namespace {

// The Home view's own page when the home page cannot be reached.
QString HomeFallbackPage(const QString& address)
{
    return QString("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Pellix Home</title></head>"
                   "<body style=\"font-family: sans-serif; margin: 2em; color: #1a1a1a; background: #f4f6fa\">"
                   "<h2 style=\"color: #0b3a6e\">Pellix Home</h2><p>%1</p>"
                   "<p style=\"color: #555\">The home page %2 could not be reached.</p></body></html>")
        .arg(QString(kHomeHint).toHtmlEscaped(), address.toHtmlEscaped());
}

} // namespace

TFormBrowseHome::TFormBrowseHome(QWebEngineProfile* profile, TBrowserStatusSink status, QWidget* parent)
    : QWidget(parent), m_profile(profile), m_status(std::move(status))
{
    setObjectName("FormBrowseHome");
    setAccessibleName("Pellix Home");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
}

void TFormBrowseHome::Navigate(const QString& address)
{
    if (!m_view) {
        m_view = new TBrowserControl(m_profile, this);
        m_view->setObjectName("wbHome");
        m_view->setAccessibleName("Home Page");
        // Loading the home page must not take the focus from the address box.
        m_view->settings()->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
        layout()->addWidget(m_view);
        connect(m_view->page(), &QWebEnginePage::linkHovered, this, [this](const QString& url) { m_status(url); });
        // An unreachable home page (offline, or no such site) leaves the view with the program's
        // own start text instead of the browser's error page.
        connect(m_view, &QWebEngineView::loadFinished, this, [this](bool ok) {
            if (!ok && m_view->url() == QUrl(m_address, QUrl::TolerantMode))
                m_view->setHtml(HomeFallbackPage(m_address));
        });
    }
    m_address = address;
    m_view->setUrl(QUrl(address, QUrl::TolerantMode));
}

} // namespace pellix

#endif
