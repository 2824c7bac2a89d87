#include "tasks/ui/options_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <climits>

#include "workspace/app_settings.h"

namespace pellix {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

template <typename T> T* Named(T* widget, const char* name, const QString& accessible)
{
    widget->setObjectName(name);
    widget->setAccessibleName(accessible);
    return widget;
}

QLineEdit* Edit(QWidget* parent, const char* name, const QString& accessible)
{
    return Named(new QLineEdit(parent), name, accessible);
}

QLabel* Note(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

} // namespace

TdlgOptions::TdlgOptions(TPXApp& app, QWidget* parent) : QDialog(parent), m_app(app)
{
    setObjectName("dlgOptions");
    setWindowTitle("Pellix Options");
    pages = new QTabWidget(this);
    pages->setObjectName("pages");

    // "General".
    auto* general = new QWidget(pages);
    auto* generalLayout = new QVBoxLayout(general);
    cbZipLast = Named(new QCheckBox("Zip files only after download has completed", general), "cbZipLast",
                      "Zip files only after download has completed");
    cbNoAds = Named(new QCheckBox("Turn off banner ad insertion", general), "cbNoAds", "Turn off banner ad insertion");
    cbZipPropertiesFirst = Named(new QCheckBox("Display Task Screen at startup", general), "cbZipPropertiesFirst",
                                 "Display Task Screen at startup");
    cbBeepOnCompletion = Named(new QCheckBox("Beep on task completion", general), "cbBeepOnCompletion",
                               "Beep on task completion");
    for (QCheckBox* box : {cbZipLast, cbNoAds, cbZipPropertiesFirst, cbBeepOnCompletion})
        generalLayout->addWidget(box);
    auto* histories = new QGridLayout;
    const auto history = [&](int row, const char* name, const QString& caption, QPushButton*& clear, const char* clearName) {
        auto* spin = Named(new QSpinBox(general), name, caption);
        spin->setRange(0, 255);
        histories->addWidget(new QLabel(caption, general), row, 0);
        histories->addWidget(spin, row, 1);
        clear = Named(new QPushButton("Clear", general), clearName, "Clear");
        histories->addWidget(clear, row, 2);
        return spin;
    };
    edMaxURLHistory = history(0, "edMaxURLHistory", "Max. URL's in recently typed URL's list:", btnClearURLs, "btnClearURLs");
    edMaxFileHistory =
        history(1, "edMaxFileHistory", "Max. files in recently opened files list:", btnClearFiles, "btnClearFiles");
    generalLayout->addLayout(histories);
    auto* temp = new QGroupBox("Temporary Pellix Files ", general);
    auto* tempLayout = new QVBoxLayout(temp);
    tempLayout->addWidget(Note("Specify a location in which to store temporary files:", temp));
    edTempFolder = Edit(temp, "edTempFolder", "Specify a location in which to store temporary files:");
    auto* tempRow = new QHBoxLayout;
    tempRow->addWidget(edTempFolder);
    tempRow->addWidget(FolderButton(edTempFolder));
    tempLayout->addLayout(tempRow);
    tempLayout->addWidget(Note("NOTE: Temporary files are automatically deleted on exit.", temp));
    generalLayout->addWidget(temp);
    generalLayout->addStretch();
    pages->addTab(general, "General");

    // "Zip Folders".
    auto* zip = new QWidget(pages);
    auto* zipLayout = new QVBoxLayout(zip);
    auto* downloads = new QGroupBox("Default Downloads Folder:", zip);
    auto* downloadsLayout = new QVBoxLayout(downloads);
    downloadsLayout->addWidget(Note("Specify the default folder for all Pellixs", downloads));
    edDownloadsFolder = Edit(downloads, "edDownloadsFolder", "Default Downloads Folder:");
    auto* downloadsRow = new QHBoxLayout;
    downloadsRow->addWidget(edDownloadsFolder);
    downloadsRow->addWidget(FolderButton(edDownloadsFolder));
    downloadsLayout->addLayout(downloadsRow);
    zipLayout->addWidget(downloads);
    const auto folderChoice = [&](const QString& caption, const QString& last, QRadioButton*& rbLast, const char* lastName,
                                  QRadioButton*& rbFolder, const char* folderName, QLineEdit*& edit, const char* editName) {
        auto* group = new QGroupBox(caption, zip);
        auto* layout = new QVBoxLayout(group);
        rbLast = Named(new QRadioButton(last, group), lastName, last);
        rbFolder = Named(new QRadioButton("Folder", group), folderName, "Folder");
        auto* buttons = new QButtonGroup(group);
        buttons->addButton(rbLast);
        buttons->addButton(rbFolder);
        edit = Edit(group, editName, caption);
        auto* row = new QHBoxLayout;
        row->addWidget(rbFolder);
        row->addWidget(edit, 1);
        row->addWidget(FolderButton(edit));
        layout->addWidget(rbLast);
        layout->addLayout(row);
        zipLayout->addWidget(group);
    };
    folderChoice("Default Zip Folder:", "Last Zip Folder", rbLastZipFolder, "rbLastZipFolder", rbZipFolder, "rbZipFolder",
                 edZipFolder, "edZipFolder");
    folderChoice("Default Unzip Folder:", "Last Unzip Folder", rbLastUnzipFolder, "rbLastUnzipFolder", rbUnzipFolder,
                 "rbUnzipFolder", edUnzipFolder, "edUnzipFolder");
    zipLayout->addStretch();
    pages->addTab(zip, "Zip Folders");

    // "Connection".
    auto* connection = new QWidget(pages);
    auto* connectionLayout = new QVBoxLayout(connection);
    cbProxy = Named(new QCheckBox("Connect to the Internet using a proxy server", connection), "cbProxy",
                    "Connect to the Internet using a proxy server");
    connectionLayout->addWidget(cbProxy);
    auto* proxyForm = new QFormLayout;
    edAddress = Edit(connection, "edAddress", "Address:");
    edPort = Edit(connection, "edPort", "Port:");
    proxyForm->addRow("Address:", edAddress);
    proxyForm->addRow("Port:", edPort);
    connectionLayout->addLayout(proxyForm);
    connectionLayout->addWidget(Note("Authorization (If proxy server requires a password):", connection));
    auto* authForm = new QFormLayout;
    edProxyUsername = Edit(connection, "edProxyUsername", "Username:");
    edProxyPassword = Edit(connection, "edProxyPassword", "Password:");
    edProxyPassword->setEchoMode(QLineEdit::Password);
    authForm->addRow("Username:", edProxyUsername);
    authForm->addRow("Password:", edProxyPassword);
    connectionLayout->addLayout(authForm);
    auto* agent = new QGroupBox("Agent Identity", connection);
    auto* agentLayout = new QVBoxLayout(agent);
    agentLayout->addWidget(Note("Some websites serve different pages for different browsing agents (Web Browsers) Use "
                                "this option to 'trick' the web server into giving you the page you require.",
                                agent));
    cmbUserAgent = Named(new QComboBox(agent), "cmbUserAgent", "Indentify Pellix as:");
    cmbUserAgent->setEditable(true);
    for (const std::string& choice : TOptionsForm::UserAgentChoices())
        cmbUserAgent->addItem(Q(choice));
    auto* agentForm = new QFormLayout;
    agentForm->addRow("Indentify Pellix as:", cmbUserAgent);
    agentLayout->addLayout(agentForm);
    connectionLayout->addWidget(agent);
    connectionLayout->addStretch();
    pages->addTab(connection, "Connection");

    // "Personal Intranet".
    auto* intranet = new QWidget(pages);
    auto* intranetLayout = new QVBoxLayout(intranet);
    auto* intranetGroup = new QGroupBox("Local Intranet Folder:", intranet);
    auto* intranetGroupLayout = new QVBoxLayout(intranetGroup);
    intranetGroupLayout->addWidget(Note("Specify the default folder to use for your personal Intranet", intranetGroup));
    edIntranetFolder = Edit(intranetGroup, "edIntranetFolder", "Local Intranet Folder:");
    auto* intranetRow = new QHBoxLayout;
    intranetRow->addWidget(edIntranetFolder);
    intranetRow->addWidget(FolderButton(edIntranetFolder));
    intranetGroupLayout->addLayout(intranetRow);
    intranetLayout->addWidget(intranetGroup);
    intranetLayout->addStretch();
    pages->addTab(intranet, "Personal Intranet");

    auto* buttons = new QDialogButtonBox(this);
    btnOK = Named(buttons->addButton("&OK", QDialogButtonBox::AcceptRole), "btnOK", "OK");
    btnOK->setDefault(true);
    btnCancel = Named(buttons->addButton("&Cancel", QDialogButtonBox::RejectRole), "btnCancel", "Cancel");
    connect(btnOK, &QPushButton::clicked, this, &TdlgOptions::bbApplyClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages);
    layout->addWidget(buttons);
    setMinimumSize(460, 420);

    connect(cbProxy, &QCheckBox::toggled, this, &TdlgOptions::cbProxyClick);
    // A folder typed or browsed for picks the choice it belongs to (the downloads and intranet
    // folders have none of their own and change no other choice).
    connect(edZipFolder, &QLineEdit::textChanged, this, [this] {
        if (!m_loading)
            rbZipFolder->setChecked(true);
    });
    connect(edUnzipFolder, &QLineEdit::textChanged, this, [this] {
        if (!m_loading)
            rbUnzipFolder->setChecked(true);
    });
    connect(btnClearURLs, &QPushButton::clicked, this,
            [this] { ClearHistory("Clear all items in your recently typed URL's list?", m_clearURLs); });
    connect(btnClearFiles, &QPushButton::clicked, this,
            [this] { ClearHistory("Clear all items in your recently opened files list?", m_clearFiles); });
    FormCreate();
}

TdlgOptions::~TdlgOptions() = default;

QPushButton* TdlgOptions::FolderButton(QLineEdit* edit)
{
    auto* button = new QPushButton("...", edit->parentWidget());
    button->setObjectName(edit->objectName() + "Browse");
    button->setAccessibleName("Browse for Folder");
    button->setToolTip("Browse for Folder");
    connect(button, &QPushButton::clicked, this, [this, edit] {
        const QString folder = QFileDialog::getExistingDirectory(this, "Browse for Folder", edit->text());
        if (!folder.isEmpty())
            edit->setText(folder.endsWith('/') ? folder : folder + "/");
    });
    return button;
}

void TdlgOptions::FormCreate()
{
    const TOptionsValues values = TOptionsForm::Read(m_app);
    m_loading = true;
    cbZipLast->setChecked(values.zipLast);
    cbNoAds->setChecked(values.noAds);
    cbZipPropertiesFirst->setChecked(values.zipPropertiesFirst);
    cbBeepOnCompletion->setChecked(values.beepOnCompletion);
    edTempFolder->setText(Q(values.tempFolder));
    edDownloadsFolder->setText(Q(values.downloadsFolder));
    edZipFolder->setText(Q(values.zipFolder));
    (values.lastZipFolder ? rbLastZipFolder : rbZipFolder)->setChecked(true);
    edUnzipFolder->setText(Q(values.unzipFolder));
    (values.lastUnzipFolder ? rbLastUnzipFolder : rbUnzipFolder)->setChecked(true);
    cbProxy->setChecked(values.useProxy);
    edAddress->setText(Q(values.proxyAddress));
    edPort->setText(Q(values.proxyPort));
    edProxyUsername->setText(Q(values.proxyUserName));
    edProxyPassword->setText(Q(values.proxyPassword));
    edIntranetFolder->setText(Q(values.intranetFolder));
    m_loading = false;
    cmbUserAgent->setCurrentText(Q(values.userAgent.empty() ? std::string("Pellix") : values.userAgent));
    edMaxURLHistory->setValue(std::stoi(values.maxURLHistory));
    edMaxFileHistory->setValue(std::stoi(values.maxFileHistory));
    cbProxyClick();
}

TOptionsValues TdlgOptions::Values() const
{
    TOptionsValues values;
    values.zipLast = cbZipLast->isChecked();
    values.noAds = cbNoAds->isChecked();
    values.zipPropertiesFirst = cbZipPropertiesFirst->isChecked();
    values.beepOnCompletion = cbBeepOnCompletion->isChecked();
    values.maxURLHistory = S(edMaxURLHistory->text());
    values.maxFileHistory = S(edMaxFileHistory->text());
    values.tempFolder = S(edTempFolder->text());
    values.downloadsFolder = S(edDownloadsFolder->text());
    values.lastZipFolder = rbLastZipFolder->isChecked();
    values.zipFolder = S(edZipFolder->text());
    values.lastUnzipFolder = rbLastUnzipFolder->isChecked();
    values.unzipFolder = S(edUnzipFolder->text());
    values.useProxy = cbProxy->isChecked();
    values.proxyAddress = S(edAddress->text());
    values.proxyPort = S(edPort->text());
    values.proxyUserName = S(edProxyUsername->text());
    values.proxyPassword = S(edProxyPassword->text());
    values.userAgent = S(cmbUserAgent->currentText());
    values.intranetFolder = S(edIntranetFolder->text());
    return values;
}

void TdlgOptions::cbProxyClick()
{
    edAddress->setEnabled(cbProxy->isChecked());
    edPort->setEnabled(cbProxy->isChecked());
}

void TdlgOptions::bbApplyClick()
{
    const TOptionsWriteResult written = TOptionsForm::Write(m_app, Values());
    if (!written.ok) {
        pages->setCurrentIndex(0);
        Ask(QMessageBox::Critical, Q(written.message), QMessageBox::Ok);
        edTempFolder->setFocus();
        return;
    }
    accept();
}

void TdlgOptions::ClearHistory(const QString& question, const std::function<void()>& clear)
{
    if (Ask(QMessageBox::Question, question, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes && clear)
        clear();
}

QMessageBox::StandardButton TdlgOptions::Ask(QMessageBox::Icon icon, const QString& text,
                                             QMessageBox::StandardButtons buttons)
{
    // The dialog's own boxes take the activation for a moment: not a visit to another window.
    const bool wasShowing = m_boxShown;
    m_boxShown = true;
    const QMessageBox::StandardButton answer = ShowMessage(m_messages, this, icon, text, buttons);
    m_boxShown = wasShowing;
    return answer;
}

void TdlgOptions::OfferSystemProxy()
{
    if (m_offering || cbProxy->isChecked())
        return;
    const std::optional<std::string> proxy = TOptionsForm::SystemProxy(m_environment);
    if (!proxy)
        return;
    m_offering = true;
    m_offerDue = false;
    pages->setCurrentIndex(2);
    const bool yes = Ask(QMessageBox::NoIcon, Q(TOptionsForm::ProxyOfferText(*proxy)),
                         QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    m_offering = false;
    if (yes) {
        const TProxyParts parts = TOptionsForm::SplitProxy(*proxy);
        edAddress->setText(Q(parts.address));
        edPort->setText(Q(parts.port));
        cbProxy->setChecked(true);
    }
}

bool TdlgOptions::event(QEvent* event)
{
    // Offered on each activation, but not again for the return from the offer's own box.
    if (event->type() == QEvent::WindowActivate && m_offerDue)
        QMetaObject::invokeMethod(this, [this] { OfferSystemProxy(); }, Qt::QueuedConnection);
    else if (event->type() == QEvent::WindowDeactivate && !m_boxShown)
        m_offerDue = true;
    return QDialog::event(event);
}

} // namespace pellix
