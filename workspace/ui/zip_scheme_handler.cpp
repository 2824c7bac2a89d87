#include "workspace/ui/zip_scheme_handler.h"

#ifdef PELLIX_HAVE_WEBENGINE

#include <QBuffer>
#include <QMimeDatabase>
#include <QPointer>
#include <QWebEngineUrlRequestJob>

namespace pellix {

TZipSchemeHandler::TZipSchemeHandler(QObject* parent) : QWebEngineUrlSchemeHandler(parent)
{
    // A page asks for its images and style sheets at once; a few readers serve them in parallel.
    m_workers.setMaxThreadCount(4);
}

TZipSchemeHandler::~TZipSchemeHandler()
{
    // Workers post their answers to this object: none may outlive it.
    m_workers.waitForDone();
}

void TZipSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job)
{
    const std::optional<TZipEntryRef> ref =
        m_addresses.EntryOfAddress(job->requestUrl().toString(QUrl::FullyEncoded).toStdString());
    if (!ref) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    if (job->requestMethod() != "GET") {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    QPointer<QWebEngineUrlRequestJob> pending(job);
    m_workers.start([this, pending, ref = *ref] {
        TZipEntryRead read = m_source.Read(ref.zipPath, ref.entry);
        QByteArray mime;
        if (read.found)
            mime = QMimeDatabase()
                       .mimeTypeForFile(QString::fromStdString(read.name), QMimeDatabase::MatchExtension)
                       .name()
                       .toLatin1();
        QByteArray data = QByteArray::fromStdString(read.data);
        // The job lives on the UI thread and may be gone (the page was left) by the time we answer.
        QMetaObject::invokeMethod(
            this,
            [pending, found = read.found, mime, data = std::move(data)] {
                if (!pending)
                    return;
                if (!found) {
                    pending->fail(QWebEngineUrlRequestJob::UrlNotFound);
                    return;
                }
                auto* body = new QBuffer(pending.data());
                body->setData(data);
                body->open(QIODevice::ReadOnly);
                pending->reply(mime, body);
            },
            Qt::QueuedConnection);
    });
}

} // namespace pellix

#endif
