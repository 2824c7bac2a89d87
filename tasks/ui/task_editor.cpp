#include "tasks/ui/task_editor.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <filesystem>

#include "engine/task.h"
#include "links/file_types.h"
#include "links/profile.h"
#include "links/ui/form_helpers.h"
#include "tasks/schedule.h"
#include "tasks/ui/account_dialog.h"
#include "tasks/ui/schedule_dialog.h"
#include "workspace/app_settings.h"
#include "workspace/session.h"

namespace pellix {
namespace {

using form::CheckStateOf;
using form::ListItems;
using form::Named;
using form::Q;
using form::SetListItems;

const char* const kPageNames[] = {"Starting address", "Save to",        "Filetypes",       "Followed Links",
                                  "Followed Links (Adv)", "URL Filters", "Link Conversion", "Schedule"};

TTaskEditMode ModeOf(TTaskEditorCaption caption)
{
    switch (caption) {
    case TTaskEditorCaption::Edit: return TTaskEditMode::Edit;
    case TTaskEditorCaption::Add: return TTaskEditMode::Add;
    case TTaskEditorCaption::Create: break;
    }
    return TTaskEditMode::Create;
}

} // namespace

TTaskEditor::TTaskEditor(TSession& session, std::shared_ptr<TPXTask> task, TTaskEditorCaption caption,
                         QWidget* parent)
    : QDialog(parent), m_session(session), m_task(std::move(task)), m_caption(caption)
{
    switch (m_caption) {
    case TTaskEditorCaption::Edit: setWindowTitle("Edit Task"); break;
    case TTaskEditorCaption::Add: setWindowTitle("Add a Task"); break;
    case TTaskEditorCaption::Create: setWindowTitle("Create New Task"); break;
    }
    TPXApp& app = m_session.App();
    m_account = new TAccountDialog(this);

    edTaskName = Named(new QLineEdit(this), "edTaskName", "Task Name:");
    cmbTaskCategory = Named(new QComboBox(this), "cmbTaskCategory", "Category:");
    cmbProfile = Named(new QComboBox(this), "cmbProfile", "Profile:");
    for (const std::string& entry : ProfileEntries(app))
        cmbProfile->addItem(Q(entry));
    auto* top = new QFormLayout;
    top->addRow("Task Name:", edTaskName);
    top->addRow("Category:", cmbTaskCategory);
    top->addRow("Profile:", cmbProfile);

    ListView1 = Named(new QListWidget(this), "ListView1", "Pages");
    for (const char* name : kPageNames)
        ListView1->addItem(name);
    ListView1->setFixedWidth(170);
    pages = new QStackedWidget(this);
    pages->addWidget(BuildAddressPage());
    pages->addWidget(BuildSaveToPage());
    pages->addWidget(BuildFileTypesPage());
    pages->addWidget(BuildFollowedPage());
    pages->addWidget(BuildAdvancedPage());
    pages->addWidget(BuildFiltersPage());
    pages->addWidget(BuildConversionPage());
    pages->addWidget(BuildSchedulePage());
    auto* middle = new QHBoxLayout;
    middle->addWidget(ListView1);
    middle->addWidget(pages, 1);

    auto* buttons = new QDialogButtonBox(this);
    btnOK = Named(buttons->addButton("&OK", QDialogButtonBox::AcceptRole), "btnOK", "OK");
    btnCancel = Named(buttons->addButton("&Cancel", QDialogButtonBox::RejectRole), "btnCancel", "Cancel");
    btnReset = Named(buttons->addButton("&Reset", QDialogButtonBox::ResetRole), "btnReset", "Reset");
    // Enter anywhere in the dialog is OK.
    btnOK->setDefault(true);
    btnOK->setAutoDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(middle, 1);
    layout->addWidget(buttons);
    resize(720, 470);

    connect(ListView1, &QListWidget::currentRowChanged, this, &TTaskEditor::ListView1Change);
    connect(cmbURL, &QComboBox::editTextChanged, this, [this] {
        if (!m_loading)
            cmbURLChange();
    });
    connect(cmbTaskCategory, &QComboBox::activated, this, &TTaskEditor::cmbURLChange);
    connect(cmbProfile, &QComboBox::activated, this, &TTaskEditor::cmbProfileChange);
    connect(btnOK, &QPushButton::clicked, this, &TTaskEditor::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnReset, &QPushButton::clicked, this, &TTaskEditor::FormShow);

    FormShow();
}

TTaskEditor::~TTaskEditor() = default;

QWidget* TTaskEditor::BuildAddressPage()
{
    auto* page = new QWidget(this);
    cmbURL = Named(new QComboBox(page), "cmbURL", "Starting URL:");
    cmbURL->setEditable(true);
    cmbURL->setInsertPolicy(QComboBox::NoInsert);
    for (const std::string& url : m_session.App().RecentItems(kRecentURLsKey))
        cmbURL->addItem(Q(url));
    cbUserNamePassword = Named(new QCheckBox("Site requires a password", page), "cbUserNamePassword",
                               "Site requires a password");
    btnUserNamePassword = Named(new QPushButton("User Name/Password...", page), "btnUserNamePassword",
                                "User Name/Password...");
    btnUserNamePassword->setAutoDefault(false);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(new QLabel("Starting URL:", page));
    layout->addWidget(cmbURL);
    auto* account = new QHBoxLayout;
    account->addWidget(cbUserNamePassword);
    account->addWidget(btnUserNamePassword);
    account->addStretch();
    layout->addLayout(account);
    layout->addStretch();
    connect(cbUserNamePassword, &QCheckBox::clicked, this, &TTaskEditor::cbUserNamePasswordClick);
    connect(btnUserNamePassword, &QPushButton::clicked, this, &TTaskEditor::btnUserNamePasswordClick);
    return page;
}

QWidget* TTaskEditor::BuildSaveToPage()
{
    auto* page = new QWidget(this);
    auto* mode = new QButtonGroup(page);
    rbZip = Named(new QRadioButton("Download and Zip this Website", page), "rbZip", "Download and Zip this Website");
    edFileName = Named(new QLineEdit(page), "edFileName", "Zip file");
    btnNewZip = Named(new QPushButton(style()->standardIcon(QStyle::SP_FileDialogNewFolder), "", page), "btnNewZip",
                      "New Zip File");
    btnNewZip->setToolTip("New Zip File");
    btnOpenZip = Named(new QPushButton(style()->standardIcon(QStyle::SP_DialogOpenButton), "", page), "btnOpenZip",
                       "Open Zip File");
    btnOpenZip->setToolTip("Open Zip File");
    cbUseStartPageTitle = Named(new QCheckBox("Rename zip file to start page title", page), "cbUseStartPageTitle",
                                "Rename zip file to start page title");
    cbUseStartPageTitle->setToolTip("Upon completion Pellix will rename the zip file to the title of the first web page.");
    rbIntranet = Named(new QRadioButton("Download this Website to your Personal Intranet", page), "rbIntranet",
                       "Download this Website to your Personal Intranet");
    edIntranetFolder = Named(new QLineEdit(page), "edIntranetFolder", "Intranet folder");
    btnNewIntranet = Named(new QPushButton(style()->standardIcon(QStyle::SP_DirOpenIcon), "", page), "btnNewIntranet",
                           "Select a folder.");
    btnNewIntranet->setToolTip("Select a folder.");
    for (QPushButton* b : {btnNewZip, btnOpenZip, btnNewIntranet})
        b->setAutoDefault(false);
    mode->addButton(rbZip);
    mode->addButton(rbIntranet);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(rbZip);
    auto* zipRow = new QHBoxLayout;
    zipRow->addSpacing(20);
    zipRow->addWidget(edFileName, 1);
    zipRow->addWidget(btnNewZip);
    zipRow->addWidget(btnOpenZip);
    layout->addLayout(zipRow);
    auto* titleRow = new QHBoxLayout;
    titleRow->addSpacing(20);
    titleRow->addWidget(cbUseStartPageTitle);
    layout->addLayout(titleRow);
    layout->addSpacing(12);
    layout->addWidget(rbIntranet);
    auto* intranetRow = new QHBoxLayout;
    intranetRow->addSpacing(20);
    intranetRow->addWidget(edIntranetFolder, 1);
    intranetRow->addWidget(btnNewIntranet);
    layout->addLayout(intranetRow);
    layout->addStretch();

    connect(rbZip, &QRadioButton::toggled, this, &TTaskEditor::rbIntranetClick);
    connect(rbIntranet, &QRadioButton::toggled, this, &TTaskEditor::rbIntranetClick);
    connect(cbUseStartPageTitle, &QCheckBox::clicked, this, &TTaskEditor::SetCustomProfile);
    connect(btnNewZip, &QPushButton::clicked, this, &TTaskEditor::btnNewZipClick);
    connect(btnOpenZip, &QPushButton::clicked, this, &TTaskEditor::btnOpenZipClick);
    connect(btnNewIntranet, &QPushButton::clicked, this, &TTaskEditor::btnNewIntranetClick);
    return page;
}

QWidget* TTaskEditor::BuildFileTypesPage()
{
    auto* page = new QWidget(this);
    cbAll = Named(new QCheckBox("All", page), "cbAll", "All");
    tvFileTypes = Named(new QTreeWidget(page), "tvFileTypes", "File types");
    tvFileTypes->setHeaderHidden(true);
    btnNew = Named(new QPushButton("&New...", page), "btnNew", "New...");
    btnEdit = Named(new QPushButton("&Edit...", page), "btnEdit", "Edit...");
    btnDelete = Named(new QPushButton("&Delete", page), "btnDelete", "Delete");
    auto* side = new QVBoxLayout;
    for (QPushButton* b : {btnNew, btnEdit, btnDelete}) {
        b->setAutoDefault(false);
        side->addWidget(b);
    }
    side->addStretch();
    auto* row = new QHBoxLayout;
    row->addWidget(tvFileTypes, 1);
    row->addLayout(side);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(cbAll);
    layout->addLayout(row, 1);

    connect(cbAll, &QCheckBox::clicked, this, &TTaskEditor::cbAllClick);
    connect(tvFileTypes, &QTreeWidget::itemChanged, this, &TTaskEditor::tvFileTypesChange);
    connect(tvFileTypes, &QTreeWidget::currentItemChanged, this, &TTaskEditor::tvFileTypesSelect);
    connect(btnNew, &QPushButton::clicked, this, &TTaskEditor::NotAvailable);
    connect(btnEdit, &QPushButton::clicked, this, &TTaskEditor::NotAvailable);
    connect(btnDelete, &QPushButton::clicked, this, &TTaskEditor::btnDeleteClick);
    return page;
}

QWidget* TTaskEditor::BuildFollowedPage()
{
    auto* page = new QWidget(this);
    auto* pagesBox = new QGroupBox("Follow page links", page);
    rbPagesDir = Named(new QRadioButton("Within current directory", pagesBox), "rbPagesDir", "Within current directory");
    rbPagesSite = Named(new QRadioButton("Within current site", pagesBox), "rbPagesSite", "Within current site");
    rbPagesAnywhere = Named(new QRadioButton("Anywhere", pagesBox), "rbPagesAnywhere", "Anywhere");
    auto* pagesLayout = new QVBoxLayout(pagesBox);
    for (QRadioButton* b : {rbPagesDir, rbPagesSite, rbPagesAnywhere})
        pagesLayout->addWidget(b);

    auto* depthBox = new QGroupBox("Depth", page);
    rbPageOnly = Named(new QRadioButton("This page only", depthBox), "rbPageOnly", "This page only");
    rbLevels = Named(new QRadioButton("This page and", depthBox), "rbLevels", "This page and");
    edLevels = Named(new QSpinBox(depthBox), "edLevels", "level/s");
    edLevels->setRange(kMinEditLevels, kMaxEditLevels);
    edLevels->findChild<QLineEdit*>()->setReadOnly(true);
    rbAll = Named(new QRadioButton("All levels", depthBox), "rbAll", "All levels");
    auto* depthLayout = new QVBoxLayout(depthBox);
    depthLayout->addWidget(rbPageOnly);
    auto* levelsRow = new QHBoxLayout;
    levelsRow->addWidget(rbLevels);
    levelsRow->addWidget(edLevels);
    levelsRow->addWidget(new QLabel("level/s", depthBox));
    levelsRow->addStretch();
    depthLayout->addLayout(levelsRow);
    depthLayout->addWidget(rbAll);

    auto* resBox = new QGroupBox("Follow resource links", page);
    rbResDir = Named(new QRadioButton("Current directory", resBox), "rbResDir", "Current directory");
    rbResSite = Named(new QRadioButton("Current site", resBox), "rbResSite", "Current site");
    rbResAnywhere = Named(new QRadioButton("Anywhere", resBox), "rbResAnywhere", "Anywhere");
    auto* resLayout = new QVBoxLayout(resBox);
    for (QRadioButton* b : {rbResDir, rbResSite, rbResAnywhere})
        resLayout->addWidget(b);

    auto* layout = new QGridLayout(page);
    layout->addWidget(pagesBox, 0, 0);
    layout->addWidget(depthBox, 0, 1);
    layout->addWidget(resBox, 1, 0);
    layout->setRowStretch(2, 1);

    for (QRadioButton* b : {rbPagesDir, rbPagesSite, rbPagesAnywhere, rbPageOnly, rbLevels, rbAll, rbResDir, rbResSite,
                            rbResAnywhere})
        connect(b, &QRadioButton::clicked, this, &TTaskEditor::SetCustomProfile);
    connect(edLevels, &QSpinBox::valueChanged, this, [this] {
        if (!m_loading)
            rbLevels->setChecked(true);
        SetCustomProfile();
    });
    return page;
}

QWidget* TTaskEditor::BuildAdvancedPage()
{
    auto* page = new QWidget(this);
    cbAggressiveParser = Named(new QCheckBox("Aggressive Parser", page), "cbAggressiveParser", "Aggressive Parser");
    rbAPScripts = Named(new QRadioButton("Scripts only", page), "rbAPScripts", "Scripts only");
    rbAPAll = Named(new QRadioButton("All tags", page), "rbAPAll", "All tags");
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(cbAggressiveParser);
    for (QRadioButton* b : {rbAPScripts, rbAPAll}) {
        auto* row = new QHBoxLayout;
        row->addSpacing(20);
        row->addWidget(b);
        layout->addLayout(row);
        connect(b, &QRadioButton::clicked, this, &TTaskEditor::SetCustomProfile);
    }
    layout->addStretch();
    connect(cbAggressiveParser, &QCheckBox::clicked, this, &TTaskEditor::cbAggressiveParserClick);
    return page;
}

QWidget* TTaskEditor::BuildFilterList(bool include)
{
    auto* box = new QGroupBox(include ? "Include" : "Exclude", this);
    QListWidget* list = Named(new QListWidget(box), include ? "lbInc" : "lbEx",
                              include ? "URL Filters Include" : "URL Filters Exclude");
    auto* add = Named(new QPushButton("Add", box), include ? "btnIncAdd" : "btnExAdd", "Add");
    auto* edit = Named(new QPushButton("Edit...", box), include ? "btnIncEdit" : "btnExEdit", "Edit...");
    auto* remove = Named(new QPushButton("Remove", box), include ? "btnIncRemove" : "btnExRemove", "Remove");
    auto* menu = new QMenu(add);
    const char* const incItems[] = {"All links must contain...", "Page links must contain...",
                                    "Resource links must contain..."};
    const char* const exItems[] = {"All links must not contain...", "Page links must not contain...",
                                   "Resource links must not contain..."};
    const char* const prefixes[] = {"[AL]", "[PL]", "[RL]"};
    for (int i = 0; i < 3; ++i) {
        const QString caption = include ? incItems[i] : exItems[i];
        const QString prefix = prefixes[i];
        menu->addAction(caption, this, [this, include, caption, prefix] {
            bool ok = false;
            const QString text = AskFilter(caption, {}, &ok);
            if (ok && !text.isEmpty())
                AddFilter(include, prefix, text);
        });
    }
    menu->addSeparator();
    menu->addAction("Edit...", this, [this, include] { FilterEdit(include); });
    menu->addAction("Remove", this, [this, include] { FilterRemove(include); });
    add->setMenu(menu);
    for (QPushButton* b : {add, edit, remove})
        b->setAutoDefault(false);
    connect(edit, &QPushButton::clicked, this, [this, include] { FilterEdit(include); });
    connect(remove, &QPushButton::clicked, this, [this, include] { FilterRemove(include); });
    connect(list, &QListWidget::currentRowChanged, this, &TTaskEditor::FilterSelect);

    auto* side = new QVBoxLayout;
    side->addWidget(add);
    side->addWidget(edit);
    side->addWidget(remove);
    side->addStretch();
    auto* row = new QHBoxLayout(box);
    row->addWidget(list, 1);
    row->addLayout(side);
    if (include) {
        lbInc = list;
        btnIncEdit = edit;
        btnIncRemove = remove;
    } else {
        lbEx = list;
        btnExEdit = edit;
        btnExRemove = remove;
    }
    return box;
}

QWidget* TTaskEditor::BuildFiltersPage()
{
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(BuildFilterList(true));
    layout->addWidget(BuildFilterList(false));
    FilterSelect();
    return page;
}

QWidget* TTaskEditor::BuildConversionPage()
{
    auto* page = new QWidget(this);
    auto* followed = new QGroupBox("Followed links", page);
    rbcflNone = Named(new QRadioButton("Do NOT convert ANY followed links", followed), "rbcflNone",
                      "Do NOT convert ANY followed links");
    rbcflAll = Named(new QRadioButton("Convert ALL followed links to relative links", followed), "rbcflAll",
                     "Convert ALL followed links to relative links");
    auto* followedLayout = new QVBoxLayout(followed);
    followedLayout->addWidget(rbcflNone);
    followedLayout->addWidget(rbcflAll);
    auto* unfollowed = new QGroupBox("Unfollowed links", page);
    rbculNone = Named(new QRadioButton("Do NOT convert ANY unfollowed links", unfollowed), "rbculNone",
                      "Do NOT convert ANY unfollowed links");
    rbculWebsite = Named(new QRadioButton("Convert unfollowed links within the current website to relative links",
                                          unfollowed),
                         "rbculWebsite", "Convert unfollowed links within the current website to relative links");
    rbculAll = Named(new QRadioButton("Convert ALL unfollowed links to relative links", unfollowed), "rbculAll",
                     "Convert ALL unfollowed links to relative links");
    auto* unfollowedLayout = new QVBoxLayout(unfollowed);
    for (QRadioButton* b : {rbculNone, rbculWebsite, rbculAll})
        unfollowedLayout->addWidget(b);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(followed);
    layout->addWidget(unfollowed);
    layout->addStretch();
    return page;
}

QWidget* TTaskEditor::BuildSchedulePage()
{
    auto* page = new QWidget(this);
    rbScheduleNow = Named(new QRadioButton("Now", page), "rbScheduleNow", "Now");
    rbScheduleAt = Named(new QRadioButton("At:", page), "rbScheduleAt", "At:");
    edSchedule = Named(new QLineEdit(page), "edSchedule", "At:");
    edSchedule->setReadOnly(true);
    btnSchedule = Named(new QPushButton(style()->standardIcon(QStyle::SP_FileDialogDetailedView), "", page),
                        "btnSchedule", "Schedule");
    btnSchedule->setToolTip("Schedule");
    btnSchedule->setAutoDefault(false);
    rbScheduleLater = Named(new QRadioButton("Don't schedule this task", page), "rbScheduleLater",
                            "Don't schedule this task");
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(rbScheduleNow);
    auto* atRow = new QHBoxLayout;
    atRow->addWidget(rbScheduleAt);
    atRow->addWidget(edSchedule, 1);
    atRow->addWidget(btnSchedule);
    layout->addLayout(atRow);
    layout->addWidget(rbScheduleLater);
    layout->addStretch();
    connect(rbScheduleNow, &QRadioButton::clicked, edSchedule, &QLineEdit::clear);
    connect(btnSchedule, &QPushButton::clicked, this, &TTaskEditor::btnScheduleClick);
    connect(edSchedule, &QLineEdit::textChanged, this, &TTaskEditor::edScheduleChange);
    return page;
}

void TTaskEditor::showEvent(QShowEvent* event)
{
    ListView1->setCurrentRow(0);
    QDialog::showEvent(event);
}

void TTaskEditor::FormShow()
{
    TPXApp& app = m_session.App();
    m_loading = true;
    cmbTaskCategory->clear();
    for (const std::string& category : TaskCategories(app))
        cmbTaskCategory->addItem(Q(category));
    m_loading = false;
    const TTaskEditFields fields = TaskEditFieldsOf(app, *m_task);
    ShowFields(fields);
    ListView1->setCurrentRow(0);
}

void TTaskEditor::ShowFields(const TTaskEditFields& fields)
{
    const bool wasLoading = m_loading;
    m_loading = true;
    const int category = cmbTaskCategory->findText(Q(fields.category));
    if (category < 0)
        cmbTaskCategory->addItem(Q(fields.category));
    cmbTaskCategory->setCurrentIndex(cmbTaskCategory->findText(Q(fields.category)));
    edTaskName->setText(Q(fields.taskName));
    cmbURL->setEditText(Q(fields.url));
    m_account->SetAccount(Q(fields.userName), Q(fields.password));
    cbUserNamePassword->setChecked(fields.useAccount);
    edFileName->setText(Q(fields.zipFile));
    edIntranetFolder->setText(Q(fields.intranetFolder));
    (fields.intranetMode ? rbIntranet : rbZip)->setChecked(true);
    rbIntranetClick();
    cmbProfile->setCurrentIndex(cmbProfile->findText(Q(fields.profileName)));
    ShowProfileFields(fields);
    edSchedule->setText(Q(fields.scheduleText));
    switch (fields.schedule) {
    case TTaskEditSchedule::Now: rbScheduleNow->setChecked(true); break;
    case TTaskEditSchedule::At: rbScheduleAt->setChecked(true); break;
    case TTaskEditSchedule::Later: rbScheduleLater->setChecked(true); break;
    }
    m_loading = wasLoading;
}

void TTaskEditor::ShowProfileFields(const TTaskEditFields& fields)
{
    const bool wasLoading = m_loading;
    m_loading = true;
    cbUseStartPageTitle->setChecked(fields.useStartPageTitle);
    m_tree.Build(ReadFileTypeGroups(m_session.App().Store()), fields.allFileTypes ? std::vector<std::string>{}
                                                                                    : fields.fileTypes);
    m_tree.SetAllChecked(fields.allFileTypes);
    m_tree.SetChanged(false);
    ShowFileTypes();
    SetListItems(lbInc, fields.includeFilters);
    SetListItems(lbEx, fields.excludeFilters);
    FilterSelect();
    if (fields.depth < 0) {
        rbAll->setChecked(true);
    } else if (fields.depth == 0) {
        rbPageOnly->setChecked(true);
    } else {
        edLevels->setValue(fields.depth);
        rbLevels->setChecked(true);
    }
    QRadioButton* pagesButtons[] = {rbPagesDir, rbPagesSite, rbPagesAnywhere};
    QRadioButton* resButtons[] = {rbResDir, rbResSite, rbResAnywhere};
    pagesButtons[std::clamp(fields.pageLocation, 0, 2)]->setChecked(true);
    resButtons[std::clamp(fields.resourceLocation, 0, 2)]->setChecked(true);
    cbAggressiveParser->setChecked(fields.aggressiveParser != 0);
    (fields.aggressiveParser == 2 ? rbAPAll : rbAPScripts)->setChecked(true);
    rbAPScripts->setEnabled(cbAggressiveParser->isChecked());
    rbAPAll->setEnabled(cbAggressiveParser->isChecked());
    (fields.convertFollowedLinks == 0 ? rbcflNone : rbcflAll)->setChecked(true);
    QRadioButton* unfollowed[] = {rbculNone, rbculWebsite, rbculAll};
    unfollowed[std::clamp(fields.convertUnfollowedLinks, 0, 2)]->setChecked(true);
    m_loading = wasLoading;
}

void TTaskEditor::ShowFileTypes()
{
    const bool wasLoading = m_loading;
    m_loading = true;
    const std::vector<TFileTypeNode>& nodes = m_tree.Nodes();
    if (m_treeItems.size() != nodes.size()) {
        tvFileTypes->clear();
        m_treeItems.clear();
        QTreeWidgetItem* group = nullptr;
        for (const TFileTypeNode& node : nodes) {
            QTreeWidgetItem* item = node.isGroup ? new QTreeWidgetItem(tvFileTypes) : new QTreeWidgetItem(group);
            if (node.isGroup)
                group = item;
            item->setText(0, Q(node.text));
            m_treeItems.push_back(item);
        }
        tvFileTypes->expandAll();
    }
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        QTreeWidgetItem* item = m_treeItems[i];
        item->setText(0, Q(nodes[i].text));
        if (nodes[i].state == kCheckNoImage) {
            item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
            item->setData(0, Qt::CheckStateRole, QVariant());
        } else {
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, CheckStateOf(nodes[i].state));
        }
    }
    cbAll->setChecked(m_tree.AllChecked());
    tvFileTypes->setEnabled(m_tree.TreeEnabled());
    tvFileTypesSelect();
    m_loading = wasLoading;
}

