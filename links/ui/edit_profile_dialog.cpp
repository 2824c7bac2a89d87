#include "links/ui/edit_profile_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "links/ui/form_helpers.h"
#include "links/file_types.h"
#include "workspace/app_settings.h"
#include "workspace/ui/help_viewer.h"
#include "workspace/ui/trash.h"

namespace pellix {

namespace {

using form::CheckStateOf;
using form::ListItems;
using form::Named;
using form::Q;
using form::SetListItems;

// Checks the button at index, or none of them for -1.
void CheckOne(const std::vector<QRadioButton*>& buttons, int index)
{
    for (QRadioButton* b : buttons)
        b->setAutoExclusive(false);
    for (std::size_t i = 0; i < buttons.size(); ++i)
        buttons[i]->setChecked(static_cast<int>(i) == index);
    for (QRadioButton* b : buttons)
        b->setAutoExclusive(true);
}

int CheckedIndex(const std::vector<QRadioButton*>& buttons)
{
    for (std::size_t i = 0; i < buttons.size(); ++i)
        if (buttons[i]->isChecked())
            return static_cast<int>(i);
    return -1;
}

constexpr const char* kMarkers[] = {"[AL]", "[PL]", "[RL]"};

} // namespace

TdlgEditProfile::TdlgEditProfile(TPXApp& app, QWidget* parent)
    : QDialog(parent), m_app(app), m_editor(app.ProfilesFolder())
{
    setWindowTitle(kProfilesEditorCaption);
    setObjectName("dlgEditProfile");
    // Until the window is first shown nothing the controls do counts as an edit.
    m_editor.SetLoading(true);
    m_editor.SetRemover([](const std::string& file) {
        // A deleted profile can be had back from the desktop's trash; without a trash it is removed.
        return MoveToTrash(Q(file), true).outcome != TTrashOutcome::Failed;
    });

    // Left: the profiles.
    auto* left = new QVBoxLayout;
    auto* listLabel = new QLabel("Profiles:", this);
    lvProfiles = Named(new QListWidget(this), "lvProfiles", "Profiles");
    lvProfiles->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    listLabel->setBuddy(lvProfiles);
    btnProfileNew = Named(new QPushButton("New", this), "btnProfileNew", "New");
    btnProfileDelete = Named(new QPushButton("Delete", this), "btnProfileDelete", "Delete");
    auto* listButtons = new QHBoxLayout;
    listButtons->addWidget(btnProfileNew);
    listButtons->addWidget(btnProfileDelete);
    left->addWidget(listLabel);
    left->addWidget(lvProfiles, 1);
    left->addLayout(listButtons);

    // Right: the profile on screen.
    auto* tabs = new QTabWidget(this);
    tabs->setObjectName("tabsProfile");
    tabs->addTab(BuildGeneralPage(), "Profile");
    tabs->addTab(BuildFileTypesPage(), "File Types");
    tabs->addTab(BuildFiltersPage(), "URL Filters");

    btnCancel = Named(new QPushButton("&Close", this), "btnCancel", "Close");
    btnCancel->setAutoDefault(false);
    auto* help = Named(new QPushButton("&Help", this), "btnHelp", "Help");
    help->setAutoDefault(false);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(help);
    bottom->addStretch();
    bottom->addWidget(btnCancel);

    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 1);
    columns->addWidget(tabs, 3);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns, 1);
    layout->addLayout(bottom);
    resize(720, 500);

    for (QPushButton* b : {btnProfileNew, btnProfileDelete})
        b->setAutoDefault(false);
    connect(lvProfiles, &QListWidget::currentItemChanged, this, &TdlgEditProfile::lvProfilesChange);
    connect(lvProfiles, &QListWidget::itemChanged, this, &TdlgEditProfile::lvProfilesEdited);
    connect(btnProfileNew, &QPushButton::clicked, this, &TdlgEditProfile::btnProfileNewClick);
    connect(btnProfileDelete, &QPushButton::clicked, this, &TdlgEditProfile::btnProfileDeleteClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(help, &QPushButton::clicked, this, [this] { ShowHelp(m_app, this, "profiles"); });
    BindHelpKey(app, this, "profiles");

    ListProfiles();
    EnableControls();
}

TdlgEditProfile::~TdlgEditProfile() = default;

