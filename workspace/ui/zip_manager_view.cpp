// TZipManagerView: the Zip Properties view and the zip manager's commands.
#include "workspace/ui/zip_manager_view.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <cstdio>
#include <filesystem>
#include <set>
#include <utility>

#include "engine/task.h"
#include "links/date_time.h"
#include "links/file_types.h"
#include "tasks/status_model.h"
#include "workspace/app_settings.h"
#include "workspace/session.h"
#include "workspace/task_runner.h"
#include "workspace/text_editor.h"
#include "workspace/ui/trash.h"
#include "workspace/ui/unzip_dialog.h"
#include "workspace/unzip_rules.h"
#include "workspace/ui/zip_icon_cache.h"
#include "workspace/ui/zip_list_model.h"
#include "workspace/ui/zip_page_model.h"
#include "workspace/ui/zip_tree_model.h"
#include "workspace/ui/zip_wizard.h"
#include "workspace/url_launcher.h"

namespace pellix {

namespace fs = std::filesystem;

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

constexpr const char* kZipFilter = "Zip file (*.ZIP *.zip)|All files (*)";

} // namespace

TZipManagerView::TZipManagerView(TSession& session, QTreeView* zipTree, QTreeView* pageTree, QWidget* parent)
    : QWidget(parent), m_session(session), m_zipTree(zipTree), m_pageTree(pageTree),
      m_icons(std::make_unique<TZipIconCache>()), m_manager(std::make_unique<TZipManager>(session.Owner()))
{
    setObjectName("ZipProperties");
    setAccessibleName("Zip Properties");
    m_treeModel = new TZipTreeModel(*m_icons, this);
    m_listModel = new TZipListModel(*m_icons, this);
    m_pageModel = new TZipPageModel(this);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    m_list = new QTreeView(this);
    m_list->setObjectName("lvZip");
    m_list->setAccessibleName("Zip file list");
    m_list->setModel(m_listModel);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSortingEnabled(true);
    m_list->header()->setSortIndicatorShown(true);
    m_list->header()->setSortIndicator(-1, Qt::AscendingOrder);
    m_list->setDragDropMode(QAbstractItemView::DropOnly);
    m_list->setAcceptDrops(true);
    m_list->setDropIndicatorShown(false);
    const int widths[] = {150, 70, 70, 50, 120, 300};
    for (int c = 0; c < TZipListModel::ColumnCount; ++c)
        m_list->setColumnWidth(c, widths[c]);
    // Dates in the system's format are never cut short.
    const QString sample = TZipListModel::ModifiedText(EncodeDateTime(2026, 12, 28, 22, 58, 58));
    m_list->setColumnWidth(TZipListModel::Modified, std::max(120, m_list->fontMetrics().horizontalAdvance(sample) + 16));
    column->addWidget(m_list, 1);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(4, 0, 4, 2);
    m_totals = new QLabel(this);
    m_totals->setObjectName("lblTotals");
    m_totals->setAccessibleName("Totals");
    m_selection = new QLabel(this);
    m_selection->setObjectName("lblSelection");
    m_selection->setAccessibleName("Selection");
    m_cancel = new QToolButton(this);
    m_cancel->setObjectName("btnZipCancel");
    m_cancel->setText("Cancel");
    m_cancel->setAccessibleName("Cancel");
    m_cancel->setToolTip("Stop the running Zip operation (Esc)");
    m_cancel->hide();
    bar->addWidget(m_totals, 1);
    bar->addWidget(m_selection);
    bar->addWidget(m_cancel);
    column->addLayout(bar);
    connect(m_cancel, &QToolButton::clicked, this, [this] { Cancel(); });
    auto* escape = new QAction(this);
    escape->setShortcut(Qt::Key_Escape);
    escape->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QAction::triggered, this, [this] { Cancel(); });
    addAction(escape);

    m_zipTree->setModel(m_treeModel);
    m_zipTree->setEditTriggers(QAbstractItemView::EditKeyPressed);
    m_zipTree->setUniformRowHeights(true);
    m_pageTree->setModel(m_pageModel);
    m_pageTree->setRootIsDecorated(false);
    m_pageTree->setUniformRowHeights(true);

    connect(m_zipTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &TZipManagerView::CurrentChanged);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { UpdateSelectionText(); });
    connect(m_list, &QTreeView::doubleClicked, this, [this] { Browse(TBrowseWith::Default); });
    connect(m_listModel, &TZipListModel::FilesDropped, this, [this](const QStringList& files) { AddFiles(files); });
    connect(m_pageTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { emit SelectionMoved(); });
    connect(m_pageTree, &QTreeView::activated, this, [this](const QModelIndex& index) {
        const std::string entry = m_pageModel->EntryAt(index.row());
        if (!entry.empty() && !m_pagesOf.empty())
            emit PageChosen(Q(m_pagesOf), Q(entry));
    });
    m_treeModel->OnRename = [this](TZipTree& tree, const QString& name) { return RenameZip(tree, name); };

    // Defaults: boxes, the real dialogs and launchers.
    Message = [this](TRunnerMessageKind kind, const QString& text) {
        QTimer::singleShot(0, this, [this, kind, text] {
            if (kind == TRunnerMessageKind::Error)
                QMessageBox::critical(this, "Pellix", text);
            else
                QMessageBox::information(this, "Pellix", text);
        });
    };
    Confirm = [this](const QString& title, const QString& question) {
        return QMessageBox::question(this, title, question, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    AskReplace = [this](const QString& text) {
        QMessageBox box(QMessageBox::Information, "Pellix", text, QMessageBox::NoButton, this);
        box.addButton(QMessageBox::Yes);
        box.addButton(QMessageBox::No);
        box.addButton(QMessageBox::Cancel);
        QAbstractButton* all = box.addButton("All", QMessageBox::YesRole);
        box.exec();
        if (box.clickedButton() == all)
            return TReplaceButton::All;
        switch (box.standardButton(box.clickedButton())) {
        case QMessageBox::Yes: return TReplaceButton::Yes;
        case QMessageBox::No: return TReplaceButton::No;
        default: return TReplaceButton::Cancel;
        }
    };
    RunWizard = [this](const TZipWizardPreset& preset) { return TZipWizard::Run(window(), m_session.App(), preset); };
    RunUnzip = [this](bool allFiles) { return TUnzipDialog::Run(window(), m_session.App(), allFiles); };
    AskOpenPath = [this] {
        QString folder = Q(m_session.App().ZipFolder());
        return QFileDialog::getOpenFileName(window(), "Open Zip File", folder, "Zip file (*.ZIP *.zip);;All files (*)");
    };
    Launch = [this](TBrowseWith with, const std::string& file) {
        switch (with) {
        case TBrowseWith::FirstBrowser: return m_session.App().URLLauncher().OpenWith(TURLLauncher::ChromiumPath(), file);
        case TBrowseWith::SecondBrowser: return m_session.App().URLLauncher().OpenWith(TURLLauncher::FirefoxPath(), file);
        case TBrowseWith::TextEditor: return TTextEditor::Start(TTextEditor::ExecArguments(m_editorExec, file));
        case TBrowseWith::Default: return m_session.App().URLLauncher().Open(file);
        }
        return false;
    };
    (void)kZipFilter;

    // Core events of the operations.
    m_manager->SetTaskZip([this] { return TaskZipPath(); });
    m_manager->OnStatusText = [this](const std::string& text) { m_session.Status().ShowStatus(text, 0, 0); };
    m_manager->OnProgress = [this](const std::string& text, std::int64_t position, std::int64_t maximum) {
        TStatusModel& status = m_session.Status();
        if (maximum <= 0)
            status.ShowStatus(status.StatusText(), 0, 0);
        else
            status.ShowStatus(text, position, maximum);
    };
    m_manager->OnReplace = [this](const std::string& file, std::string& name, TZipReplaceAction& action) {
        action = ReplaceActionOf(AskReplace(Q(ReplacePromptText(file, name))));
    };
    m_session.Events().Subscribe(*this);
    UpdateBusy();
}

TZipManagerView::~TZipManagerView()
{
    m_session.Events().Unsubscribe(*this);
    m_manager.reset();
}

std::string TZipManagerView::TaskZipPath() const
{
    const std::shared_ptr<TPXTask> running = m_session.Runner().RunningTask();
    if (!running || running->IntranetMode())
        return {};
    return running->Destination();
}

void TZipManagerView::Show(TRunnerMessageKind kind, const std::string& text)
{
    if (!text.empty() && Message)
        Message(kind, Q(text));
}

void TZipManagerView::ShowView(const TZipResultView& view)
{
    if (view.kind == TZipMessageKind::None || view.message.empty())
        return;
    Show(view.kind == TZipMessageKind::Error ? TRunnerMessageKind::Error : TRunnerMessageKind::Information,
         view.message);
}

void TZipManagerView::Refused(const std::string& text)
{
    Show(TRunnerMessageKind::Error, text.empty() ? std::string("Wait until the running Zip operation has ended.") : text);
}

void TZipManagerView::UpdateBusy()
{
    const bool busy = m_manager->Busy();
    // Hiding the focused Cancel button would hand the focus to the next widget (the address box):
    // the tree keeps it, so the Zip menu's keys go on acting on the selected Zip.
    const bool hadFocus = !busy && m_cancel->hasFocus();
    m_cancel->setVisible(busy);
    if (hadFocus || (!busy && !QApplication::focusWidget() && m_zipTree->isVisible()))
        m_zipTree->setFocus();
    emit BusyChanged();
}

bool TZipManagerView::ZipSelected() const { return m_treeModel->TreeOf(m_zipTree->currentIndex()) != nullptr; }

std::string TZipManagerView::SelectedZipPath() const
{
    const TZipTree* tree = m_treeModel->TreeOf(m_zipTree->currentIndex());
    return tree ? tree->ZipPath() : std::string();
}

TZipEntryRef TZipManagerView::BrowseSelection(bool pageList) const
{
    TZipEntryRef selection;
    if (pageList) {
        const QModelIndex page = m_pageTree->currentIndex();
        if (!m_pagesOf.empty() && page.isValid()) {
            selection.zipPath = m_pagesOf;
            selection.entry = m_pageModel->EntryAt(page.row());
        }
        return selection;
    }
    selection.zipPath = SelectedZipPath();
    const TZipNode* node = TZipTreeModel::NodeOf(m_zipTree->currentIndex());
    if (!selection.zipPath.empty() && node && node->kind == TZipNodeKind::File)
        selection.entry = TZipTree::EntryPathOf(*node);
    return selection;
}

TFocusKind TZipManagerView::Focus() const
{
    const QWidget* focus = QApplication::focusWidget();
    if (focus == m_zipTree || (focus && m_zipTree->isAncestorOf(focus)))
        return TFocusKind::ZipTree;
    if (focus == m_list)
        return TFocusKind::ZipList;
    return TFocusKind::Other;
}

TZipCommands TZipManagerView::Commands(bool firstBrowser, bool secondBrowser) const
{
    auto* self = const_cast<TZipManagerView*>(this);
    if (!m_editorLooked) {
        self->m_editorExec = TTextEditor::Find();
        self->m_editorLooked = true;
    }
    TZipCommandState state;
    state.zipSelected = ZipSelected();
    const TZipNode* node = TZipTreeModel::NodeOf(m_zipTree->currentIndex());
    state.rootSelected = node && node->kind == TZipNodeKind::Root;
    state.focus = Focus();
    state.listSelection = m_list->selectionModel()->selectedRows().size();
    state.busy = m_manager->Busy();
    state.taskWritesZip = state.zipSelected && !m_manager->TaskZipRefusal(SelectedZipPath()).empty();
    state.firstBrowser = firstBrowser;
    state.secondBrowser = secondBrowser;
    state.textEditor = !m_editorExec.empty();
    return ZipCommands(state);
}

std::string TZipManagerView::BrowseFolder(const std::string& zipPath) const
{
    // One folder per Zip: two Zips with the same entry names never show each other's files.
    const std::string stem = fs::path(zipPath).stem().string();
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016zx", std::hash<std::string>{}(zipPath));
    return m_session.App().TempFolder() + "zips/" + stem + "-" + hash + "/";
}

// ---- Opening and closing ----

bool TZipManagerView::SelectNode(const std::string& zipPath, const std::string& entryPath)
{
    TZipTree* tree = m_treeModel->FindTree(zipPath);
    if (!tree)
        return false;
    const TZipNode* node = entryPath.empty() ? &tree->Root() : tree->FindEntry(entryPath);
    if (!node)
        node = tree->FindFolder(entryPath);
    if (!node)
        return false;
    m_zipTree->setCurrentIndex(m_treeModel->IndexOf(node));
    return m_zipTree->currentIndex() == m_treeModel->IndexOf(node);
}

void TZipManagerView::OpenThen(const std::string& path, std::function<void()> then)
{
    emit ShowRequested();
    if (m_treeModel->FindTree(path)) {
        SelectNode(path);
        if (then)
            then();
        return;
    }
    const bool started = m_manager->Open(path, [this, path, then = std::move(then)](TZipListing listing) {
        UpdateBusy();
        if (!listing.tree) {
            ShowView(listing.view);
            m_session.Status().ShowStatus("Ready", 0, 0);
            RunPending();
            return;
        }
        m_data[path].rows = std::move(listing.rows);
        const QModelIndex root = m_treeModel->AddTree(std::move(listing.tree));
        emit ZipOpened(Q(path));
        m_zipTree->setCurrentIndex(root);
        // The Zip menu acts on the focused tree: a Zip just opened is ready for Ctrl+U or Ctrl+A.
        m_zipTree->setFocus();
        RunPending();
        if (then)
            then();
    });
    if (!started)
        Refused({});
    UpdateBusy();
}

void TZipManagerView::OpenZip(const QString& path)
{
    std::string p = S(path);
    if (!QFileInfo(path).isFile()) {
        Show(TRunnerMessageKind::Error, "The file " + p + " no longer exists.");
        return;
    }
    OpenThen(p, {});
}

void TZipManagerView::OpenDialog()
{
    const QString path = AskOpenPath ? AskOpenPath() : QString();
    if (!path.isEmpty())
        OpenZip(path);
}

void TZipManagerView::CreateNode(const std::string& path)
{
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    if (!m_treeModel->FindTree(path)) {
        m_data[path] = {};
        m_treeModel->AddTree(std::make_unique<TZipTree>(path));
    }
    emit ZipOpened(Q(path));
    SelectNode(path);
}

void TZipManagerView::CloseZip()
{
    if (m_manager->Busy())
        return Refused({});
    TZipTree* tree = m_treeModel->TreeOf(m_zipTree->currentIndex());
    if (!tree)
        return;
    const std::string path = tree->ZipPath();
    m_treeModel->RemoveTree(*tree);
    m_data.erase(path);
    if (!m_zipTree->currentIndex().isValid()) {
        m_listModel->SetRows({});
        m_totals->clear();
        m_selection->clear();
    }
    RebuildPages();
}

// ---- Listing ----

void TZipManagerView::CurrentChanged(const QModelIndex& current, const QModelIndex&)
{
    if (m_reverting)
        return;
    // A listing or change in progress keeps the selection where it is.
    if (m_manager->Busy() && m_lastCurrent.isValid() && current != m_lastCurrent) {
        m_reverting = true;
        m_zipTree->setCurrentIndex(m_lastCurrent);
        m_reverting = false;
        return;
    }
    m_lastCurrent = current;
    ListNode();
    if (SelectedZipPath() != m_pagesOf)
        RebuildPages();
    emit SelectionMoved();
}

void TZipManagerView::ListNode()
{
    const TZipTree* tree = m_treeModel->TreeOf(m_zipTree->currentIndex());
    const TZipNode* node = TZipTreeModel::NodeOf(m_zipTree->currentIndex());
    if (!tree || !node) {
        m_listModel->SetRows({});
        m_totals->clear();
        UpdateSelectionText();
        return;
    }
    const std::vector<TZipEntry>& all = m_data[tree->ZipPath()].rows;
    std::vector<TZipEntry> rows;
    const std::string pattern = TZipTree::EntryPathOf(*node);
    // Folder entries have their nodes in the tree; the list shows files.
    int files = 0;
    for (const TZipEntry& e : all) {
        if (e.name.empty() || e.name.back() == '/')
            continue;
        ++files;
        if (node->kind == TZipNodeKind::Root || TZipEngine::MatchesPattern(pattern, e.name))
            rows.push_back(e);
    }
    std::int64_t size = 0, packed = 0;
    for (const TZipEntry& e : rows) {
        size += e.size;
        packed += e.compressedSize;
    }
    const auto count = static_cast<std::int64_t>(rows.size());
    m_listModel->SetRows(std::move(rows));
    m_totals->setText(Q(TZipArchive::TotalsText(count, size, packed, files)));
    UpdateSelectionText();
}

void TZipManagerView::UpdateSelectionText()
{
    std::int64_t size = 0, packed = 0;
    const QModelIndexList rows = m_list->selectionModel()->selectedRows();
    for (const QModelIndex& i : rows) {
        size += m_listModel->Entry(i.row()).size;
        packed += m_listModel->Entry(i.row()).compressedSize;
    }
    m_selection->setText(Q(TZipArchive::SelectionText(rows.size(), size, packed)));
}

QString TZipManagerView::TotalsText() const { return m_totals->text(); }
QString TZipManagerView::SelectionText() const { return m_selection->text(); }

void TZipManagerView::RebuildPages()
{
    m_pagesOf = SelectedZipPath();
    std::vector<TZipPageModel::TPage> pages;
    if (!m_pagesOf.empty()) {
        const std::vector<TFileTypeGroup> groups = ReadFileTypeGroups(m_session.App().Store());
        for (const TZipEntry& e : m_data[m_pagesOf].rows) {
            // A name without extension is no page (and would match any group's list).
            const std::string name = TZipTree::NameOf(e.name);
            if (name.find('.') != std::string::npos && FileTypeOfFile(groups, name) == "HTML") {
                TZipNode caption;
                caption.name = TZipTree::NameOf(e.name);
                caption.comment = e.comment;
                pages.push_back({e.name, caption.Caption()});
            }
        }
    }
    m_pageModel->SetPages(std::move(pages));
    if (m_pageModel->rowCount() > 0)
        m_pageTree->setCurrentIndex(m_pageModel->index(0, 0));
}

void TZipManagerView::ApplyRows(const std::string& path, std::vector<TZipEntry> rows)
{
    TZipTree* tree = m_treeModel->FindTree(path);
    if (!tree)
        return;
    const std::string current = SelectedZipPath();
    const TZipNode* node = TZipTreeModel::NodeOf(m_zipTree->currentIndex());
    const std::string selected = node ? (node->kind == TZipNodeKind::Root ? std::string() : node->path) : std::string();
    std::set<std::string> before;
    for (const TZipEntry& e : m_data[path].rows)
        before.insert(e.name);
    m_treeModel->Sync(*tree, rows);
    m_data[path].rows = std::move(rows);
    if (current != path)
        return;
    // The selected node may have gone with its entries: its Zip's root takes its place.
    if (!m_zipTree->currentIndex().isValid() || (!selected.empty() && !tree->FindEntry(selected) &&
                                                 !tree->FindFolder(selected))) {
        m_zipTree->setCurrentIndex(m_treeModel->IndexOf(&tree->Root()));
    }
    ListNode();
    RebuildPages();
}

void TZipManagerView::ApplyChange(const std::string& path, const TZipChange& change)
{
    ShowView(change.outcome.view);
    if (change.after.code == kZipOk)
        ApplyRows(path, change.after.rows);
}

void TZipManagerView::RunPending()
{
    UpdateBusy();
    if (m_relistPath.empty() || m_manager->Busy())
        return;
    const std::string path = std::exchange(m_relistPath, {});
    if (!m_treeModel->FindTree(path))
        return;
    m_manager->Relist(path, [this, path](TZipListing listing) {
        if (listing.code == kZipOk) {
            // Entries packed since: added to the tree, and to the list when the node shows them.
            const TZipNode* node = TZipTreeModel::NodeOf(m_zipTree->currentIndex());
            if (SelectedZipPath() == path && node) {
                const std::string pattern = TZipTree::EntryPathOf(*node);
                TZipTree* tree = m_treeModel->FindTree(path);
                std::vector<TZipEntry> added;
                for (const TZipEntry& e : listing.rows)
                    if (!e.name.empty() && e.name.back() != '/' && !tree->FindEntry(e.name) &&
                        TZipEngine::MatchesPattern(pattern, e.name))
                        added.push_back(e);
                m_treeModel->Sync(*tree, listing.rows);
                m_data[path].rows = std::move(listing.rows);
                m_listModel->AppendRows(added);
                if (m_pagesOf == path && !added.empty()) {
                    // New pages join the page list; the page chosen stays chosen.
                    const std::string chosen = m_pageModel->EntryAt(m_pageTree->currentIndex().row());
                    RebuildPages();
                    for (int r = 0; r < m_pageModel->rowCount(); ++r)
                        if (m_pageModel->EntryAt(r) == chosen)
                            m_pageTree->setCurrentIndex(m_pageModel->index(r, 0));
                }
                std::int64_t size = 0, packed = 0;
                for (const TZipEntry& e : m_listModel->Rows()) {
                    size += e.size;
                    packed += e.compressedSize;
                }
                m_totals->setText(Q(TZipArchive::TotalsText(m_listModel->rowCount(), size, packed,
                                                            static_cast<int>(tree->EntryCount()))));
            } else if (TZipTree* tree = m_treeModel->FindTree(path)) {
                m_treeModel->Sync(*tree, listing.rows);
                m_data[path].rows = std::move(listing.rows);
            }
        }
        RunPending();
    });
    UpdateBusy();
}

void TZipManagerView::OnZipPacked(TPXTask& task, std::size_t)
{
    if (task.IntranetMode() || !m_treeModel->FindTree(task.Destination()))
        return;
    m_relistPath = task.Destination();
    RunPending();
}

void TZipManagerView::OnTaskChanged(TPXTask& task)
{
    // A zip-mode run shows its Zip file in the tree from its start.
    const std::shared_ptr<TPXTask> running = m_session.Runner().RunningTask();
    if (running.get() != &task || task.IntranetMode() || task.Status() != kStatusDownloading)
        return;
    const std::string path = task.Destination();
    if (m_treeModel->FindTree(path))
        return;
    std::error_code ec;
    if (fs::is_regular_file(path, ec) && fs::file_size(path, ec) > 0)
        OpenThen(path, {});
    else
        CreateNode(path);
}

// ---- Adding ----

void TZipManagerView::NewFileZip()
{
    if (std::optional<TZipWizardChoice> choice = RunWizard({}))
        ActOnWizard(*choice);
}

void TZipManagerView::AddFiles(const QStringList& dropped)
{
    TZipWizardPreset preset;
    preset.zipPath = SelectedZipPath();
    preset.openExisting = !preset.zipPath.empty();
    for (const QString& file : dropped)
        preset.droppedFiles.push_back(S(file));
    if (!preset.zipPath.empty()) {
        if (std::string refusal = m_manager->TaskZipRefusal(preset.zipPath); !refusal.empty())
            return Refused(refusal);
    }
    const QPointer<QWidget> focused = QApplication::focusWidget();
    std::optional<TZipWizardChoice> choice = RunWizard(preset);
    if (focused)
        focused->setFocus();
    if (choice)
        ActOnWizard(*choice);
}

void TZipManagerView::ActOnWizard(const TZipWizardChoice& choice)
{
    if (choice.zipPath.empty())
        return;
    if (std::string refusal = m_manager->TaskZipRefusal(choice.zipPath); !refusal.empty())
        return Refused(refusal);
    if (m_manager->Busy())
        return Refused({});
    std::error_code ec;
    if (choice.openExisting && fs::is_regular_file(choice.zipPath, ec) && fs::file_size(choice.zipPath, ec) > 0) {
        OpenThen(choice.zipPath, [this, choice] { AddChosen(choice); });
        return;
    }
    if (!choice.openExisting && choice.replaceExisting && fs::exists(choice.zipPath, ec)) {
        // The user confirmed a new Zip in place of this file: it starts empty.
        if (!fs::remove(choice.zipPath, ec) || ec)
            return Refused("Cannot replace " + choice.zipPath + ": " + ec.message());
    }
    CreateNode(choice.zipPath);
    AddChosen(choice);
}

void TZipManagerView::AddChosen(const TZipWizardChoice& choice)
{
    if (choice.files.empty())
        return;
    const std::string path = choice.zipPath;
    const bool started = m_manager->Add(path, choice.files, choice.action, choice.usePaths, choice.recurse,
                                        choice.compression, [this, path](TZipChange change) {
                                            ApplyChange(path, change);
                                            RunPending();
                                        });
    if (!started)
        Refused(m_manager->TaskZipRefusal(path));
    UpdateBusy();
}

// ---- Deleting ----

std::vector<std::string> TZipManagerView::SelectedListEntries() const
{
    std::vector<std::string> entries;
    for (const QModelIndex& i : m_list->selectionModel()->selectedRows())
        entries.push_back(m_listModel->Entry(i.row()).name);
    return entries;
}

void TZipManagerView::DeleteSelection()
{
    TZipTree* tree = m_treeModel->TreeOf(m_zipTree->currentIndex());
    TZipNode* node = TZipTreeModel::NodeOf(m_zipTree->currentIndex());
    if (!tree || !node)
        return;
    const std::string path = tree->ZipPath();
    if (std::string refusal = m_manager->TaskZipRefusal(path); !refusal.empty())
        return Refused(refusal);
    if (m_manager->Busy())
        return Refused({});
    std::vector<std::string> entries;
    if (Focus() == TFocusKind::ZipList) {
        entries = SelectedListEntries();
    } else if (node->kind == TZipNodeKind::Root) {
        if (!Confirm("Confirm File Delete", "Move " + Q(path) + " to the trash?"))
            return;
        if (MoveToTrash(Q(path), false).outcome != TTrashOutcome::Trashed) {
            Show(TRunnerMessageKind::Error, "Unable to move " + path + " to the trash.");
            return;
        }
        CloseZip();
        return;
    } else {
        if (!Confirm("Pellix", Q(DeleteQuestion(*node))))
            return;
        entries.push_back(TZipTree::EntryPathOf(*node));
    }
    if (entries.empty())
        return;
    const bool started = m_manager->Delete(path, entries, [this, path](TZipChange change) {
        ApplyChange(path, change);
        RunPending();
    });
    if (!started)
        Refused(m_manager->TaskZipRefusal(path));
    UpdateBusy();
}

// ---- Extracting and browsing ----

void TZipManagerView::Unzip()
{
    TZipTree* tree = m_treeModel->TreeOf(m_zipTree->currentIndex());
    TZipNode* node = TZipTreeModel::NodeOf(m_zipTree->currentIndex());
    if (!tree || !node)
        return;
    if (m_manager->Busy())
        return Refused({});
    const bool listFocus = Focus() == TFocusKind::ZipList;
    std::vector<std::string> selected = listFocus ? SelectedListEntries() : std::vector<std::string>{};
    if (!listFocus)
        selected.push_back(TZipTree::EntryPathOf(*node));
    const QPointer<QWidget> focused = QApplication::focusWidget();
    const std::optional<TUnzipChoice> choice = RunUnzip(node->kind == TZipNodeKind::Root && !listFocus);
    // The window is not active yet when the dialog closes; its focus goes back where the user left it.
    if (focused)
        focused->setFocus();
    if (!choice)
        return;
    std::vector<std::string> entries = choice->allFiles ? std::vector<std::string>{"*.*"} : selected;
    const bool started = m_manager->Extract(tree->ZipPath(), std::move(entries), choice->folder, choice->usePaths,
                                            choice->overwrite, [this](TZipOutcome outcome) {
                                                ShowView(outcome.view);
                                                RunPending();
                                            });
    if (!started)
        Refused({});
    UpdateBusy();
}

void TZipManagerView::Browse(TBrowseWith with)
{
    TZipTree* tree = m_treeModel->TreeOf(m_zipTree->currentIndex());
    TZipNode* node = TZipTreeModel::NodeOf(m_zipTree->currentIndex());
    if (!tree || !node)
        return;
    std::string entry;
    const TFocusKind focus = with == TBrowseWith::Default ? TFocusKind::ZipList : Focus();
    if (focus == TFocusKind::ZipList) {
        const QModelIndex current = m_list->currentIndex();
        if (current.isValid())
            entry = m_listModel->Entry(current.row()).name;
    } else if (focus == TFocusKind::ZipTree) {
        entry = node->kind == TZipNodeKind::Root ? (m_pageModel->Pages().empty() ? std::string()
                                                                                   : m_pageModel->Pages().front().entry)
                                                 : TZipTree::EntryPathOf(*node);
    }
    const std::vector<TFileTypeGroup> groups = ReadFileTypeGroups(m_session.App().Store());
    const TBrowseTarget target = BrowseTargetOf(entry, FileTypeOfURL(groups, entry) == "HTML");
    if (target.entry.empty())
        return;
    if (m_manager->Busy())
        return Refused({});
    const std::string path = tree->ZipPath();
    const std::string folder = BrowseFolder(path);
    const std::string local = folder + target.entry;
    const bool all = target.extractAll && !m_data[path].extracted;
    const auto launch = [this, with, local] {
        if (!Launch(with, local))
            Show(TRunnerMessageKind::Error, "Unable to open " + local + ".");
    };
    std::error_code ec;
    if (target.extractAll && m_data[path].extracted && fs::exists(local, ec)) {
        launch();
        return;
    }
    fs::create_directories(folder, ec);
    const bool started = m_manager->ExtractForBrowsing(path, target.entry, folder, all,
                                                       [this, path, all, launch](TZipOutcome outcome) {
                                                           ShowView(outcome.view);
                                                           if (outcome.view.yield != TZipYield::Error) {
                                                               if (all)
                                                                   m_data[path].extracted = true;
                                                               launch();
                                                           }
                                                           RunPending();
                                                       });
    if (!started)
        Refused({});
    UpdateBusy();
}

// ---- Renaming ----

void TZipManagerView::Rename()
{
    TZipTree* tree = m_treeModel->TreeOf(m_zipTree->currentIndex());
    if (!tree)
        return;
    if (std::string refusal = m_manager->TaskZipRefusal(tree->ZipPath()); !refusal.empty())
        return Refused(refusal);
    const QModelIndex root = m_treeModel->IndexOf(&tree->Root());
    m_zipTree->setCurrentIndex(root);
    m_zipTree->setFocus();
    m_zipTree->edit(root);
}

bool TZipManagerView::RenameZip(TZipTree& tree, const QString& newName)
{
    const std::string oldPath = tree.ZipPath();
    const TZipRenameResult result = m_manager->Rename(oldPath, S(newName));
    if (!result.ok) {
        Show(TRunnerMessageKind::Error, result.message);
        return false;
    }
    auto data = m_data.extract(oldPath);
    if (!data.empty()) {
        data.key() = result.newPath;
        m_data.insert(std::move(data));
    }
    if (m_pagesOf == oldPath)
        m_pagesOf = result.newPath;
    m_treeModel->SetZipPath(tree, result.newPath);
    emit ZipRenamed(Q(oldPath), Q(result.newPath));
    return true;
}

void TZipManagerView::DayZip(const QString& shortDate)
{
    const std::string path = DayZipPath(m_session.App().DownloadsFolder(), S(shortDate));
    std::error_code ec;
    if (fs::is_regular_file(path, ec) && fs::file_size(path, ec) > 0)
        OpenThen(path, {});
    else
        CreateNode(path);
}

} // namespace pellix