TTaskEditFields TTaskEditor::Fields() const
{
    TTaskEditFields fields;
    fields.taskName = edTaskName->text().toStdString();
    fields.category = cmbTaskCategory->currentText().toStdString();
    fields.profileName = cmbProfile->currentText().toStdString();
    fields.url = cmbURL->currentText().toStdString();
    fields.useAccount = cbUserNamePassword->isChecked();
    fields.userName = m_account->UserName().toStdString();
    fields.password = m_account->Password().toStdString();
    fields.intranetMode = rbIntranet->isChecked();
    fields.zipFile = edFileName->text().toStdString();
    fields.intranetFolder = edIntranetFolder->text().toStdString();
    fields.useStartPageTitle = cbUseStartPageTitle->isChecked();
    fields.allFileTypes = m_tree.AllChecked();
    fields.fileTypes = m_tree.Collect();
    fields.pageLocation = rbPagesDir->isChecked() ? 0 : rbPagesSite->isChecked() ? 1 : 2;
    fields.depth = rbAll->isChecked() ? -1 : rbPageOnly->isChecked() ? 0 : edLevels->value();
    fields.resourceLocation = rbResDir->isChecked() ? 0 : rbResSite->isChecked() ? 1 : 2;
    fields.aggressiveParser = !cbAggressiveParser->isChecked() ? 0 : rbAPAll->isChecked() ? 2 : 1;
    fields.convertFollowedLinks = rbcflNone->isChecked() ? 0 : 1;
    fields.convertUnfollowedLinks = rbculNone->isChecked() ? 0 : rbculWebsite->isChecked() ? 1 : 2;
    fields.includeFilters = ListItems(lbInc);
    fields.excludeFilters = ListItems(lbEx);
    fields.schedule = rbScheduleNow->isChecked()  ? TTaskEditSchedule::Now
                      : rbScheduleAt->isChecked() ? TTaskEditSchedule::At
                                                  : TTaskEditSchedule::Later;
    fields.scheduleText = edSchedule->text().toStdString();
    return fields;
}

