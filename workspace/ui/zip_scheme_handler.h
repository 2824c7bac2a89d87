// TZipSchemeHandler: serves the internal browser's requests for Zip entries straight from the
// archive, read on worker threads, so that a page of a large Zip shows without unpacking it.
#pragma once

#ifdef PELLIX_HAVE_WEBENGINE

#include <QThreadPool>
#include <QWebEngineUrlSchemeHandler>

#include "workspace/offline_address.h"
#include "workspace/zip_entry_source.h"

namespace pellix {

class TZipSchemeHandler final : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    explicit TZipSchemeHandler(QObject* parent = nullptr);
    ~TZipSchemeHandler() override;

    // The addresses this handler answers; windows make their addresses here.
    TOfflineAddress& Addresses() { return m_addresses; }

    // UI thread: the job is answered later, from the UI thread again.
    void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
    TOfflineAddress m_addresses;
    TZipEntrySource m_source;
    QThreadPool m_workers;
};

} // namespace pellix

#endif
