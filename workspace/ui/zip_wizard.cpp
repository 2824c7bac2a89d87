#include "workspace/ui/zip_wizard.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStackedWidget>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <filesystem>

#include "workspace/app_settings.h"
#include "workspace/zip_wizard_rules.h"

namespace pellix {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

constexpr const char* kZipFilter = "Zip file (*.ZIP *.zip);;All files (*)";

template <class W>
W* Named(W* widget, const char* object, const QString& accessible)
{
    widget->setObjectName(object);
    widget->setAccessibleName(accessible);
    return widget;
}

} // namespace

TwizFileZip::TwizFileZip(TPXApp& app, const TZipWizardPreset& preset, QWidget* parent)
    : QDialog(parent), m_app(app)
{
    setObjectName("wizFileZip");
    setWindowTitle(Q(ZipWizardCaption(preset.droppedFiles.size())));
    const TZipWizardDefaults defaults = ReadZipWizardDefaults(app, preset.zipPath, S(QDir::currentPath()));
    m_dialogFolder = defaults.dialogFolder;

    pages = Named(new QStackedWidget(this), "pages", "Pages");

    // Page one: the Zip file and the action.
    auto* first = new QWidget(pages);
    auto* intro = new QLabel("This wizard will help you create a zip file containing one or more compressed files.", first);
    intro->setWordWrap(true);
    auto* nameLabel = new QLabel("Zip Filename: ", first);
    btnCreate = Named(new QPushButton(first), "btnCreate", "Create a new Zip file");
    btnCreate->setIcon(style()->standardIcon(QStyle::SP_FileIcon));
    btnCreate->setToolTip("Create a new Zip file");
    btnOpen = Named(new QPushButton(first), "btnOpen", "Open an existing Zip file");
    btnOpen->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    btnOpen->setToolTip("Open an existing Zip file");
    edZipFileName = Named(new QLineEdit(first), "edZipFileName", "Zip Filename: ");
    edZipFileName->setMinimumWidth(320);
    nameLabel->setBuddy(edZipFileName);
    auto* actionBox = new QGroupBox("Action:", first);
    auto* actionLayout = new QVBoxLayout(actionBox);
    const char* actionNames[] = {"rbAddReplace", "rbFreshen", "rbUpdate"};
    const char* actionCaptions[] = {"Add && replace files", "Freshen existing files", "Update and add files"};
    auto* actionGroup = new QButtonGroup(this);
    for (int i = 0; i < 3; ++i) {
        rbAction[i] = Named(new QRadioButton(actionCaptions[i], actionBox), actionNames[i],
                            QString(actionCaptions[i]).replace("&&", "&"));
        actionGroup->addButton(rbAction[i], i);
        actionLayout->addWidget(rbAction[i]);
    }
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(nameLabel);
    nameRow->addWidget(btnCreate);
    nameRow->addWidget(btnOpen);
    auto* firstLayout = new QVBoxLayout(first);
    firstLayout->addWidget(intro);
    firstLayout->addSpacing(8);
    firstLayout->addLayout(nameRow);
    firstLayout->addWidget(edZipFileName);
    firstLayout->addWidget(actionBox);
    firstLayout->addStretch(1);
    pages->addWidget(first);

    // Page two: the files and the path options.
    auto* second = new QWidget(pages);
    auto* filesLabel = new QLabel("Add Files:", second);
    lvFiles = Named(new QTreeWidget(second), "lvFiles", "Add Files:");
    lvFiles->setHeaderLabels({"Filename", "Path"});
    lvFiles->setRootIsDecorated(false);
    lvFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvFiles->header()->resizeSection(0, 160);
    filesLabel->setBuddy(lvFiles);
    btnAdd = Named(new QPushButton("&Add", second), "btnAdd", "Add");
    btnRemove = Named(new QPushButton("&Remove", second), "btnRemove", "Remove");
    cbUsePaths = Named(new QCheckBox("Save path names in zip file", second), "cbUsePaths", "Save path names in zip file");
    cbRecurse = Named(new QCheckBox("Recurse Folders", second), "cbRecurse", "Recurse Folders");
    cbRecurse->setVisible(false);
    auto* buttonsColumn = new QVBoxLayout;
    buttonsColumn->addWidget(btnAdd);
    buttonsColumn->addWidget(btnRemove);
    buttonsColumn->addStretch(1);
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(lvFiles, 1);
    listRow->addLayout(buttonsColumn);
    auto* secondLayout = new QVBoxLayout(second);
    secondLayout->addWidget(filesLabel);
    secondLayout->addLayout(listRow, 1);
    secondLayout->addWidget(cbUsePaths);
    secondLayout->addWidget(cbRecurse);
    pages->addWidget(second);

    // Page three: the compression level.
    auto* third = new QWidget(pages);
    auto* levelLabel = new QLabel("Zip Compression: ", third);
    tbCompression = Named(new QSlider(Qt::Horizontal, third), "tbCompression", "Zip Compression: ");
    tbCompression->setRange(0, 9);
    tbCompression->setTickPosition(QSlider::TicksBelow);
    tbCompression->setTickInterval(1);
    tbCompression->setPageStep(1);
    levelLabel->setBuddy(tbCompression);
    auto* ends = new QHBoxLayout;
    ends->addWidget(new QLabel("None", third));
    ends->addStretch(1);
    ends->addWidget(new QLabel("Max", third));
    auto* thirdLayout = new QVBoxLayout(third);
    thirdLayout->addWidget(levelLabel);
    thirdLayout->addWidget(tbCompression);
    thirdLayout->addLayout(ends);
    thirdLayout->addStretch(1);
    pages->addWidget(third);

    btnBack = Named(new QPushButton("<  &Back", this), "btnBack", "Back");
    btnNext = Named(new QPushButton("&Next  >", this), "btnNext", "Next");
    btnCancel = Named(new QPushButton("&Cancel", this), "btnCancel", "Cancel");
    btnNext->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnBack);
    buttons->addWidget(btnNext);
    buttons->addSpacing(12);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages, 1);
    layout->addLayout(buttons);
    resize(520, 380);

    connect(btnBack, &QPushButton::clicked, this, &TwizFileZip::btnBackClick);
    connect(btnNext, &QPushButton::clicked, this, &TwizFileZip::btnNextClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnCreate, &QPushButton::clicked, this, &TwizFileZip::btnCreateClick);
    connect(btnOpen, &QPushButton::clicked, this, &TwizFileZip::btnOpenClick);
    connect(btnAdd, &QPushButton::clicked, this, &TwizFileZip::btnAddClick);
    connect(btnRemove, &QPushButton::clicked, this, &TwizFileZip::btnRemoveClick);

    // Showing: the stored choices, then what the caller preset.
    edZipFileName->setText(Q(defaults.fileName));
    cbUsePaths->setChecked(defaults.usePaths);
    tbCompression->setValue(defaults.compression);
    SetOpenChoice(preset.openExisting);
    rbAction[ZipWizardActions(m_openExisting, defaults.action).checked]->setChecked(true);
    AddFiles(preset.droppedFiles);
    ShowPage(0);
}