void TTaskEditor::ListView1Change(int row)
{
    // The marker follows the selected entry.
    // The other entries get a blank image of the same size, so their texts stay aligned.
    QPixmap blank(ListView1->iconSize().isValid() ? ListView1->iconSize() : QSize(16, 16));
    blank.fill(Qt::transparent);
    for (int i = 0; i < ListView1->count(); ++i)
        ListView1->item(i)->setIcon(i == row ? style()->standardIcon(QStyle::SP_ArrowRight) : QIcon(blank));
    if (row >= 0)
        pages->setCurrentIndex(row);
}

void TTaskEditor::cmbURLChange()
{
    if (m_caption == TTaskEditorCaption::Edit || m_loading)
        return;
    const TTaskEditNames names = DefaultTaskEditNames(m_session.App(), cmbURL->currentText().toStdString(),
                                                      cmbTaskCategory->currentText().toStdString());
    edFileName->setText(Q(names.zipFile));
    edTaskName->setText(Q(names.taskName));
}

void TTaskEditor::cmbProfileChange(int index)
{
    // "Custom" has no file of its own: the controls keep what they show.
    if (index <= 0)
        return;
    TPXProfile profile;
    profile.SetProfileFile(m_session.App().ProfilesFolder() + cmbProfile->itemText(index).toStdString() + ".pxp");
    profile.Load();
    TTaskEditFields fields = Fields();
    FillProfileFields(fields, profile);
    ShowProfileFields(fields);
}

