// TUiSession: an application in a temp folder with a session on the Qt owner thread, for the
// window tests of the task windows.
#pragma once

#include <QCoreApplication>

#include <memory>

#include "workspace/app_settings.h"
#include "workspace/session.h"
#include "workspace/settings_store.h"
#include "workspace/ui/qt_owner_thread.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"

namespace pellix::test {

class TUiSession final {
public:
    TUiSession()
    {
        m_app = std::make_unique<TPXApp>(test::TestAppPaths(m_folder.Path()));
        m_app->SetDownloadsFolder(Folder() + "dl/");
        m_app->Store().WriteSetting(kFileTypesKey, "HTML", ".htm;.html;");
        m_app->Store().WriteSetting(kFileTypesKey, "Images", ".gif;.jpg;.jpeg;");
        m_app->Store().WriteSetting(kFileTypesKey, "Archives", ".zip;.gz;");
        m_session = std::make_unique<TSession>(*m_app, m_owner);
    }
    // The session goes off the owner thread while this one keeps serving its calls.
    ~TUiSession()
    {
        m_owner.RunElsewhere([&] { m_session.reset(); });
        m_owner.Stop();
    }
    TUiSession(const TUiSession&) = delete;
    TUiSession& operator=(const TUiSession&) = delete;

    TPXApp& App() { return *m_app; }
    TSession& Session() { return *m_session; }
    TQtOwnerThread& Owner() { return m_owner; }
    std::string Folder() const { return m_folder.Text(); }

private:
    TTempFolder m_folder;
    TQtOwnerThread m_owner;
    std::unique_ptr<TPXApp> m_app;
    std::unique_ptr<TSession> m_session;
};

} // namespace pellix::test