QWidget* TdlgEditProfile::BuildGeneralPage()
{
    auto* page = new QWidget(this);
    edProfileName = Named(new QLineEdit(page), "edProfileName", "Profile Name:");
    auto* nameLabel = new QLabel("Profile Name:", page);
    nameLabel->setBuddy(edProfileName);
    cbUseStartPageTitle = Named(new QCheckBox("Automatically rename Zip files to Start Page Title", page),
                                "cbUseStartPageTitle", "Automatically rename Zip files to Start Page Title");
    auto* form = new QFormLayout;
    form->addRow(nameLabel, edProfileName);
    form->addRow(new QLabel("Auto-Rename:", page), cbUseStartPageTitle);

    auto* depthBox = new QGroupBox("Depth of retreival:", page);
    auto* depthText = new QLabel("How many levels of this site would you like to retrieve?", depthBox);
    depthText->setWordWrap(true);
    rbPageOnly = Named(new QRadioButton("This page only", depthBox), "rbPageOnly", "This page only");
    rbLevels = Named(new QRadioButton("This page and", depthBox), "rbLevels", "This page and");
    edLevels = Named(new QSpinBox(depthBox), "edLevels", "level/s");
    edLevels->setRange(1, 20);
    rbAll = Named(new QRadioButton("All levels", depthBox), "rbAll", "All levels");
    auto* levelsRow = new QHBoxLayout;
    levelsRow->addWidget(rbLevels);
    levelsRow->addWidget(edLevels);
    levelsRow->addWidget(new QLabel("level/s", depthBox));
    levelsRow->addStretch();
    auto* depthLayout = new QVBoxLayout(depthBox);
    depthLayout->addWidget(depthText);
    depthLayout->addWidget(rbPageOnly);
    depthLayout->addLayout(levelsRow);
    depthLayout->addWidget(rbAll);

    const auto locationBox = [&](const QString& title, const char* prefix, QRadioButton*& dir, QRadioButton*& site,
                                 QRadioButton*& anywhere) {
        auto* box = new QGroupBox(title, page);
        const QString p(prefix);
        dir = new QRadioButton("Current directory", box);
        site = new QRadioButton("Current site", box);
        anywhere = new QRadioButton("Anywhere", box);
        dir->setObjectName(p + "Dir");
        site->setObjectName(p + "Site");
        anywhere->setObjectName(p + "Anywhere");
        auto* l = new QVBoxLayout(box);
        for (QRadioButton* b : {dir, site, anywhere}) {
            b->setAccessibleName(title + " " + b->text());
            l->addWidget(b);
        }
        return box;
    };
    QGroupBox* pagesBox = locationBox("Pages must be within:", "rbPages", rbPagesDir, rbPagesSite, rbPagesAnywhere);
    QGroupBox* resBox = locationBox("Resources (images, sounds etc..) must be within:", "rbRes", rbResDir, rbResSite,
                                    rbResAnywhere);

    auto* grid = new QGridLayout;
    grid->addWidget(depthBox, 0, 0, 2, 1);
    grid->addWidget(pagesBox, 0, 1);
    grid->addWidget(resBox, 1, 1);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(form);
    layout->addLayout(grid);
    layout->addStretch();

    for (QRadioButton* b : {rbPageOnly, rbLevels, rbAll, rbPagesDir, rbPagesSite, rbPagesAnywhere, rbResDir, rbResSite,
                            rbResAnywhere})
        connect(b, &QRadioButton::clicked, this, &TdlgEditProfile::Changed);
    connect(cbUseStartPageTitle, &QCheckBox::clicked, this, &TdlgEditProfile::Changed);
    connect(edLevels, &QSpinBox::valueChanged, this, [this] {
        if (m_editor.Loading())
            return;
        rbLevels->setChecked(true);
        Changed();
    });
    return page;
}

QWidget* TdlgEditProfile::BuildFileTypesPage()
{
    auto* page = new QWidget(this);
    auto* label = new QLabel("File Types:", page);
    auto* text = new QLabel("Retrieve the following filetypes", page);
    cbAll = Named(new QCheckBox("All", page), "cbAll", "All");
    tvFileTypes = Named(new QTreeWidget(page), "tvFileTypes", "File Types:");
    tvFileTypes->setHeaderHidden(true);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(label);
    layout->addWidget(text);
    layout->addWidget(cbAll);
    layout->addWidget(tvFileTypes, 1);
    connect(cbAll, &QCheckBox::clicked, this, &TdlgEditProfile::cbAllClick);
    connect(tvFileTypes, &QTreeWidget::itemChanged, this, &TdlgEditProfile::tvFileTypesChange);
    return page;
}