void TTaskEditor::SetCustomProfile()
{
    if (!m_loading)
        cmbProfile->setCurrentIndex(0);
}

void TTaskEditor::cbAggressiveParserClick()
{
    rbAPScripts->setEnabled(cbAggressiveParser->isChecked());
    rbAPAll->setEnabled(cbAggressiveParser->isChecked());
    SetCustomProfile();
}

void TTaskEditor::rbIntranetClick()
{
    const bool intranet = rbIntranet->isChecked();
    edIntranetFolder->setEnabled(intranet);
    btnNewIntranet->setEnabled(intranet);
    for (QWidget* w : {static_cast<QWidget*>(edFileName), static_cast<QWidget*>(cbUseStartPageTitle),
                       static_cast<QWidget*>(btnNewZip), static_cast<QWidget*>(btnOpenZip)})
        w->setEnabled(!intranet);
}

QString TTaskEditor::ChooseFile(const QString& title, const QString& folder, int kind)
{
    if (chooseFile)
        return chooseFile(title, folder);
    const QString filter = "Zip file (*.zip);;All files (*)";
    switch (kind) {
    case 0: return QFileDialog::getSaveFileName(this, title, folder, filter);
    case 1: return QFileDialog::getOpenFileName(this, title, folder, filter);
    default: return QFileDialog::getExistingDirectory(this, title, folder);
    }
}

