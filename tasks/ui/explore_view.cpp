// TExploreView: the Explore view: every item of the current task with its state, the marks for
// the next run in a pop-up menu and on the state image, and browsing an item online or offline.
#include "tasks/ui/explore_view.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QShortcut>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <set>

#include "engine/queue_item.h"
#include "engine/task.h"
#include "tasks/ui/explore_model.h"
#include "workspace/app_settings.h"
#include "workspace/session.h"
#include "workspace/task_runner.h"
#include "workspace/url_launcher.h"

namespace pellix {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The state image's place at the start of the "Mark" cell.
constexpr int kStateImageWidth = 22;

} // namespace

TExploreView::TExploreView(TSession& session, QWidget* parent) : QWidget(parent), m_session(session)
{
    setObjectName("FormExplore");
    setAccessibleName("Explore");
    m_browsers[0] = TURLLauncher::ChromiumPath();
    m_browsers[1] = TURLLauncher::FirefoxPath();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    edFilter = new QLineEdit(this);
    edFilter->setObjectName("edFilter");
    edFilter->setPlaceholderText("Filter by URL, title or download result (Ctrl+Shift+F)");
    edFilter->setAccessibleName("Filter");
    edFilter->setClearButtonEnabled(true);
    layout->addWidget(edFilter);

    m_model = new TExploreModel(session.Events(), this);
    lvExplore = new QTreeView(this);
    lvExplore->setObjectName("lvExplore");
    lvExplore->setAccessibleName("Items");
    lvExplore->setModel(m_model);
    lvExplore->setRootIsDecorated(false);
    lvExplore->setUniformRowHeights(true);
    lvExplore->setItemsExpandable(false);
    lvExplore->setAllColumnsShowFocus(true);
    lvExplore->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvExplore->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvExplore->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvExplore->setContextMenuPolicy(Qt::DefaultContextMenu);
    lvExplore->header()->setStretchLastSection(true);
    lvExplore->header()->setSortIndicator(-1, Qt::AscendingOrder);
    lvExplore->setSortingEnabled(true);
    for (int column = 0; column < kExploreColumnCount; ++column) {
        const int width = ExploreColumns()[static_cast<std::size_t>(column)].width;
        lvExplore->setColumnWidth(column, width > 0 ? width : 80);
    }
    lvExplore->viewport()->installEventFilter(this);
    lvExplore->installEventFilter(this);
    layout->addWidget(lvExplore, 1);

    connect(edFilter, &QLineEdit::textChanged, this, [this](const QString& text) { m_model->SetFilter(text); });
    // Down from the filter goes to the rows.
    edFilter->installEventFilter(this);
    auto* focusFilter = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), this);
    focusFilter->setContext(Qt::WindowShortcut);
    connect(focusFilter, &QShortcut::activated, this, [this] {
        edFilter->setFocus();
        edFilter->selectAll();
    });
    connect(lvExplore, &QTreeView::doubleClicked, this, &TExploreView::lvExploreDblClick);

    BuildMenu();
    connect(lvExplore->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TExploreView::UpdateMenu);
    connect(m_model, &QAbstractItemModel::modelReset, this, &TExploreView::UpdateMenu);
    m_session.Events().Subscribe(*this);
    BindCurrentTask();
}

TExploreView::~TExploreView()
{
    m_session.Events().Unsubscribe(*this);
    m_model->Clear();
}

void TExploreView::SetBrowseHooks(TBrowseZipEntry zipEntry, TBrowseAddress address)
{
    m_browseZipEntry = std::move(zipEntry);
    m_browseAddress = std::move(address);
}

void TExploreView::SetBrowserPrograms(std::string first, std::string second)
{
    m_browsers[0] = std::move(first);
    m_browsers[1] = std::move(second);
    UpdateMenu();
}