TwizFileZip::~TwizFileZip() = default;

int TwizFileZip::PageIndex() const { return pages->currentIndex(); }

QString TwizFileZip::DialogFolder() const
{
    return m_dialogFolder.empty() ? QDir::currentPath() : Q(m_dialogFolder);
}

void TwizFileZip::ShowPage(int index)
{
    pages->setCurrentIndex(index);
    btnBack->setEnabled(index > 0);
    btnNext->setText(index == pages->count() - 1 ? "&Finish" : "&Next  >");
    btnNext->setAccessibleName(index == pages->count() - 1 ? "Finish" : "Next");
    // Return moves on from every page: the focus is never on a button that does something else.
    QWidget* focus[] = {edZipFileName, lvFiles, tbCompression};
    focus[index]->setFocus();
}

void TwizFileZip::SetOpenChoice(bool openExisting)
{
    m_openExisting = openExisting;
    int checked = 0;
    for (int i = 0; i < 3; ++i)
        if (rbAction[i]->isChecked())
            checked = i;
    const TZipWizardActions actions = ZipWizardActions(openExisting, checked);
    for (int i = 0; i < 3; ++i)
        rbAction[i]->setEnabled(actions.enabled[i]);
    rbAction[actions.checked]->setChecked(true);
}

void TwizFileZip::AddFiles(const std::vector<std::string>& files)
{
    AddZipWizardFiles(m_files, files);
    RefreshList();
}

void TwizFileZip::RefreshList()
{
    lvFiles->clear();
    bool anyFolder = false;
    for (const std::string& file : m_files) {
        const bool folder = QFileInfo(Q(file)).isDir();
        anyFolder = anyFolder || folder;
        const TZipWizardRow row = ZipWizardRow(file, folder);
        auto* item = new QTreeWidgetItem(lvFiles, {Q(row.fileName), Q(row.path)});
        item->setData(0, Qt::UserRole, Q(file));
    }
    // Shown, and on, once there is a folder to recurse into.
    if (anyFolder && cbRecurse->isHidden()) {
        cbRecurse->setVisible(true);
        cbRecurse->setChecked(true);
    } else if (!anyFolder) {
        cbRecurse->setVisible(false);
        cbRecurse->setChecked(false);
    }
}