void TTaskEditor::btnNewZipClick()
{
    QString name = ChooseFile("New Zip File", QFileInfo(edFileName->text()).path(), 0);
    if (name.isEmpty())
        return;
    if (QFileInfo(name).suffix().isEmpty())
        name += ".zip";
    // The old file goes only when the user confirms the task with OK; Cancel keeps it.
    m_replaceZip = QFileInfo::exists(name) ? name : QString();
    edFileName->setText(name);
}

void TTaskEditor::btnOpenZipClick()
{
    const QString file = ChooseFile("Open Zip File", QFileInfo(edFileName->text()).path(), 1);
    if (file.isEmpty())
        return;
    m_replaceZip.clear();
    edFileName->setText(file);
}

void TTaskEditor::btnNewIntranetClick()
{
    const QString folder = ChooseFile("Browse for Folder", edIntranetFolder->text(), 2);
    if (!folder.isEmpty())
        edIntranetFolder->setText(folder);
}

int TTaskEditor::Exec(QDialog& dialog) { return execDialog ? execDialog(dialog) : dialog.exec(); }

void TTaskEditor::cbUserNamePasswordClick()
{
    if (cbUserNamePassword->isChecked() && m_account->IsEmpty() && Exec(*m_account) != QDialog::Accepted)
        cbUserNamePassword->setChecked(false);
}

