// TdlgOptions: the preferences dialog "Pellix Options": the settings on four pages, written on OK,
// the histories cleared at once, and the system's proxy offered while none is used.
#pragma once

#include <QDialog>

#include <functional>

#include "tasks/options_form.h"
#include "tasks/ui/message_box.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace pellix {

class TPXApp;

class TdlgOptions final : public QDialog {
    Q_OBJECT
public:
    explicit TdlgOptions(TPXApp& app, QWidget* parent = nullptr);
    ~TdlgOptions() override;

    // Called at once on "Clear" answered Yes (the main window empties its recent lists).
    void SetClearURLHistory(std::function<void()> clear) { m_clearURLs = std::move(clear); }
    void SetClearFileHistory(std::function<void()> clear) { m_clearFiles = std::move(clear); }
    // Tests answer the boxes and give the environment the proxy offer reads.
    void SetMessageHandler(TMessageHandler handler) { m_messages = std::move(handler); }
    void SetEnvironment(TOptionsForm::TEnvironment environment) { m_environment = std::move(environment); }
    // The offer, as on activation.
    void OfferSystemProxy();

    TOptionsValues Values() const;

    QTabWidget* pages = nullptr;
    QCheckBox* cbZipLast = nullptr;
    QCheckBox* cbNoAds = nullptr;
    QCheckBox* cbZipPropertiesFirst = nullptr;
    QCheckBox* cbBeepOnCompletion = nullptr;
    QSpinBox* edMaxURLHistory = nullptr;
    QSpinBox* edMaxFileHistory = nullptr;
    QPushButton* btnClearURLs = nullptr;
    QPushButton* btnClearFiles = nullptr;
    QLineEdit* edTempFolder = nullptr;
    QLineEdit* edDownloadsFolder = nullptr;
    QRadioButton* rbLastZipFolder = nullptr;
    QRadioButton* rbZipFolder = nullptr;
    QLineEdit* edZipFolder = nullptr;
    QRadioButton* rbLastUnzipFolder = nullptr;
    QRadioButton* rbUnzipFolder = nullptr;
    QLineEdit* edUnzipFolder = nullptr;
    QCheckBox* cbProxy = nullptr;
    QLineEdit* edAddress = nullptr;
    QLineEdit* edPort = nullptr;
    QLineEdit* edProxyUsername = nullptr;
    QLineEdit* edProxyPassword = nullptr;
    QComboBox* cmbUserAgent = nullptr;
    QLineEdit* edIntranetFolder = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    bool event(QEvent* event) override;
    void FormCreate();
    void cbProxyClick();
    void bbApplyClick();
    void ClearHistory(const QString& question, const std::function<void()>& clear);
    QPushButton* FolderButton(QLineEdit* edit);
    QMessageBox::StandardButton Ask(QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons);

    TPXApp& m_app;
    bool m_loading = false;
    bool m_offering = false;
    bool m_boxShown = false;
    bool m_offerDue = true; // the dialog went to another window since the last offer
    std::function<void()> m_clearURLs;
    std::function<void()> m_clearFiles;
    TMessageHandler m_messages;
    TOptionsForm::TEnvironment m_environment;
};

} // namespace pellix