void TwizFileZip::btnBackClick()
{
    if (pages->currentIndex() > 0)
        ShowPage(pages->currentIndex() - 1);
}

void TwizFileZip::btnNextClick()
{
    const int index = pages->currentIndex();
    if (index == 0 && !LeaveFirstPage())
        return;
    if (index == pages->count() - 1) {
        Finish();
        return;
    }
    ShowPage(index + 1);
}

bool TwizFileZip::LeaveFirstPage()
{
    const std::optional<std::string> name = CheckZipFileName(S(edZipFileName->text()));
    if (!name) {
        ShowMessage(m_messages, this, QMessageBox::Critical, kInvalidZipFileNameText);
        edZipFileName->setFocus();
        return false;
    }
    edZipFileName->setText(Q(*name));
    // A typed name of a file that is there is added to, never emptied unasked.
    const bool replace = !m_replacePath.empty() && m_replacePath == *name;
    SetOpenChoice(ZipWizardOpensExisting(QFileInfo::exists(Q(*name)), replace));
    return true;
}

void TwizFileZip::Finish()
{
    TZipWizardChoice choice;
    choice.zipPath = S(edZipFileName->text());
    choice.openExisting = m_openExisting;
    choice.replaceExisting = !m_openExisting && m_replacePath == choice.zipPath && QFileInfo::exists(Q(choice.zipPath));
    for (int i = 0; i < 3; ++i)
        if (rbAction[i]->isChecked())
            choice.action = static_cast<TZipAddMode>(i);
    choice.files = m_files;
    choice.compression = tbCompression->value();
    choice.usePaths = cbUsePaths->isChecked();
    choice.recurse = !cbRecurse->isHidden() && cbRecurse->isChecked();
    StoreZipWizardChoice(m_app, choice);
    m_choice = std::move(choice);
    accept();
}

void TwizFileZip::btnCreateClick()
{
    QStringList chosen;
    if (m_prompt) {
        chosen = m_prompt(TPrompt::NewZip, DialogFolder());
    } else {
        QFileDialog dialog(this, "New Zip File", DialogFolder(), kZipFilter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix("zip");
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        if (dialog.exec() == QDialog::Accepted)
            chosen = dialog.selectedFiles();
    }
    if (chosen.isEmpty())
        return;
    // The dialog asked before overwriting; the file goes when the wizard is finished.
    const std::optional<std::string> name = CheckZipFileName(S(chosen.front()));
    edZipFileName->setText(name ? Q(*name) : chosen.front());
    m_replacePath = name && QFileInfo::exists(Q(*name)) ? *name : std::string();
    SetOpenChoice(false);
}

void TwizFileZip::btnOpenClick()
{
    QStringList chosen;
    if (m_prompt) {
        chosen = m_prompt(TPrompt::OpenZip, DialogFolder());
    } else {
        const QString file = QFileDialog::getOpenFileName(this, "Open Zip File", DialogFolder(), kZipFilter, nullptr,
                                                          QFileDialog::DontUseNativeDialog);
        if (!file.isEmpty())
            chosen << file;
    }
    if (chosen.isEmpty())
        return;
    edZipFileName->setText(chosen.front());
    m_replacePath.clear();
    SetOpenChoice(true);
}

void TwizFileZip::btnAddClick()
{
    QStringList chosen = m_prompt ? m_prompt(TPrompt::AddFiles, DialogFolder())
                                  : QFileDialog::getOpenFileNames(this, "Add Files", DialogFolder(), "All files (*)",
                                                                  nullptr, QFileDialog::DontUseNativeDialog);
    std::vector<std::string> files;
    for (const QString& file : chosen)
        files.push_back(S(QFileInfo(file).absoluteFilePath()));
    AddFiles(files);
    // Back on the list, so Return moves on rather than opening the dialog again.
    lvFiles->setFocus();
}

void TwizFileZip::btnRemoveClick()
{
    std::vector<std::string> kept;
    for (int i = 0; i < lvFiles->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = lvFiles->topLevelItem(i);
        if (!item->isSelected())
            kept.push_back(S(item->data(0, Qt::UserRole).toString()));
    }
    m_files = std::move(kept);
    RefreshList();
}

std::optional<TZipWizardChoice> TZipWizard::Run(QWidget* parent, TPXApp& app, const TZipWizardPreset& preset)
{
    TwizFileZip wizard(app, preset, parent);
    if (wizard.exec() != QDialog::Accepted)
        return std::nullopt;
    return wizard.Choice();
}

} // namespace pellix