void TTaskEditor::btnUserNamePasswordClick()
{
    if (Exec(*m_account) == QDialog::Accepted)
        cbUserNamePassword->setChecked(true);
}

void TTaskEditor::ToggleFileType(std::size_t node)
{
    m_tree.Toggle(node);
    ShowFileTypes();
    SetCustomProfile();
}

void TTaskEditor::tvFileTypesChange(QTreeWidgetItem* item, int column)
{
    if (m_loading || column != 0)
        return;
    const auto it = std::find(m_treeItems.begin(), m_treeItems.end(), item);
    if (it != m_treeItems.end())
        ToggleFileType(static_cast<std::size_t>(it - m_treeItems.begin()));
}

void TTaskEditor::cbAllClick()
{
    m_tree.SetAllChecked(cbAll->isChecked());
    ShowFileTypes();
    SetCustomProfile();
}

void TTaskEditor::tvFileTypesSelect()
{
    const auto it = std::find(m_treeItems.begin(), m_treeItems.end(), tvFileTypes->currentItem());
    const bool selected = it != m_treeItems.end();
    btnDelete->setEnabled(selected && m_tree.CanDelete(static_cast<std::size_t>(it - m_treeItems.begin())));
    btnEdit->setEnabled(selected);
}

void TTaskEditor::btnDeleteClick()
{
    const auto it = std::find(m_treeItems.begin(), m_treeItems.end(), tvFileTypes->currentItem());
    if (it == m_treeItems.end())
        return;
    const auto node = static_cast<std::size_t>(it - m_treeItems.begin());
    if (!m_tree.CanDelete(node))
        return;
    if (ShowMessage(m_messages, this, QMessageBox::Question, Q(m_tree.DeleteQuestion(node)),
                    QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    m_tree.Delete(m_session.App().Store(), node);
    m_treeItems.clear();
    ShowFileTypes();
}

void TTaskEditor::NotAvailable()
{
    ShowMessage(m_messages, this, QMessageBox::Information, "Not available yet.");
}

QString TTaskEditor::AskFilter(const QString& title, const QString& text, bool* ok)
{
    return QInputDialog::getText(this, title, title, QLineEdit::Normal, text, ok);
}

void TTaskEditor::AddFilter(bool include, const QString& prefix, const QString& text)
{
    (include ? lbInc : lbEx)->addItem(prefix + text);
    SetCustomProfile();
}

void TTaskEditor::FilterEdit(bool include)
{
    QListWidget* list = include ? lbInc : lbEx;
    QListWidgetItem* item = list->currentItem();
    if (!item)
        return;
    const QString text = item->text();
    // Only entries with their link kind can be opened.
    if (!text.startsWith("[AL]") && !text.startsWith("[PL]") && !text.startsWith("[RL]"))
        return;
    bool ok = false;
    const QString edited = AskFilter(include ? "Include" : "Exclude", text, &ok);
    if (ok)
        item->setText(edited);
}

void TTaskEditor::FilterRemove(bool include)
{
    QListWidget* list = include ? lbInc : lbEx;
    delete list->takeItem(list->currentRow());
    FilterSelect();
}

void TTaskEditor::FilterSelect()
{
    if (!lbInc || !lbEx)
        return;
    const bool inc = lbInc->currentItem() != nullptr;
    const bool ex = lbEx->currentItem() != nullptr;
    btnIncEdit->setEnabled(inc);
    btnIncRemove->setEnabled(inc);
    btnExEdit->setEnabled(ex);
    btnExRemove->setEnabled(ex);
}

void TTaskEditor::btnScheduleClick()
{
    TScheduleDialog dialog(this);
    if (Exec(dialog) == QDialog::Accepted)
        edSchedule->setText(Q(EditorDateScheduleText(dialog.OnceAt())));
}

void TTaskEditor::edScheduleChange()
{
    if (!edSchedule->text().isEmpty())
        rbScheduleAt->setChecked(true);
}

void TTaskEditor::btnOKClick()
{
    TPXApp& app = m_session.App();
    TTaskEditFields fields = Fields();
    bool replace = false;
    // The normalised address replaces the typed one once it passed its checks; it is no edit
    // that would rename the task.
    auto showURL = [this, &fields] {
        m_loading = true;
        cmbURL->setEditText(Q(fields.url));
        m_loading = false;
    };
    TTaskEditCheck check = CheckTaskEdit(app, *m_task, ModeOf(m_caption), fields);
    if (check.kind == TTaskEditCheckKind::Replace) {
        showURL();
        if (ShowMessage(m_messages, this, QMessageBox::Critical, Q(check.message),
                        QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
            return;
        replace = true;
        check = CheckTaskEdit(app, *m_task, ModeOf(m_caption), fields, true);
    }
    if (check.message != kEditURLRequired && check.message != kEditURLScheme)
        showURL();
    if (!check.ok()) {
        ShowMessage(m_messages, this,
                    check.kind == TTaskEditCheckKind::Warning ? QMessageBox::Warning : QMessageBox::Critical,
                    Q(check.message));
        return;
    }
    const TTaskEditWriteResult written = WriteTaskEdit(app, *m_task, fields);
    if (!written.ok) {
        ShowMessage(m_messages, this, QMessageBox::Critical, Q(written.message));
        return;
    }
    if (!m_replaceZip.isEmpty() && !fields.intranetMode && QString::fromStdString(fields.zipFile) == m_replaceZip) {
        std::error_code ec;
        std::filesystem::remove(m_replaceZip.toStdString(), ec);
    }
    m_replacedExisting = replace && m_caption == TTaskEditorCaption::Add;
    m_movedCategory = written.movedCategory;
    accept();
}

} // namespace pellix
