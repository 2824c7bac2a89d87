// TTaskListView: the Tasks view: the categories, the task list of the chosen category, its Task
// menu and pop-up menu, and the error report.
#include "tasks/ui/task_list_view.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

#include "engine/task.h"
#include "links/text_helpers.h"
#include "tasks/task_list.h"
#include "tasks/banner_frameset.h"
#include "tasks/error_report.h"
#include "tasks/schedule_thread.h"
#include "tasks/ui/run_task_dialog.h"
#include "tasks/ui/schedule_dialog.h"
#include "tasks/ui/task_editor.h"
#include "tasks/ui/task_list_model.h"
#include "workspace/app_settings.h"
#include "workspace/session.h"
#include "workspace/task_runner.h"
#include "workspace/ui/trash.h"

namespace pellix {

namespace {

constexpr const char* kNotAvailable = "Not available yet.";
constexpr int kStateImageWidth = 22; // the image and its margin at the start of the first cell

// The category box refills itself each time it drops down.
class TCategoryBox final : public QComboBox {
public:
    explicit TCategoryBox(std::function<void()> refill, QWidget* parent) : QComboBox(parent), m_refill(std::move(refill))
    {
    }
    void showPopup() override
    {
        m_refill();
        QComboBox::showPopup();
    }

private:
    std::function<void()> m_refill;
};

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

TTaskListView::TTaskListView(TSession& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_list(std::make_unique<TTaskList>(session.App()))
{
    setAccessibleName("Tasks");
    m_trash = [](const std::string& path, std::string* error) {
        if (MoveToTrash(Q(path), false).outcome == TTrashOutcome::Trashed)
            return true;
        if (error)
            *error = "it could not be moved to the trash";
        return false;
    };

    TTaskRunner& runner = m_session.Runner();
    m_list->OnStopTask = [&runner](TPXTask& task) { runner.StopTask(task); };
    m_list->OnCurrentTask = [&runner] { return runner.CurrentTask(); };
    m_list->OnReleaseCurrent = [&runner](TPXTask&) { runner.MakeCurrent(nullptr); };
    TThreadSchedule& scheduler = m_session.Scheduler();
    m_list->OnScheduled = [&scheduler] { scheduler.Wake(); };

    m_chromium = TURLLauncher::ChromiumPath();
    m_firefox = TURLLauncher::FirefoxPath();

    // Tool panel: the buttons, then the category box.
    auto* panel = new QHBoxLayout;
    panel->setContentsMargins(4, 4, 4, 4);
    panel->setSpacing(4);
    CreateActions();
    for (const TTaskCommandInfo& info : TaskCommands()) {
        if (!*info.button)
            continue;
        auto* button = new QPushButton(QString::fromLatin1(info.button), this);
        button->setAccessibleName(QString::fromLatin1(info.button));
        if (*info.hint)
            button->setToolTip(QString::fromLatin1(info.hint));
        button->setFocusPolicy(Qt::TabFocus);
        m_buttons[info.command] = button;
    }
    // The form's order: Run, Stop, Browse, Explore, Edit, Schedule, Delete.
    for (const TTaskCommand command : {TTaskCommand::Run, TTaskCommand::Stop, TTaskCommand::Browse,
                                       TTaskCommand::Explore, TTaskCommand::Edit, TTaskCommand::Schedule,
                                       TTaskCommand::Delete})
        panel->addWidget(m_buttons.at(command));
    panel->addStretch(1);
    m_category = new TCategoryBox([this] { FillCategories(); }, this);
    m_category->setToolTip("Task Category");
    m_category->setAccessibleName("Task Category");
    m_category->setMinimumWidth(160);
    m_category->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    panel->addWidget(m_category);

    connect(m_buttons.at(TTaskCommand::Run), &QPushButton::clicked, this, [this] { pmiRunClick(); });
    connect(m_buttons.at(TTaskCommand::Stop), &QPushButton::clicked, this, [this] { pmiStopClick(); });
    connect(m_buttons.at(TTaskCommand::Explore), &QPushButton::clicked, this, [this] { pmiExploreClick(); });
    connect(m_buttons.at(TTaskCommand::Edit), &QPushButton::clicked, this, [this] { pmiEditClick(); });
    connect(m_buttons.at(TTaskCommand::Schedule), &QPushButton::clicked, this, [this] { pmiScheduleClick(); });
    connect(m_buttons.at(TTaskCommand::Delete), &QPushButton::clicked, this, [this] { pmiDeleteClick(); });
    // The Browse button offers the pop-up's Browse sub-menu.
    connect(m_buttons.at(TTaskCommand::Browse), &QPushButton::clicked, this, [this] {
        if (m_browseMenus.size() > 1) {
            QPushButton* button = m_buttons.at(TTaskCommand::Browse);
            m_browseMenus.back()->exec(button->mapToGlobal(QPoint(0, button->height())));
        }
    });

    m_tasks = new QTreeView(this);
    m_tasks->setAccessibleName("Task List");
    m_tasks->setRootIsDecorated(false);
    m_tasks->setUniformRowHeights(true);
    m_tasks->setAllColumnsShowFocus(true);
    m_tasks->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tasks->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tasks->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    m_tasks->setContextMenuPolicy(Qt::NoContextMenu); // the right button is handled by the filter
    m_model = new TTaskListModel(*m_list, this);
    m_tasks->setModel(m_model);
    m_tasks->header()->setStretchLastSection(false);
    // The form's widths, widened where this font needs more for the caption, and for the whole
    // date and time; the first column also holds the state image.
    const QFontMetrics metrics = m_tasks->fontMetrics();
    for (int column = 0; column < kTaskColumnCount; ++column) {
        const TTaskColumnInfo& info = TaskColumns()[static_cast<std::size_t>(column)];
        int width = std::max(info.width > 0 ? info.width : 60, metrics.horizontalAdvance(info.caption) + 24);
        if (column == kColumnLastRun || column == kColumnNextRun)
            width = std::max(width, metrics.horizontalAdvance("0000-00-00 00:00:00") + 16);
        if (column == kColumnTaskName)
            width += kStateImageWidth;
        m_tasks->setColumnWidth(column, width);
    }
    m_tasks->viewport()->installEventFilter(this);
    m_tasks->viewport()->setMouseTracking(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(panel);
    layout->addWidget(m_tasks, 1);

    connect(m_model, &TTaskListModel::RenameFailed, this, [this](const QString& message) {
        // The editor is closing: show the box once it is gone.
        QTimer::singleShot(0, this, [this, message] { Error(message); });
    });
    connect(m_model, &TTaskListModel::RowsRefreshed, this, &TTaskListView::UpdateTaskCommands);
    connect(m_tasks->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TTaskListView::UpdateTaskCommands);
    connect(m_tasks->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &TTaskListView::UpdateTaskCommands);
    connect(m_tasks, &QTreeView::doubleClicked, this, &TTaskListView::lvTasksDblClick);

    // Start-up: the categories, the active-task list, then the last category.
    m_list->LoadActiveTasks();
    FillCategories();
    ShowCategory(Q(m_session.App().LastCategory()));
    connect(m_category, &QComboBox::currentIndexChanged, this, &TTaskListView::cmbCategoryChange);

    m_session.Events().Subscribe(*this);
    scheduler.SetTaskList(m_list.get());
    UpdateTaskCommands();
}

TTaskListView::~TTaskListView()
{
    m_session.Scheduler().SetTaskList(nullptr);
    m_session.Events().Unsubscribe(*this);
    // The model lets go of the list before the list goes.
    delete m_model;
    m_model = nullptr;
    m_list.reset();
}

void TTaskListView::CreateActions()
{
    for (const TTaskCommandInfo& info : TaskCommands()) {
        auto* action = new QAction(QString::fromLatin1(info.caption), this);
        if (*info.hint) {
            action->setToolTip(QString::fromLatin1(info.hint));
            action->setStatusTip(QString::fromLatin1(info.hint));
        }
        if (*info.shortcut) {
            action->setShortcut(QKeySequence(QString::fromLatin1(info.shortcut)));
            // Active while the task list has the focus, so that the zip views keep their own keys.
            action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
            addAction(action);
        }
        m_actions[info.command] = action;
    }
    connect(m_actions[TTaskCommand::New], &QAction::triggered, this, [this] { pmiNewClick(); });
    connect(m_actions[TTaskCommand::Edit], &QAction::triggered, this, [this] { pmiEditClick(); });
    connect(m_actions[TTaskCommand::Delete], &QAction::triggered, this, [this] { pmiDeleteClick(); });
    connect(m_actions[TTaskCommand::Run], &QAction::triggered, this, [this] { pmiRunClick(); });
    connect(m_actions[TTaskCommand::Stop], &QAction::triggered, this, [this] { pmiStopClick(); });
    connect(m_actions[TTaskCommand::Schedule], &QAction::triggered, this, [this] { pmiScheduleClick(); });
    connect(m_actions[TTaskCommand::Unschedule], &QAction::triggered, this, [this] { pmiUnscheduleClick(); });
    connect(m_actions[TTaskCommand::CopyStartURL], &QAction::triggered, this, [this] { pmiCopyURLClick(false); });
    connect(m_actions[TTaskCommand::CopyLocalStartURL], &QAction::triggered, this, [this] { pmiCopyURLClick(true); });
    connect(m_actions[TTaskCommand::Explore], &QAction::triggered, this, [this] { pmiExploreClick(); });

    const char* browsers[3] = {"&Internet Explorer...", "&Netscape Navigator...", "Integrated &Browser"};
    const TBrowser kinds[3] = {TBrowser::Chromium, TBrowser::Firefox, TBrowser::Integrated};
    for (int i = 0; i < 3; ++i) {
        m_offline[i] = new QAction(QString::fromLatin1(browsers[i]), this);
        m_online[i] = new QAction(QString::fromLatin1(browsers[i]), this);
        const TBrowser kind = kinds[i];
        connect(m_offline[i], &QAction::triggered, this, [this, kind] { Browse(false, kind); });
        connect(m_online[i], &QAction::triggered, this, [this, kind] { Browse(true, kind); });
    }
    // The two external browsers are the ones found on this system; the captions keep their slots.
    for (QAction* action : {m_offline[0], m_online[0]})
        action->setToolTip(m_chromium.empty() ? QString("Not installed") : Q(m_chromium));
    for (QAction* action : {m_offline[1], m_online[1]})
        action->setToolTip(m_firefox.empty() ? QString("Not installed") : Q(m_firefox));
    m_errorReport = new QAction("Error Report", this);
    connect(m_errorReport, &QAction::triggered, this, [this] { pmiErrorReportClick(); });

    m_taskMenu = new QMenu(tr("&Task"), this);
    FillMenu(m_taskMenu, false);
    m_popup = new QMenu(this);
    FillMenu(m_popup, true);
}

void TTaskListView::FillMenu(QMenu* menu, bool popup)
{
    for (const TTaskCommand command : {TTaskCommand::New, TTaskCommand::Edit, TTaskCommand::Delete, TTaskCommand::Run,
                                       TTaskCommand::Stop, TTaskCommand::Schedule, TTaskCommand::Unschedule})
        menu->addAction(m_actions.at(command));
    QMenu* copy = menu->addMenu("&Copy");
    copy->addAction(m_actions.at(TTaskCommand::CopyStartURL));
    copy->addAction(m_actions.at(TTaskCommand::CopyLocalStartURL));
    m_copyMenus.push_back(copy);
    QMenu* browse = menu->addMenu("&Browse");
    QMenu* offline = browse->addMenu("&Offline");
    QMenu* online = browse->addMenu("On &Internet");
    for (int i = 0; i < 3; ++i) {
        offline->addAction(m_offline[i]);
        online->addAction(m_online[i]);
    }
    if (popup) {
        browse->addSeparator();
        browse->addAction(m_errorReport);
    }
    m_browseMenus.push_back(browse);
    menu->addAction(m_actions.at(TTaskCommand::Explore));
    connect(menu, &QMenu::aboutToShow, this, [this] {
        m_model->Flush();
        UpdateTaskCommands();
    });
}

QMenu* TTaskListView::TaskMenu() { return m_taskMenu; }

QAction* TTaskListView::Action(TTaskCommand command) const
{
    const auto found = m_actions.find(command);
    return found == m_actions.end() ? nullptr : found->second;
}

QPushButton* TTaskListView::Button(TTaskCommand command) const
{
    const auto found = m_buttons.find(command);
    return found == m_buttons.end() ? nullptr : found->second;
}

std::shared_ptr<TPXTask> TTaskListView::FocusedTask() const
{
    const QModelIndex current = m_tasks->currentIndex();
    if (current.isValid() && m_tasks->selectionModel()->isRowSelected(current.row(), {}) &&
        static_cast<std::size_t>(current.row()) < m_list->Count())
        return m_list->Task(static_cast<std::size_t>(current.row()));
    const QModelIndexList rows = m_tasks->selectionModel()->selectedRows();
    if (rows.isEmpty() || static_cast<std::size_t>(rows.front().row()) >= m_list->Count())
        return nullptr;
    return m_list->Task(static_cast<std::size_t>(rows.front().row()));
}

std::vector<std::shared_ptr<TPXTask>> TTaskListView::SelectedTasks() const
{
    QModelIndexList rows = m_tasks->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<std::shared_ptr<TPXTask>> tasks;
    for (const QModelIndex& row : rows)
        if (static_cast<std::size_t>(row.row()) < m_list->Count())
            tasks.push_back(m_list->Task(static_cast<std::size_t>(row.row())));
    return tasks;
}

void TTaskListView::UpdateTaskCommands()
{
    const std::shared_ptr<TPXTask> task = FocusedTask();
    const bool downloading = m_session.Runner().RunningTask() != nullptr;
    for (const auto& [command, action] : m_actions) {
        const bool enabled = TaskCommandEnabled(command, task.get(), downloading);
        action->setEnabled(enabled);
        if (const auto button = m_buttons.find(command); button != m_buttons.end())
            button->second->setEnabled(enabled);
    }
    const bool any = task != nullptr;
    for (QMenu* menu : m_copyMenus)
        menu->menuAction()->setEnabled(any);
    for (QMenu* menu : m_browseMenus)
        menu->menuAction()->setEnabled(any);
    for (QAction* const* set : {m_offline, m_online}) {
        set[0]->setEnabled(any && !m_chromium.empty());
        set[1]->setEnabled(any && !m_firefox.empty());
        set[2]->setEnabled(any);
    }
    m_errorReport->setEnabled(any);
}

void TTaskListView::FillCategories()
{
    m_fillingCategories = true;
    const QString shown = m_category->currentText();
    m_category->clear();
    for (const std::string& name : m_list->Categories())
        m_category->addItem(Q(name));
    const int index = m_category->findText(shown);
    if (index >= 0)
        m_category->setCurrentIndex(index);
    else if (!shown.isEmpty()) {
        m_category->addItem(shown);
        m_category->setCurrentIndex(m_category->count() - 1);
    }
    m_fillingCategories = false;
}

void TTaskListView::ShowCategory(const QString& category)
{
    m_fillingCategories = true;
    int index = m_category->findText(category);
    if (index < 0) {
        m_category->addItem(category);
        index = m_category->count() - 1;
    }
    m_category->setCurrentIndex(index);
    m_fillingCategories = false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_list->ShowCategory(category.toStdString());
    QApplication::restoreOverrideCursor();
    if (m_list->Count() > 0)
        m_tasks->setCurrentIndex(m_model->index(0, 0));
    UpdateTaskCommands();
}

void TTaskListView::cmbCategoryChange(int index)
{
    if (m_fillingCategories || index < 0)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_list->ChooseCategory(m_category->itemText(index).toStdString());
    QApplication::restoreOverrideCursor();
    UpdateTaskCommands();
}

void TTaskListView::AddTask(const std::shared_ptr<TPXTask>& task)
{
    if (!task)
        return;
    const TTaskCommandResult added = m_list->AddTask(task, false);
    if (!added.ok)
        Error(Q(added.message));
    if (const std::optional<std::size_t> row = m_list->RowOf(*task))
        m_tasks->setCurrentIndex(m_model->index(static_cast<int>(*row), 0));
    UpdateTaskCommands();
}

void TTaskListView::AddTaskFromFile(const QString& path)
{
    // Opened from the command line, a second copy or a drop: the editor waits for its own turn.
    QTimer::singleShot(0, this, [this, path] {
        const TLoadTaskResult loaded = m_session.LoadTask(path.toStdString());
        if (!loaded.task) {
            Error(Q(loaded.message));
            return;
        }
        m_list->Adopt(*loaded.task);
        TTaskEditor editor(m_session, loaded.task, TTaskEditorCaption::Add, this);
        if (editor.exec() != QDialog::Accepted) {
            loaded.task->SetOnSaved(nullptr);
            return;
        }
        if (editor.ReplacedExisting()) {
            ShowCategory(Q(std::filesystem::path(loaded.task->TaskFile()).parent_path().filename().string()));
            return;
        }
        const TTaskCommandResult saved = m_list->AddTask(loaded.task, true);
        if (!saved.ok)
            Error(Q(saved.message));
        if (const std::optional<std::size_t> row = m_list->RowOf(*loaded.task))
            m_tasks->setCurrentIndex(m_model->index(static_cast<int>(*row), 0));
        UpdateTaskCommands();
    });
}

bool TTaskListView::AnyTaskRunning() const { return m_list->AnyTaskRunning(); }

void TTaskListView::StopFirstRunningTask()
{
    if (const std::shared_ptr<TPXTask> task = m_list->NextRunningTask(nullptr))
        m_session.Runner().StopTask(*task);
}

// ---------------------------------------------------------------------------------------------
// Session events (owner thread): no dialog opens here.

void TTaskListView::OnTaskAdded(TPXTask& task)
{
    AddTask(task.shared_from_this());
}

void TTaskListView::OnTaskChanged(TPXTask&)
{
    UpdateTaskCommands();
}

void TTaskListView::OnTaskCompleted(TPXTask&, const std::string&)
{
    UpdateTaskCommands();
}

// ---------------------------------------------------------------------------------------------
// Commands.

void TTaskListView::Inform(const QString& text)
{
    if (m_inform)
        m_inform(text);
    else
        QMessageBox::information(this, "Pellix", text);
}

void TTaskListView::Error(const QString& text)
{
    if (m_error)
        m_error(text);
    else
        QMessageBox::critical(this, "Pellix", text);
}

bool TTaskListView::Confirm(const QString& text)
{
    if (m_confirm)
        return m_confirm(text);
    return QMessageBox::question(this, "Confirm", text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

std::optional<int> TTaskListView::ChooseRunMode(TPXTask& task)
{
    if (m_runModeChooser)
        return m_runModeChooser(task);
    TdlgRunTask dialog(task, this);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return static_cast<int>(dialog.SelectedMode());
}

void TTaskListView::RunTask(TPXTask& task)
{
    const TTaskCommandResult run = m_list->Run(task, [this](TPXTask& t) { return ChooseRunMode(t); });
    if (!run.ok)
        Error(Q(run.message));
    UpdateTaskCommands();
}

void TTaskListView::pmiNewClick()
{
    emit NewTaskRequested();
}

void TTaskListView::pmiEditClick()
{
    const std::shared_ptr<TPXTask> task = FocusedTask();
    if (!task || !TaskCommandEnabled(TTaskCommand::Edit, task.get(), false))
        return;
    TTaskEditor editor(m_session, task, TTaskEditorCaption::Edit, this);
    if (editor.exec() == QDialog::Accepted) {
        const std::string folder = std::filesystem::path(task->TaskFile()).parent_path().string() + "/";
        if (!m_list->ShowsActiveTasks() && folder != m_list->FolderOf(m_list->Category()))
            ShowCategory(Q(std::filesystem::path(task->TaskFile()).parent_path().filename().string()));
        else
            m_list->TaskChanged(*task);
    }
    UpdateTaskCommands();
}

void TTaskListView::pmiDeleteClick()
{
    const std::vector<std::shared_ptr<TPXTask>> tasks = SelectedTasks();
    if (tasks.empty() || !Confirm("Are you sure you want to delete the selected Task/s? "))
        return;
    const TTaskCommandResult deleted = m_list->Delete(tasks, m_trash);
    if (!deleted.ok)
        Error(Q(deleted.message));
    UpdateTaskCommands();
}

void TTaskListView::pmiRunClick()
{
    for (const std::shared_ptr<TPXTask>& task : SelectedTasks())
        RunTask(*task);
}

void TTaskListView::pmiStopClick()
{
    m_list->Stop(SelectedTasks());
    UpdateTaskCommands();
}

void TTaskListView::pmiScheduleClick()
{
    const std::shared_ptr<TPXTask> task = FocusedTask();
    if (!task || !TaskCommandEnabled(TTaskCommand::Schedule, task.get(), false))
        return;
    TScheduleDialog dialog(*task, this);
    if (dialog.exec() == QDialog::Accepted) {
        const TTaskCommandResult scheduled = m_list->Schedule(*task);
        if (!scheduled.ok)
            Error(Q(scheduled.message));
    }
    UpdateTaskCommands();
}

void TTaskListView::pmiUnscheduleClick()
{
    for (const std::shared_ptr<TPXTask>& task : SelectedTasks()) {
        const TTaskCommandResult done = m_list->Unschedule(*task);
        if (!done.ok)
            Error(Q(done.message));
    }
    UpdateTaskCommands();
}

void TTaskListView::pmiCopyURLClick(bool local)
{
    const std::shared_ptr<TPXTask> task = FocusedTask();
    if (!task)
        return;
    QApplication::clipboard()->setText(Q(local ? LocalStartPageInDestination(*task) : task->URL()));
}

void TTaskListView::pmiExploreClick()
{
    const std::shared_ptr<TPXTask> task = FocusedTask();
    if (!task || !TaskCommandEnabled(TTaskCommand::Explore, task.get(), m_session.Runner().RunningTask() != nullptr))
        return;
    m_session.Runner().MakeCurrent(task);
    emit ExploreRequested();
}

void TTaskListView::Browse(bool online, TBrowser browser)
{
    const std::shared_ptr<TPXTask> task = FocusedTask();
    if (!task)
        return;
    if (browser == TBrowser::Integrated) {
        if (online) {
            emit BrowseAddressRequested(Q(task->URL()));
        } else if (task->IntranetMode()) {
            emit BrowseAddressRequested(Q(LocalStartPage(m_session.App(), *task)));
        } else {
            const std::string zipPath = ToSlashes(task->Destination());
            std::error_code ec;
            if (zipPath.empty() || !std::filesystem::is_regular_file(zipPath, ec)) {
                if (Confirm("This task has not been run, or its resulting Zip file no longer exists. Run it now?")) {
                    m_list->Run(*task, [this](TPXTask& t) { return ChooseRunMode(t); });
                    UpdateTaskCommands();
                }
                return;
            }
            // Served from the Zip as it is: nothing is unpacked first.
            emit BrowseZipEntryRequested(Q(zipPath), Q(StartPageEntry(*task)));
        }
        return;
    }
    const std::string program = browser == TBrowser::Chromium  ? m_chromium
                                : browser == TBrowser::Firefox ? m_firefox
                                                               : std::string();
    std::string target;
    if (online) {
        if (m_session.App().NoAds()) {
            target = task->URL();
        } else {
            const TFramesetResult frameset = WriteBannerFrameset(m_session.App(), task->URL());
            if (!frameset.ok) {
                Error(Q(frameset.message));
                return;
            }
            target = frameset.path;
        }
    } else {
        const TOfflinePage page = PrepareOfflinePage(m_session.App(), *task);
        if (page.missingZip) {
            if (Confirm("This task has not been run, or its resulting Zip file no longer exists. Run it now?")) {
                m_list->Run(*task, [this](TPXTask& t) { return ChooseRunMode(t); });
                UpdateTaskCommands();
            }
            // Without the Zip there is no page to open.
            return;
        }
        if (!page.ok) {
            Error(Q(page.message));
            return;
        }
        target = page.path;
    }
    const bool opened = program.empty() ? m_launcher.Open(target) : m_launcher.OpenWith(program, target);
    if (!opened)
        Error(Q("Unable to open " + target));
}

void TTaskListView::pmiErrorReportClick()
{
    const std::shared_ptr<TPXTask> task = FocusedTask();
    if (!task)
        return;
    const TErrorReportResult report = WriteTaskErrorReport(m_session.App(), *task);
    if (!report.ok) {
        Error(Q(report.message));
        return;
    }
    if (!m_launcher.Open(report.path))
        Error(Q("Unable to open " + report.path));
}

void TTaskListView::lvTasksDblClick(const QModelIndex& index)
{
    if (index.isValid())
        Browse(false, TBrowser::Default);
}

bool TTaskListView::OnStateImage(const QModelIndex& index, const QPoint& viewportPos) const
{
    if (!index.isValid() || index.column() != kColumnTaskName)
        return false;
    const QRect cell = m_tasks->visualRect(index);
    return viewportPos.x() >= cell.left() && viewportPos.x() < cell.left() + kStateImageWidth;
}

bool TTaskListView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_tasks->viewport())
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint pos = mouse->position().toPoint();
        const QModelIndex index = m_tasks->indexAt(pos);
        if (mouse->button() == Qt::RightButton) {
            if (index.isValid() && !m_tasks->selectionModel()->isRowSelected(index.row(), {}))
                m_tasks->setCurrentIndex(index);
            else if (index.isValid())
                m_tasks->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
            UpdateTaskCommands();
            const QPoint global = m_tasks->viewport()->mapToGlobal(pos);
            QTimer::singleShot(0, this, [this, global] { m_popup->popup(global); });
            return true;
        }
        if (mouse->button() == Qt::LeftButton && OnStateImage(index, pos)) {
            m_tasks->setCurrentIndex(index);
            const auto row = static_cast<std::size_t>(index.row());
            // The run dialog may open: not inside the mouse event.
            QTimer::singleShot(0, this, [this, row] {
                m_list->StateImageClicked(row, [this](TPXTask& t) { return ChooseRunMode(t); });
                UpdateTaskCommands();
            });
            return true;
        }
    } else if (event->type() == QEvent::MouseButtonDblClick) {
        // A double click on the state image is two clicks on it, not a browse.
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint pos = mouse->position().toPoint();
        if (OnStateImage(m_tasks->indexAt(pos), pos))
            return true;
    } else if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = m_tasks->indexAt(help->pos());
        QString hint;
        if (index.isValid() && index.column() == kColumnTaskName &&
            static_cast<std::size_t>(index.row()) < m_list->Count()) {
            const TPXTask& task = *m_list->Task(static_cast<std::size_t>(index.row()));
            hint = OnStateImage(index, help->pos()) ? Q(StateImageHint(TaskStateImage(task))) : Q(TaskSummary(task));
        }
        if (hint.isEmpty())
            QToolTip::hideText();
        else if (QToolTip::text() != hint || !QToolTip::isVisible())
            QToolTip::showText(help->globalPos(), hint, m_tasks->viewport());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace pellix