void TExploreView::BuildMenu()
{
    popExplore = new QMenu(this);
    popExplore->setObjectName("popExplore");
    const auto add = [this](QMenu* menu, const char* caption, TExploreMark mark) {
        QAction* action = menu->addAction(caption);
        connect(action, &QAction::triggered, this, [this, mark] { Mark(mark); });
        m_markActions[mark] = action;
    };
    QMenu* download = popExplore->addMenu("Mark for download");
    add(download, "Selected", TExploreMark::DownloadSelected);
    add(download, "All", TExploreMark::DownloadAll);
    add(download, "All errors", TExploreMark::DownloadErrors);
    add(download, "All unmarked", TExploreMark::DownloadUnmarked);
    QMenu* update = popExplore->addMenu("Mark for update");
    add(update, "Selected", TExploreMark::UpdateSelected);
    add(update, "All", TExploreMark::UpdateAll);
    QMenu* map = popExplore->addMenu("Mark for mapping");
    add(map, "Selected", TExploreMark::MapSelected);
    add(map, "All", TExploreMark::MapAll);
    QMenu* unmark = popExplore->addMenu("Unmark");
    add(unmark, "Selected", TExploreMark::UnmarkSelected);
    add(unmark, "All", TExploreMark::UnmarkAll);
    popExplore->addSeparator();
    QMenu* browse = popExplore->addMenu("&Browse");
    QMenu* offline = browse->addMenu("&Offline");
    QMenu* online = browse->addMenu("On Internet");
    const char* captions[2] = {"&Internet Explorer", "&Netscape Navigator"};
    for (int slot = 0; slot < 2; ++slot) {
        for (int where = 0; where < 2; ++where) {
            QAction* action = (where == 0 ? offline : online)->addAction(captions[slot]);
            connect(action, &QAction::triggered, this, [this, slot, where] { Browse(where == 1, slot); });
            m_browseActions[where][slot] = action;
        }
    }
    connect(popExplore, &QMenu::aboutToShow, this, &TExploreView::UpdateMenu);
    UpdateMenu();
}

void TExploreView::UpdateMenu()
{
    const bool selected = lvExplore->selectionModel() && lvExplore->selectionModel()->hasSelection();
    for (QAction* action : popExplore->actions())
        action->setEnabled(selected);
    for (const auto& [mark, action] : m_markActions)
        action->setEnabled(selected);
    for (int slot = 0; slot < 2; ++slot)
        for (int where = 0; where < 2; ++where) {
            QAction* action = m_browseActions[where][slot];
            action->setEnabled(selected && !m_browsers[slot].empty());
            action->setToolTip(m_browsers[slot].empty() ? QString("Not installed") : Q(m_browsers[slot]));
        }
}

void TExploreView::BindCurrentTask()
{
    m_rebindPosted = false;
    const std::shared_ptr<TPXTask> current = m_session.Runner().CurrentTask();
    if (current != m_model->Task())
        m_model->Bind(current);
}

void TExploreView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    BindCurrentTask();
    // The keys act on the rows from the start.
    lvExplore->setFocus();
}

void TExploreView::FollowCurrentSoon(TPXTask& task)
{
    if (&task == m_model->Task().get() || m_rebindPosted)
        return;
    // Not inside the core's event: the list is in the middle of its change.
    m_rebindPosted = true;
    QTimer::singleShot(0, this, &TExploreView::BindCurrentTask);
}

void TExploreView::OnItemsCleared(TPXTask&)
{
    // The shown task may have stopped being current (another one, or none): check once the
    // change is over, so the view does not keep a released task.
    if (!m_rebindPosted) {
        m_rebindPosted = true;
        QTimer::singleShot(0, this, &TExploreView::BindCurrentTask);
    }
}
void TExploreView::OnItemAdded(TPXTask& task, TPXQItem&) { FollowCurrentSoon(task); }
void TExploreView::OnTaskChanged(TPXTask&)
{
    if (m_session.Runner().CurrentTask() != m_model->Task() && !m_rebindPosted) {
        m_rebindPosted = true;
        QTimer::singleShot(0, this, &TExploreView::BindCurrentTask);
    }
}

std::vector<TPXQItem*> TExploreView::SelectedItems() const
{
    std::vector<TPXQItem*> items;
    std::set<int> rows;
    for (const QModelIndex& index : lvExplore->selectionModel()->selectedRows())
        rows.insert(index.row());
    for (const int row : rows)
        if (TPXQItem* item = m_model->ItemAt(row))
            items.push_back(item);
    return items;
}

TMarkResult TExploreView::Mark(TExploreMark mark)
{
    const std::shared_ptr<TPXTask> task = m_model->Task();
    if (!task || !lvExplore->selectionModel()->hasSelection())
        return {};
    m_model->Flush();
    const bool running = m_session.Runner().RunningTask() == task;
    const TMarkResult result = ApplyMark(*task, mark, SelectedItems(), running);
    m_model->Flush();
    if (!result.message.empty())
        Error(Q(result.message));
    return result;
}

bool TExploreView::ToggleRow(int row)
{
    TPXQItem* item = m_model->ItemAt(row);
    if (!item)
        return false;
    const bool toggled = ToggleMark(*item);
    m_model->Flush();
    return toggled;
}

