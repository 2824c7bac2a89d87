// TFormBrowser: the internal browser of the Browse view: back, forward, stop, refresh and home
// buttons, the address box, and the browser control below, created when first needed.
// TFormBrowseHome: the Home view's bare browser.
#pragma once

#ifdef PELLIX_HAVE_WEBENGINE

#include <QString>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QToolButton;
class QWebEngineProfile;
class QWebEngineView;

namespace pellix {

using TBrowserStatusSink = std::function<void(const QString& text)>;

class TFormBrowser final : public QWidget {
    Q_OBJECT
public:
    TFormBrowser(QWebEngineProfile* profile, TBrowserStatusSink status, QWidget* parent = nullptr);

    // Opens an address (or a file: address); the control is created on first use.
    void Navigate(const QString& address);
    // Where the home button leads.
    void SetHomeAddress(const QString& address) { m_home = address; }
    bool HasPage() const;

    QWebEngineView* View() const { return m_view; }
    QComboBox* AddressBox() const { return m_address; }

signals:
    // A navigation of the page (not of a frame) has completed.
    void PageLoaded(bool ok);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateControl();
    void UpdateHistoryButtons();
    void cmbBrowserURLEnter();

    QWebEngineProfile* m_profile;
    TBrowserStatusSink m_status;
    QString m_home;
    std::vector<std::string> m_addresses;
    QWebEngineView* m_view = nullptr;
    bool m_loading = false;  // between the page's load start and its end
    QComboBox* m_address = nullptr;
    QToolButton* m_back = nullptr;
    QToolButton* m_forward = nullptr;
    QToolButton* m_stop = nullptr;
    QToolButton* m_refresh = nullptr;
    QToolButton* m_homeButton = nullptr;
};

class TFormBrowseHome final : public QWidget {
    Q_OBJECT
public:
    TFormBrowseHome(QWebEngineProfile* profile, TBrowserStatusSink status, QWidget* parent = nullptr);
    void Navigate(const QString& address);
    QWebEngineView* View() const { return m_view; }

private:
    QWebEngineProfile* m_profile;
    TBrowserStatusSink m_status;
    QWebEngineView* m_view = nullptr;
    QString m_address; // the home page asked for
};

} // namespace pellix

#endif