QWidget* TdlgEditProfile::BuildFilterList(bool include)
{
    auto* box = new QGroupBox(include ? "URL Filter - Include:" : "URL Filter - Exclude:", this);
    auto* text = new QLabel(include ? "URL's MUST contain characters, words or phrases from at least one of the "
                                      "following groups."
                                    : "URL's MUST NOT contain characters, words or phrases from at least one of the "
                                      "following groups.",
                            box);
    text->setWordWrap(true);
    QListWidget* list = Named(new QListWidget(box), include ? "lbInc" : "lbEx",
                              include ? "URL Filter - Include:" : "URL Filter - Exclude:");
    auto* add = Named(new QPushButton("Add", box), include ? "btnIncAdd" : "btnExAdd", "Add");
    auto* edit = Named(new QPushButton("Edit...", box), include ? "btnIncEdit" : "btnExEdit", "Edit...");
    auto* remove = Named(new QPushButton("Remove", box), include ? "btnIncRemove" : "btnExRemove", "Remove");
    const char* const incItems[] = {"All links must contain...", "Page links must contain...",
                                    "Resource links must contain..."};
    const char* const exItems[] = {"All links must not contain...", "Page links must not contain...",
                                   "Resource links must not contain..."};
    auto* menu = new QMenu(add);
    for (int i = 0; i < 3; ++i) {
        const QString marker = kMarkers[i];
        menu->addAction(include ? incItems[i] : exItems[i], this,
                        [this, include, marker] { AddFilter(include, marker); });
    }
    add->setMenu(menu);
    for (QPushButton* b : {add, edit, remove})
        b->setAutoDefault(false);
    connect(edit, &QPushButton::clicked, this, [this, include] { EditFilter(include); });
    connect(remove, &QPushButton::clicked, this, [this, include] { RemoveFilter(include); });
    connect(list, &QListWidget::currentRowChanged, this, &TdlgEditProfile::FilterSelect);
    connect(list, &QListWidget::itemDoubleClicked, this, [this, include] { EditFilter(include); });

    auto* side = new QVBoxLayout;
    side->addWidget(add);
    side->addWidget(edit);
    side->addWidget(remove);
    side->addStretch();
    auto* row = new QHBoxLayout;
    row->addWidget(list, 1);
    row->addLayout(side);
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(text);
    layout->addLayout(row, 1);
    (include ? lbInc : lbEx) = list;
    (include ? btnIncAdd : btnExAdd) = add;
    (include ? btnIncEdit : btnExEdit) = edit;
    (include ? btnIncRemove : btnExRemove) = remove;
    return box;
}

QWidget* TdlgEditProfile::BuildFiltersPage()
{
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(BuildFilterList(true));
    layout->addWidget(BuildFilterList(false));
    FilterSelect();
    return page;
}

void TdlgEditProfile::ListProfiles(const QString& select)
{
    m_listing = true;
    lvProfiles->clear();
    for (const std::string& name : m_editor.ProfileNames()) {
        auto* item = new QListWidgetItem(Q(name), lvProfiles);
        item->setFlags(item->flags() | Qt::ItemIsEditable);
    }
    m_listing = false;
    if (QListWidgetItem* item = select.isEmpty() ? nullptr : ProfileItem(select))
        lvProfiles->setCurrentItem(item);
}

QListWidgetItem* TdlgEditProfile::ProfileItem(const QString& name) const
{
    const QList<QListWidgetItem*> items = lvProfiles->findItems(name, Qt::MatchExactly);
    return items.isEmpty() ? nullptr : items.front();
}

void TdlgEditProfile::LeaveProfile()
{
    if (!m_editor.HasSelection() || !m_editor.Changed())
        return;
    if (Ask(QMessageBox::Question, Q(TProfileEditor::SaveQuestion(edProfileName->text().toStdString())),
            QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
        const TProfileEditResult saved = m_editor.Save(Fields());
        if (!saved.ok)
            Ask(QMessageBox::Critical, Q(saved.message));
    }
    m_editor.ClearChanged();
}

void TdlgEditProfile::lvProfilesChange(QListWidgetItem* current, QListWidgetItem*)
{
    if (m_listing)
        return;
    LeaveProfile();
    if (!current) {
        m_editor.Deselect();
    } else if (!m_editor.HasSelection() || current->text().toStdString() != m_editor.SelectedName()) {
        const bool wasLoading = m_editor.Loading();
        m_editor.SetLoading(true);
        ShowFields(m_editor.Select(current->text().toStdString()));
        m_editor.SetLoading(wasLoading);
    }
    EnableControls();
}

void TdlgEditProfile::lvProfilesEdited(QListWidgetItem* item)
{
    if (m_listing || !item)
        return;
    RenameItem(item, item->text());
}

void TdlgEditProfile::RenameItem(QListWidgetItem* item, const QString& text)
{
    if (item != lvProfiles->currentItem() || !m_editor.HasSelection())
        return;
    const std::string name = text.trimmed().toStdString();
    if (name == m_editor.SelectedName()) {
        if (item->text() != text.trimmed()) {
            m_listing = true;
            item->setText(text.trimmed());
            m_listing = false;
        }
        return;
    }
    const TProfileEditResult renamed = m_editor.Rename(name, Fields());
    m_listing = true;
    item->setText(Q(m_editor.SelectedName()));
    m_listing = false;
    if (!renamed.ok) {
        Ask(QMessageBox::Critical, Q(renamed.message));
        return;
    }
    const bool wasLoading = m_editor.Loading();
    m_editor.SetLoading(true);
    edProfileName->setText(Q(name));
    m_editor.SetLoading(wasLoading);
}

void TdlgEditProfile::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    m_editor.SetLoading(false);
}

