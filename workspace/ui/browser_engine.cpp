#include "workspace/ui/browser_engine.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QtGlobal>

#include <unistd.h>

#ifdef PELLIX_HAVE_WEBENGINE
#include <QWebEngineUrlScheme>
#endif

#include "workspace/offline_address.h"

namespace pellix {

void PrepareBrowserEngine()
{
#ifdef PELLIX_HAVE_WEBENGINE
    QWebEngineUrlScheme scheme(kZipScheme);
    // Host syntax, so that relative links resolve inside one Zip's copy. Local: pages from the
    // web cannot read the user's Zip files. Not secure: links of failed items keep their http
    // address and must still load inside an offline page.
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setFlags(QWebEngineUrlScheme::LocalScheme | QWebEngineUrlScheme::LocalAccessAllowed |
                    QWebEngineUrlScheme::CorsEnabled);
    QWebEngineUrlScheme::registerScheme(scheme);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // Chromium refuses to start its sandboxed renderers as root (containers, CI under Xvfb);
    // an ordinary user keeps the sandbox.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
#endif
}

bool BrowserControlAvailable()
{
#ifdef PELLIX_HAVE_WEBENGINE
    if (qEnvironmentVariableIsSet("PELLIX_NO_BROWSER"))
        return false;
    const QString platform = QGuiApplication::platformName();
    return platform != "offscreen" && platform != "minimal";
#else
    return false;
#endif
}

} // namespace pellix