void TExploreView::lvExploreMouseDown(const QPoint& viewportPos, Qt::MouseButton button)
{
    if (button != Qt::LeftButton)
        return;
    const QModelIndex index = lvExplore->indexAt(viewportPos);
    if (!index.isValid() || index.column() != kExploreMark)
        return;
    const QRect cell = lvExplore->visualRect(index);
    if (viewportPos.x() >= cell.left() && viewportPos.x() < cell.left() + kStateImageWidth)
        ToggleRow(index.row());
}

void TExploreView::lvExploreDblClick(const QModelIndex& index)
{
    if (index.isValid())
        Browse(false, -1);
}

void TExploreView::ShowMenuAt(const QPoint& globalPos)
{
    UpdateMenu();
    popExplore->popup(globalPos);
}

bool TExploreView::eventFilter(QObject* watched, QEvent* event)
{
    // A keyboard's menu key reaches the list itself, the mouse's right button its viewport.
    if ((watched == lvExplore->viewport() || watched == lvExplore) && event->type() == QEvent::ContextMenu) {
        {
            auto* menuEvent = static_cast<QContextMenuEvent*>(event);
            QPoint at = menuEvent->globalPos();
            if (menuEvent->reason() == QContextMenuEvent::Keyboard) {
                // From the keyboard the menu opens at the current row.
                const QRect rect = lvExplore->visualRect(lvExplore->currentIndex());
                at = lvExplore->viewport()->mapToGlobal(rect.isValid() ? rect.center() : QPoint(8, 8));
            }
            ShowMenuAt(at);
            return true;
        }
    } else if (watched == lvExplore->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        lvExploreMouseDown(mouse->position().toPoint(), mouse->button());
    } else if (watched == lvExplore && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
            // Space is the state image's click for the selected rows.
            std::set<int> rows;
            for (const QModelIndex& index : lvExplore->selectionModel()->selectedRows())
                rows.insert(index.row());
            for (const int row : rows)
                ToggleRow(row);
            return true;
        }
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && lvExplore->currentIndex().isValid()) {
            Browse(false, -1);
            return true;
        }
    } else if (watched == edFilter && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Down || key->key() == Qt::Key_Return) && m_model->rowCount() > 0) {
            lvExplore->setFocus();
            if (!lvExplore->currentIndex().isValid() || !lvExplore->selectionModel()->hasSelection())
                lvExplore->setCurrentIndex(m_model->index(0, 0));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TExploreView::Browse(bool online, int browser)
{
    const std::shared_ptr<TPXTask> task = m_model->Task();
    const QModelIndex current = lvExplore->currentIndex();
    int row = current.isValid() && lvExplore->selectionModel()->isRowSelected(current.row()) ? current.row() : -1;
    if (row < 0) {
        const QModelIndexList rows = lvExplore->selectionModel()->selectedRows();
        if (rows.isEmpty())
            return;
        row = rows.first().row();
    }
    if (!task)
        return;
    const std::optional<TExploreRow> data = m_model->RowData(row);
    if (!data)
        return;
    const std::string program = browser >= 0 && browser < 2 ? m_browsers[browser] : std::string();
    // A given browser needs a file: the Zip is extracted for it; the default goes through the
    // main window, which shows a Zip entry itself.
    const TExploreTarget target = ExploreBrowseTarget(m_session.App(), *task, data->url, online, !program.empty());
    TURLLauncher& launcher = m_session.App().URLLauncher();
    switch (target.kind) {
    case TExploreTarget::TKind::None:
        return;
    case TExploreTarget::TKind::Failed:
        Error(Q(target.message));
        return;
    case TExploreTarget::TKind::ZipEntry:
        if (m_browseZipEntry)
            m_browseZipEntry(Q(target.zipPath), Q(target.entry));
        else
            Error(Q("Unable to open " + target.entry));
        return;
    case TExploreTarget::TKind::Address:
    case TExploreTarget::TKind::LocalFile:
        if (!program.empty()) {
            if (!launcher.OpenWith(program, target.path))
                Error(Q("Unable to open " + target.path));
        } else if (m_browseAddress) {
            m_browseAddress(Q(target.path));
        } else if (!launcher.Open(target.path)) {
            Error(Q("Unable to open " + target.path));
        }
        return;
    }
}

void TExploreView::Error(const QString& text)
{
    ShowMessage(m_messages, this, QMessageBox::Critical, text);
}

} // namespace pellix