void TdlgEditProfile::reject()
{
    // Closing asks about the edits on screen as moving to another profile does: never lost unasked.
    LeaveProfile();
    QDialog::reject();
}

TProfileEditFields TdlgEditProfile::Fields() const
{
    TProfileEditFields fields;
    fields.profileName = edProfileName->text().toStdString();
    fields.useStartPageTitle = cbUseStartPageTitle->isChecked();
    fields.allFileTypes = m_tree.AllChecked();
    fields.fileTypes = m_tree.Collect();
    fields.depth = rbAll->isChecked()        ? TDepthChoice::All
                   : rbPageOnly->isChecked() ? TDepthChoice::PageOnly
                   : rbLevels->isChecked()   ? TDepthChoice::Levels
                                             : TDepthChoice::None;
    fields.levels = edLevels->value();
    fields.pageLocation = CheckedIndex({rbPagesDir, rbPagesSite, rbPagesAnywhere});
    fields.resourceLocation = CheckedIndex({rbResDir, rbResSite, rbResAnywhere});
    fields.includeFilters = ListItems(lbInc);
    fields.excludeFilters = ListItems(lbEx);
    return fields;
}

void TdlgEditProfile::ShowFields(const TProfileEditFields& fields)
{
    edProfileName->setText(Q(fields.profileName));
    cbUseStartPageTitle->setChecked(fields.useStartPageTitle);
    m_tree.Build(ReadFileTypeGroups(m_app.Store()),
                 fields.allFileTypes ? std::vector<std::string>{} : fields.fileTypes);
    m_tree.SetAllChecked(fields.allFileTypes);
    m_tree.SetChanged(false);
    m_treeItems.clear();
    ShowFileTypes();
    SetListItems(lbInc, fields.includeFilters);
    SetListItems(lbEx, fields.excludeFilters);
    const int depth = fields.depth == TDepthChoice::PageOnly ? 0
                      : fields.depth == TDepthChoice::Levels ? 1
                      : fields.depth == TDepthChoice::All    ? 2
                                                             : -1;
    CheckOne({rbPageOnly, rbLevels, rbAll}, depth);
    edLevels->setValue(fields.depth == TDepthChoice::Levels ? fields.levels : 1);
    CheckOne({rbPagesDir, rbPagesSite, rbPagesAnywhere}, fields.pageLocation);
    CheckOne({rbResDir, rbResSite, rbResAnywhere}, fields.resourceLocation);
    FilterSelect();
}

