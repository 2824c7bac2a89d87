#include "workspace/ui/unzip_dialog.h"

#include <QCheckBox>
#include <QDir>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "workspace/app_settings.h"
#include "workspace/unzip_rules.h"

namespace pellix {

namespace {

template <class W>
W* Named(W* widget, const char* object, const QString& accessible)
{
    widget->setObjectName(object);
    widget->setAccessibleName(accessible);
    return widget;
}

} // namespace

TFormExtract::TFormExtract(TPXApp& app, bool allFiles, QWidget* parent) : QDialog(parent), m_app(app)
{
    setObjectName("FormExtract");
    setWindowTitle(kUnzipCaption);
    const TUnzipDefaults defaults = ReadUnzipDefaults(app, allFiles);

    m_folders = new QFileSystemModel(this);
    m_folders->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    m_folders->setRootPath("/");
    tvFolders = Named(new QTreeView(this), "tvFolders", "Folders");
    tvFolders->setModel(m_folders);
    tvFolders->setRootIndex(m_folders->index("/"));
    for (int column = 1; column < m_folders->columnCount(); ++column)
        tvFolders->hideColumn(column);
    tvFolders->setHeaderHidden(true);
    tvFolders->setMinimumSize(260, 280);

    auto* toLabel = new QLabel("Unzip To:", this);
    edUnzipTo = Named(new QLineEdit(this), "edUnzipTo", "Unzip To:");
    toLabel->setBuddy(edUnzipTo);

    auto* filesBox = new QGroupBox("Files:", this);
    rbAllFiles = Named(new QRadioButton("All Files", filesBox), "rbAllFiles", "All Files");
    rbSelectedFiles = Named(new QRadioButton("Selected Files", filesBox), "rbSelectedFiles", "Selected Files");
    auto* filesLayout = new QVBoxLayout(filesBox);
    filesLayout->addWidget(rbAllFiles);
    filesLayout->addWidget(rbSelectedFiles);

    auto* optionsBox = new QGroupBox("Options:", this);
    cbUsePaths = Named(new QCheckBox("Use path names", optionsBox), "cbUsePaths", "Use path names");
    cbOverwrite = Named(new QCheckBox("Overwrite existing files", optionsBox), "cbOverwrite", "Overwrite existing files");
    auto* optionsLayout = new QVBoxLayout(optionsBox);
    optionsLayout->addWidget(cbUsePaths);
    optionsLayout->addWidget(cbOverwrite);

    btnUnzip = Named(new QPushButton("&Unzip", this), "btnUnzip", "Unzip");
    btnCancel = Named(new QPushButton("&Cancel", this), "btnCancel", "Cancel");
    btnUnzip->setDefault(true);

    auto* side = new QVBoxLayout;
    side->addWidget(toLabel);
    side->addWidget(edUnzipTo);
    side->addWidget(filesBox);
    side->addWidget(optionsBox);
    side->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnUnzip);
    buttons->addWidget(btnCancel);
    side->addLayout(buttons);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(tvFolders, 1);
    layout->addLayout(side);
    resize(620, 360);

    connect(btnUnzip, &QPushButton::clicked, this, &TFormExtract::btnUnzipClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(tvFolders, &QTreeView::clicked, this, &TFormExtract::tvFoldersClicked);
    connect(edUnzipTo, &QLineEdit::textChanged, this, &TFormExtract::edUnzipToChanged);

    (defaults.allFiles ? rbAllFiles : rbSelectedFiles)->setChecked(true);
    cbUsePaths->setChecked(defaults.usePaths);
    cbOverwrite->setChecked(defaults.overwrite);
    edUnzipTo->setText(QString::fromStdString(defaults.folder));
    edUnzipToChanged();
    MoveTreeTo(edUnzipTo->text());
    edUnzipTo->setFocus();
    edUnzipTo->selectAll();
}

TFormExtract::~TFormExtract() = default;

void TFormExtract::MoveTreeTo(const QString& folder)
{
    if (folder.isEmpty() || !QDir(folder).exists())
        return;
    const QModelIndex index = m_folders->index(QDir(folder).absolutePath());
    if (!index.isValid())
        return;
    tvFolders->setCurrentIndex(index);
    tvFolders->scrollTo(index);
}

void TFormExtract::tvFoldersClicked()
{
    const QModelIndex index = tvFolders->currentIndex();
    if (index.isValid())
        edUnzipTo->setText(m_folders->filePath(index));
}

void TFormExtract::edUnzipToChanged() { btnUnzip->setEnabled(CanUnzip(edUnzipTo->text().toStdString())); }

void TFormExtract::btnUnzipClick()
{
    QString text = edUnzipTo->text().trimmed();
    if (!CanUnzip(text.toStdString()))
        return;
    if (text == "~" || text.startsWith("~/"))
        text = QDir::homePath() + text.mid(1);
    const std::string folder = QDir::cleanPath(QDir(text).absolutePath()).toStdString();
    TUnzipChoice choice;
    choice.folder = folder;
    choice.allFiles = rbAllFiles->isChecked();
    choice.usePaths = cbUsePaths->isChecked();
    choice.overwrite = cbOverwrite->isChecked();
    StoreUnzipChoice(m_app, choice);
    m_choice = choice;
    accept();
}

std::optional<TUnzipChoice> TUnzipDialog::Run(QWidget* parent, TPXApp& app, bool allFiles)
{
    TFormExtract dialog(app, allFiles, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Choice();
}

} // namespace pellix