void TdlgEditProfile::ShowFileTypes()
{
    const bool wasLoading = m_editor.Loading();
    m_editor.SetLoading(true);
    const std::vector<TFileTypeNode>& nodes = m_tree.Nodes();
    if (m_treeItems.size() != nodes.size()) {
        tvFileTypes->clear();
        m_treeItems.clear();
        QTreeWidgetItem* group = nullptr;
        for (const TFileTypeNode& node : nodes) {
            QTreeWidgetItem* item = node.isGroup || !group ? new QTreeWidgetItem(tvFileTypes) : new QTreeWidgetItem(group);
            if (node.isGroup)
                group = item;
            m_treeItems.push_back(item);
        }
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
    tvFileTypes->setEnabled(m_tree.TreeEnabled() && m_editor.HasSelection());
    m_editor.SetLoading(wasLoading);
}

void TdlgEditProfile::ToggleFileType(std::size_t node)
{
    m_tree.Toggle(node);
    ShowFileTypes();
    Changed();
}

void TdlgEditProfile::tvFileTypesChange(QTreeWidgetItem* item, int column)
{
    if (m_editor.Loading() || column != 0)
        return;
    const auto it = std::find(m_treeItems.begin(), m_treeItems.end(), item);
    if (it != m_treeItems.end())
        ToggleFileType(static_cast<std::size_t>(it - m_treeItems.begin()));
}

void TdlgEditProfile::cbAllClick()
{
    m_tree.SetAllChecked(cbAll->isChecked());
    ShowFileTypes();
    Changed();
}

void TdlgEditProfile::AddFilter(bool include, const QString& marker)
{
    if (!m_editor.HasSelection())
        return;
    bool ok = false;
    const QString text = AskFilter(include ? "URL Filter - Include" : "URL Filter - Exclude", {}, &ok).trimmed();
    if (!ok || text.isEmpty())
        return;
    QListWidget* list = include ? lbInc : lbEx;
    list->addItem(marker + text);
    list->setCurrentRow(list->count() - 1);
    Changed();
}

void TdlgEditProfile::EditFilter(bool include)
{
    QListWidget* list = include ? lbInc : lbEx;
    QListWidgetItem* item = list->currentItem();
    if (!item)
        return;
    const QString line = item->text();
    const QString marker = line.left(4);
    // Only a line with its link kind can be opened: the kind is kept, the terms edited.
    if (std::none_of(std::begin(kMarkers), std::end(kMarkers), [&](const char* m) { return marker == m; }))
        return;
    bool ok = false;
    const QString text =
        AskFilter(include ? "URL Filter - Include" : "URL Filter - Exclude", line.mid(4), &ok).trimmed();
    if (!ok || text.isEmpty() || marker + text == line)
        return;
    item->setText(marker + text);
    Changed();
}

void TdlgEditProfile::RemoveFilter(bool include)
{
    QListWidget* list = include ? lbInc : lbEx;
    if (list->currentRow() < 0)
        return;
    delete list->takeItem(list->currentRow());
    FilterSelect();
    Changed();
}

void TdlgEditProfile::FilterSelect()
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

void TdlgEditProfile::EnableControls()
{
    const bool selected = m_editor.HasSelection();
    for (QWidget* w : std::initializer_list<QWidget*>{edProfileName, cbUseStartPageTitle, cbAll, rbPageOnly, rbLevels,
                                                      edLevels, rbAll, rbPagesDir, rbPagesSite, rbPagesAnywhere,
                                                      rbResDir, rbResSite, rbResAnywhere, lbInc, lbEx, btnIncAdd,
                                                      btnExAdd})
        w->setEnabled(selected);
    tvFileTypes->setEnabled(selected && m_tree.TreeEnabled());
    btnProfileDelete->setEnabled(selected);
    if (!selected) {
        const bool wasLoading = m_editor.Loading();
        m_editor.SetLoading(true);
        ShowFields(ProfileEditFieldsOf(TPXProfile(), {}));
        m_editor.SetLoading(wasLoading);
    }
    FilterSelect();
    if (!selected)
        for (QWidget* w : std::initializer_list<QWidget*>{btnIncEdit, btnIncRemove, btnExEdit, btnExRemove})
            w->setEnabled(false);
}

void TdlgEditProfile::Changed() { m_editor.MarkChanged(); }

void TdlgEditProfile::btnProfileNewClick()
{
    m_listing = true;
    auto* item = new QListWidgetItem(kNewProfileName, lvProfiles);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    m_listing = false;
    LeaveProfile();
    // Selecting a second "New Profile" would look like staying on the first.
    m_editor.Deselect();
    lvProfiles->setCurrentItem(item);
    lvProfiles->setFocus();
    lvProfiles->editItem(item);
    m_editor.MarkChanged();
}

void TdlgEditProfile::btnProfileDeleteClick()
{
    if (!m_editor.HasSelection())
        return;
    const TProfileEditResult deleted = m_editor.Delete();
    if (!deleted.ok)
        Ask(QMessageBox::Critical, Q(deleted.message));
    ListProfiles();
    EnableControls();
}

QString TdlgEditProfile::AskFilter(const QString& title, const QString& text, bool* ok)
{
    if (askFilter)
        return askFilter(title, text, ok);
    return QInputDialog::getText(this, title, "Characters, words or phrases, separated by commas:", QLineEdit::Normal,
                                 text, ok);
}

QMessageBox::StandardButton TdlgEditProfile::Ask(QMessageBox::Icon icon, const QString& text,
                                                  QMessageBox::StandardButtons buttons)
{
    return ShowMessage(m_messages, this, icon, text, buttons);
}

} // namespace pellix
