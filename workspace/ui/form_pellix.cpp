#include "workspace/ui/form_pellix.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMovie>
#include <QSystemTrayIcon>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabBar>
#include <QStyle>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <filesystem>

#ifdef PELLIX_HAVE_WEBENGINE
#include <QWebEngineProfile>
#include <QWebEngineView>

#include "workspace/ui/form_browser.h"
#include "workspace/ui/zip_scheme_handler.h"
#endif

#include "engine/task.h"
#include "links/url_rules.h"
#include "tasks/schedule_thread.h"
#include "tasks/status_model.h"
#include "tasks/ui/connections_view.h"
#include "tasks/ui/explore_view.h"
#include "tasks/ui/profile_chooser.h"
#include "tasks/ui/options_dialog.h"
#include "tasks/ui/status_panel.h"
#include "tasks/ui/task_editor.h"
#include "tasks/ui/task_list_view.h"
#include "workspace/app_settings.h"
#include "workspace/first_start.h"
#include "workspace/offline_address.h"
#include "workspace/product.h"
#include "workspace/session.h"
#include "workspace/task_runner.h"
#include "workspace/ui/browser_engine.h"
#include "workspace/url_launcher.h"
#include "workspace/ui/zip_manager_view.h"
#include "workspace/zip_archive.h"
#include "links/ui/edit_profile_dialog.h"
#include "workspace/drop_decision.h"
#include "workspace/skin.h"
#include "workspace/ui/about_dialog.h"
#include "workspace/ui/drop_bar.h"
#include "workspace/ui/drop_target.h"
#include "workspace/ui/help_viewer.h"
#include "workspace/ui/skin_dialog.h"
#include "workspace/ui/skin_images.h"
#include "workspace/ui/zip_wizard.h"

namespace pellix {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

QString ColourName(std::uint32_t rgb) { return QColor::fromRgb(rgb).name(); }

// The page shown until the part that fills a view lands: the view's purpose in plain words.
QLabel* Placeholder(const QString& name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setMargin(16);
    label->setAccessibleName(name);
    return label;
}

QTreeView* EmptyTree(const QString& name, QWidget* parent)
{
    auto* tree = new QTreeView(parent);
    tree->setHeaderHidden(true);
    tree->setAccessibleName(name);
    tree->setObjectName(name);
    return tree;
}

constexpr const char* kNoBrowserText =
    "Pellix's internal browser requires Internet Explorer 3 or above to be installed on your system.  You can "
    "however use your default browser to browse a zipped website externally.   Simply right click on a web page "
    "and select 'view in -> default browser'.";

// The maker's page for the product; PELLIX_HOME_PAGE overrides it, and set but empty means none
// (tests never leave the machine).
QString HomePageAddress()
{
    return qEnvironmentVariableIsSet("PELLIX_HOME_PAGE") ? qEnvironmentVariable("PELLIX_HOME_PAGE")
                                                          : QString(kHomePage);
}

} // namespace

TFormPellix::TFormPellix(TSession& session, QWidget* parent)
    : QMainWindow(parent),
      m_session(session),
      m_recentURLs(kRecentURLsKey, session.App().MaxURLHistory()),
      m_recentZips(kRecentZipFilesKey, session.App().MaxFileHistory())
{
    setWindowTitle(kMainWindowCaption);
    setMinimumSize(kMainWindowMinWidth, kMainWindowMinHeight);
    setAccessibleName(kMainWindowCaption);
    m_browserLookup = [] {
        return std::make_pair(!TURLLauncher::ChromiumPath().empty(), !TURLLauncher::FirefoxPath().empty());
    };
    m_recentURLs.Load(session.App());
    m_recentZips.Load(session.App());
    const TColourScheme& colours = session.App().Colours();

    auto* central = new QWidget(this);
    central->setObjectName("FormPellix");
    central->setAutoFillBackground(true);
    QPalette palette = central->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(colours.main));
    central->setPalette(palette);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(4, 4, 4, 0);
    column->setSpacing(3);

    // 1. Toolbar row.
    auto* toolbar = new QWidget(central);
    BuildToolbar(toolbar);
    column->addWidget(toolbar);

    // 2. Address bar.
    auto* addressRow = new QHBoxLayout;
    auto* addressLabel = new QLabel("Address:", central);
    addressLabel->setStyleSheet("color: white;");
    m_address = new QComboBox(central);
    m_address->setObjectName("cmbURL");
    m_address->setEditable(true);
    m_address->setInsertPolicy(QComboBox::NoInsert);
    m_address->setAccessibleName("Address:");
    m_address->lineEdit()->setAccessibleName("Address:");
    m_address->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    addressLabel->setBuddy(m_address);
    connect(m_address->lineEdit(), &QLineEdit::returnPressed, this, [this] { GoClicked(true); });
    addressRow->addWidget(addressLabel);
    addressRow->addWidget(m_address, 1);
    column->addLayout(addressRow);

    // 3. Navigation strip.
    auto* strip = new QHBoxLayout;
    strip->setSpacing(2);
    const std::pair<const char*, TView> links[] = {{"Pellix Home", TView::Home},   {"Tasks", TView::Tasks},
                                                   {"Browse", TView::Browse},      {"Explore", TView::Explore},
                                                   {"Connections", TView::Connections},
                                                   {"Zip Properties", TView::ZipProperties}};
    for (const auto& [caption, view] : links) {
        auto* link = new QPushButton(caption, central);
        link->setFlat(true);
        link->setCursor(Qt::PointingHandCursor);
        link->setFocusPolicy(Qt::TabFocus);
        link->setAccessibleName(caption);
        link->setObjectName(QString("link") + QString(caption).remove(' '));
        link->setStyleSheet("QPushButton { color: white; text-decoration: underline; padding: 1px 6px; border: none; }"
                            "QPushButton:hover { color: #ffff99; }");
        if (view == TView::Browse) {
            link->setToolTip(kBrowseLinkHint);
            connect(link, &QPushButton::clicked, this, [this] { BrowseLink(); });
        } else {
            connect(link, &QPushButton::clicked, this, [this, view = view] { SwitchView(view); });
        }
        strip->addWidget(link);
    }
    strip->addStretch(1);
    column->addLayout(strip);

    // 4. View title.
    m_viewTitle = new QLabel(central);
    m_viewTitle->setObjectName("lblView");
    m_viewTitle->setAccessibleName("View");
    m_viewTitle->setAutoFillBackground(true);
    QFont titleFont = m_viewTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.15);
    m_viewTitle->setFont(titleFont);
    m_viewTitle->setStyleSheet(QString("background: %1; color: white; padding: 3px;").arg(ColourName(colours.dark)));
    column->addWidget(m_viewTitle);

    // 5. Work area: the left pane, the splitter, the views.
    m_splitter = new QSplitter(Qt::Horizontal, central);
    m_splitter->setObjectName("splitter");
    m_splitter->setHandleWidth(4);
    m_splitter->setStyleSheet(QString("QSplitter::handle { background: %1; }").arg(ColourName(colours.accent)));
    m_leftPane = new QTabWidget(m_splitter);
    m_leftPane->setObjectName("leftPane");
    m_leftPane->setAccessibleName("Zip Pane");
    m_leftPane->setTabPosition(QTabWidget::South);
    // All three captions stay readable: the pane is never narrower than its tabs.
    m_leftPane->tabBar()->setUsesScrollButtons(false);
    m_leftPane->tabBar()->setElideMode(Qt::ElideNone);
    m_zipTree = EmptyTree("tvZip", m_leftPane);
    m_zipTree->setAccessibleName("Zips");
    m_pageTree = EmptyTree("tvPages", m_leftPane);
    m_pageTree->setAccessibleName("Pages");
    m_intranetTree = EmptyTree("tvIntranet", m_leftPane);
    m_intranetTree->setAccessibleName("Personal Intranet");
    m_leftPane->addTab(m_zipTree, "Zips");
    m_leftPane->addTab(m_pageTree, "Pages");
    m_leftPane->addTab(m_intranetTree, "Personal Intranet");
    connect(m_leftPane, &QTabWidget::currentChanged, this, [this](int index) {
        if (!m_leftPane->isVisible())
            return;
        const TLeftTab tab = index == 2 ? TLeftTab::Intranet : index == 1 ? TLeftTab::Pages : TLeftTab::Zips;
        m_views.SelectTab(tab);
        ApplyViewLayout();
        (tab == TLeftTab::Intranet ? m_intranetTree : tab == TLeftTab::Pages ? m_pageTree : m_zipTree)->setFocus();
        if (m_views.View() == TView::Browse)
            ShowSelection();
    });

    auto* viewArea = new QWidget(m_splitter);
    m_viewArea = viewArea;
    viewArea->setAutoFillBackground(true);
    QPalette areaPalette = viewArea->palette();
    areaPalette.setColor(QPalette::Window, QColor::fromRgb(colours.light));
    // Text straight on the light panel stays dark under a dark desktop palette too.
    areaPalette.setColor(QPalette::WindowText, Qt::black);
    viewArea->setPalette(areaPalette);
    auto* areaLayout = new QVBoxLayout(viewArea);
    areaLayout->setContentsMargins(0, 0, 0, 0);
    m_pages = new QStackedWidget(viewArea);
    m_pages->setObjectName("pages");
    areaLayout->addWidget(m_pages);
    m_splitter->addWidget(m_leftPane);
    m_splitter->addWidget(viewArea);
    m_splitter->setStretchFactor(1, 1);
    // Wide enough for the three tab captions.
    const int paneWidth = m_leftPane->tabBar()->sizeHint().width() + 8;
    m_splitter->setSizes({paneWidth, std::max(200, 640 - paneWidth)});
    column->addWidget(m_splitter, 1);

    // 6. The status host and the embedded views, in their creation order.
    auto* statusHost = new QWidget(central);
    statusHost->setObjectName("statusHost");
    statusHost->setFixedHeight(kStatusHostHeight);
    auto* statusLayout = new QVBoxLayout(statusHost);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    m_statusPanel = new TStatusPanel(session, statusHost);
    m_statusPanel->setAccessibleName("Status");
    statusLayout->addWidget(m_statusPanel);
    column->addWidget(statusHost);

    m_taskList = new TTaskListView(session, m_pages);
    m_taskList->setAccessibleName("Tasks");
    m_connections = new TConnectionsView(session, *m_statusPanel, m_pages);
    m_connections->setAccessibleName("Connections");
    m_connections->SetPriority(session.App().Priority());
    connect(m_taskList, &TTaskListView::ExploreRequested, this, [this] { SwitchView(TView::Explore); });
    connect(m_taskList, &TTaskListView::NewTaskRequested, this, [this] { CreateTaskFromAddress({}, {}, false, false); });
    connect(m_taskList, &TTaskListView::BrowseZipEntryRequested, this, &TFormPellix::BrowseZipEntry);
    connect(m_taskList, &TTaskListView::BrowseAddressRequested, this, &TFormPellix::BrowseAddress);
    connect(m_statusPanel, &TStatusPanel::RunRequested, this, [this] {
        // The bound task runs as from the task list: through the run dialog when it has run before.
        if (const std::shared_ptr<TPXTask> task = m_session.Runner().CurrentTask())
            m_taskList->RunTask(*task);
    });

    m_pageOf[TView::Home] = Placeholder("Pellix Home", QString("Pellix Home\n\n") + kHomeHint, m_pages);
    m_zipView = new TZipManagerView(session, m_zipTree, m_pageTree, m_pages);
    m_pageOf[TView::ZipProperties] = m_zipView;
    m_zipView->Message = [this](TRunnerMessageKind kind, const QString& text) { ShowMessage(kind, text); };
    connect(m_zipView, &TZipManagerView::ZipOpened, this, [this](const QString& path) {
        m_recentZips.Add(S(path));
        m_recentZips.Save(m_session.App());
        RebuildReopenMenu();
    });
    connect(m_zipView, &TZipManagerView::ZipRenamed, this, [this](const QString& oldPath, const QString& newPath) {
        m_recentZips.Remove(S(oldPath));
        m_recentZips.Add(S(newPath));
        m_recentZips.Save(m_session.App());
        RebuildReopenMenu();
    });
    connect(m_zipView, &TZipManagerView::PageChosen, this,
            [this](const QString& zip, const QString& entry) { BrowseZipEntry(zip, entry); });
    connect(m_zipView, &TZipManagerView::SelectionMoved, this, [this] {
        if (m_views.View() == TView::Browse)
            ShowSelection();
    });
    connect(m_zipView, &TZipManagerView::ShowRequested, this, [this] {
        if (m_views.View() != TView::Tasks && m_views.View() != TView::ZipProperties)
            SwitchView(TView::ZipProperties);
    });

    m_pageOf[TView::Browse] = Placeholder("Browse", kNoBrowserText, m_pages);
    m_pageOf[TView::Tasks] = m_taskList;
    m_pageOf[TView::Connections] = m_connections;
    auto* explore = new TExploreView(session, m_pages);
    explore->SetBrowseHooks([this](const QString& zip, const QString& entry) { BrowseZipEntry(zip, entry); },
                            [this](const QString& address) { BrowseAddress(address); });
    m_pageOf[TView::Explore] = explore;
    for (const auto& [view, page] : m_pageOf)
        m_pages->addWidget(page);

    setCentralWidget(central);

    BuildMenus();
    RefreshProfileBox();
    RefreshAddressList();
    UpdateActivity();
    ApplyViewLayout();

    // The window place is the stored one from the start, so it never shows elsewhere first.
    const TWindowPosition place = session.App().WindowPosition();
    move(place.left, place.top);
    resize(std::max(place.width, kMainWindowMinWidth), std::max(place.height, kMainWindowMinHeight));

    new TDropTarget(this, [this](const TDropData& data) { HandleDrop(data); });
    BuildTrayMenu();
    ApplySkin();

    // Delete and the zip commands follow the focus, not only the menus opening.
    connect(qApp, &QApplication::focusChanged, this, [this] { ApplyEnabling(); });
    connect(m_zipView, &TZipManagerView::BusyChanged, this, [this] { ApplyEnabling(); });
    session.Events().Subscribe(*this);
}

TFormPellix::~TFormPellix()
{
    // The children go after this body; focus moving among them must not reach this window.
    disconnect(qApp, nullptr, this, nullptr);
    delete m_dropBar;
    m_session.Events().Unsubscribe(*this);
    m_recentZips.Save(m_session.App());
}

void TFormPellix::BuildToolbar(QWidget* host)
{
    auto* row = new QHBoxLayout(host);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(3);
    const auto button = [&](const QString& name, const QString& caption, QStyle::StandardPixmap icon, bool text) {
        auto* b = new QToolButton(host);
        b->setObjectName(name);
        b->setText(caption);
        b->setToolTip(caption);
        b->setAccessibleName(caption);
        b->setIcon(style()->standardIcon(icon));
        b->setToolButtonStyle(text ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonIconOnly);
        b->setAutoRaise(true);
        // Captions are never cut short; the profile box gives way instead.
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        b->setStyleSheet("QToolButton { color: white; } QToolButton:checked { background: rgba(255,255,255,70); }");
        row->addWidget(b);
        m_skinButtons[name] = b;
        return b;
    };
    auto* newTask = button("btnNewTask", "New Task...", QStyle::SP_FileIcon, true);
    newTask->setPopupMode(QToolButton::MenuButtonPopup);
    connect(newTask, &QToolButton::clicked, this, [this] { CreateTaskFromAddress({}, {}, false, false); });
    m_menus["newPopup"] = new QMenu(host);
    newTask->setMenu(m_menus["newPopup"]);

    auto* open = button("btnOpenZip", "Open zip file...", QStyle::SP_DialogOpenButton, false);
    connect(open, &QToolButton::clicked, this, [this] { m_zipView->OpenDialog(); });

    auto* downloads = button("btnDownloads", "Downloads folder", QStyle::SP_DirIcon, false);
    downloads->setPopupMode(QToolButton::MenuButtonPopup);
    auto* downloadsMenu = new QMenu(host);
    downloadsMenu->setObjectName("recentDownloadsPopup");
    m_menus["recentDownloadsPopup"] = downloadsMenu;
    connect(downloadsMenu, &QMenu::aboutToShow, this, [this, downloadsMenu] { RebuildDownloadsMenu(downloadsMenu); });
    downloads->setMenu(downloadsMenu);
    connect(downloads, &QToolButton::clicked, this,
            [this] { m_session.App().URLLauncher().Open(m_session.App().DownloadsFolder()); });

    auto* profileLabel = new QLabel("Profile:", host);
    profileLabel->setStyleSheet("color: white;");
    row->addWidget(profileLabel);
    m_profiles = new QComboBox(host);
    m_profiles->setObjectName("cmbProfile");
    m_profiles->setToolTip(kProfileHint);
    m_profiles->setAccessibleName("Profile:");
    m_profiles->setMinimumContentsLength(6);
    m_profiles->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_profiles->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    profileLabel->setBuddy(m_profiles);
    row->addWidget(m_profiles);

    m_zipMode = button("btnZipMode", "Default: Pellix Mode.", QStyle::SP_DriveHDIcon, false);
    m_intranetMode = button("btnIntranetMode", "Default: Personal Intranet Mode", QStyle::SP_DirHomeIcon, false);
    m_zipMode->setCheckable(true);
    m_intranetMode->setCheckable(true);
    auto* modes = new QButtonGroup(host);
    modes->setExclusive(true);
    modes->addButton(m_zipMode, kSaveModeZip);
    modes->addButton(m_intranetMode, kSaveModeIntranet);
    (m_session.App().SaveMode() == kSaveModeIntranet ? m_intranetMode : m_zipMode)->setChecked(true);
    connect(modes, &QButtonGroup::idClicked, this, [this](int id) { m_session.App().SetSaveMode(id); });

    m_addToZip = button("btnAddToZip", "Add future downloads to currently selected zip", QStyle::SP_FileDialogNewFolder,
                        false);
    m_addToZip->setCheckable(true);

    auto* help = button("btnHelp", "Help", QStyle::SP_DialogHelpButton, false);
    connect(help, &QToolButton::clicked, this, [this] { Action("helpContents")->trigger(); });
    auto* go = button("btnGo", "Go", QStyle::SP_ArrowRight, true);
    go->setPopupMode(QToolButton::MenuButtonPopup);
    connect(go, &QToolButton::clicked, this, [this] { GoClicked(false); });
    m_menus["goPopup"] = new QMenu(host);
    go->setMenu(m_menus["goPopup"]);

    row->addStretch(1);
    m_activity = new QProgressBar(host);
    m_activity->setObjectName("activity");
    m_activity->setAccessibleName("Activity");
    m_activity->setTextVisible(false);
    m_activity->setFixedSize(40, 14);
    row->addWidget(m_activity);
    m_animation = new QLabel(host);
    m_animation->setObjectName("imgActivity");
    m_animation->setAccessibleName("Activity");
    m_animation->setFixedSize(24, 24);
    row->addWidget(m_animation);
}

QAction* TFormPellix::AddAction(QMenu* menu, const QString& name, const QString& caption, const QKeySequence& key)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    if (!key.isEmpty())
        action->setShortcut(key);
    m_actions[name] = action;
    return action;
}

QAction* TFormPellix::NotYet(QMenu* menu, const QString& name, const QString& caption, const QKeySequence& key)
{
    QAction* action = AddAction(menu, name, caption, key);
    connect(action, &QAction::triggered, this, [this] { ShowNotAvailable(); });
    return action;
}

void TFormPellix::BuildMenus()
{
    QMenuBar* bar = menuBar();
    const auto menu = [&](QMenu* parent, const QString& name, const QString& caption) {
        QMenu* m = parent ? parent->addMenu(caption) : bar->addMenu(caption);
        m->setObjectName(name);
        m_menus[name] = m;
        return m;
    };

    // File.
    m_fileMenu = menu(nullptr, "file", "&File");
    QMenu* fileNew = menu(m_fileMenu, "fileNew", "&New");
    connect(AddAction(fileNew, "fileNewFileZip", "&File Zip...", Qt::Key_F6), &QAction::triggered, this,
            [this] { m_zipView->NewFileZip(); });
    connect(AddAction(fileNew, "fileNewDownloadTask", "&Download Task...", Qt::Key_F7), &QAction::triggered, this,
            [this] { CreateTaskFromAddress({}, {}, false, false); });
    QMenu* special = menu(fileNew, "fileNewSpecial", "&Special");
    QAction* dayZip = AddAction(special, "dayZip", "");
    connect(dayZip, &QAction::triggered, this, [this] {
        m_zipView->DayZip(QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat));
        ApplyEnabling();
        if (m_addToZip->isEnabled())
            m_addToZip->setChecked(true);
    });
    connect(special, &QMenu::aboutToShow, this, [this] { UpdateDayZipCaption(); });
    connect(AddAction(m_fileMenu, "fileOpen", "&Open..."), &QAction::triggered, this, [this] { m_zipView->OpenDialog(); });
    m_reopenSeparator = m_fileMenu->addSeparator();
    m_reopenMenu = new QMenu("&Reopen", m_fileMenu);
    m_reopenMenu->setObjectName("fileReopen");
    m_menus["fileReopen"] = m_reopenMenu;
    m_reopenAction = m_fileMenu->addMenu(m_reopenMenu);
    connect(AddAction(m_fileMenu, "fileClose", "&Close"), &QAction::triggered, this, [this] { m_zipView->CloseZip(); });
    m_fileMenu->addSeparator();
    connect(AddAction(m_fileMenu, "fileExit", "E&xit", QKeySequence(Qt::ALT | Qt::Key_F4)), &QAction::triggered, this,
            &QWidget::close);
    RebuildReopenMenu();

    // Edit: the items act on the focused edit field, as the field's own keys do.
    QMenu* edit = menu(nullptr, "edit", "&Edit");
    const auto onEdit = [this](auto call) {
        QWidget* focus = QApplication::focusWidget();
        if (auto* line = qobject_cast<QLineEdit*>(focus))
            call(line);
        else if (auto* combo = qobject_cast<QComboBox*>(focus); combo && combo->lineEdit())
            call(combo->lineEdit());
    };
    connect(AddAction(edit, "editUndo", "&Undo        Ctrl+Z"), &QAction::triggered, this,
            [onEdit] { onEdit([](QLineEdit* e) { e->undo(); }); });
    connect(AddAction(edit, "editCut", "Cu&t            Ctrl+X"), &QAction::triggered, this,
            [onEdit] { onEdit([](QLineEdit* e) { e->cut(); }); });
    connect(AddAction(edit, "editCopy", "&Copy         Ctrl+C"), &QAction::triggered, this,
            [onEdit] { onEdit([](QLineEdit* e) { e->copy(); }); });
    connect(AddAction(edit, "editPaste", "&Paste        Ctrl+V"), &QAction::triggered, this,
            [onEdit] { onEdit([](QLineEdit* e) { e->paste(); }); });
    edit->addSeparator();
    connect(AddAction(edit, "editPasteURL", "Paste URL...", QKeySequence(Qt::CTRL | Qt::Key_B)), &QAction::triggered,
            this, [this] { PasteURL(); });

    // View.
    QMenu* view = menu(nullptr, "view", "&View");
    QMenu* zipPane = menu(view, "viewZipPane", "&Zip Pane");
    auto* splitGroup = new QActionGroup(this);
    QAction* horizontal = AddAction(zipPane, "splitHorizontally", "Split &Horizontally");
    QAction* vertical = AddAction(zipPane, "splitVertically", "Split &Vertically");
    for (QAction* a : {horizontal, vertical}) {
        a->setCheckable(true);
        splitGroup->addAction(a);
    }
    vertical->setChecked(true);
    connect(horizontal, &QAction::triggered, this, [this] { m_splitter->setOrientation(Qt::Vertical); });
    connect(vertical, &QAction::triggered, this, [this] { m_splitter->setOrientation(Qt::Horizontal); });
    QMenu* viewDownloads = menu(view, "viewDownloadsFolder", "&Downloads Folder");
    connect(view, &QMenu::aboutToShow, this, [this, viewDownloads] { RebuildDownloadsMenu(viewDownloads); });
    connect(AddAction(view, "viewProfilesEditor", "Profiles Editor..."), &QAction::triggered, this, [this] {
        TdlgEditProfile editor(m_session.App(), this);
        editor.exec();
        RefreshProfileBox();
    });
    QMenu* options = menu(view, "viewOptions", "&Options");
    connect(AddAction(options, "viewPreferences", "&Preferences..."), &QAction::triggered, this, [this] { ShowOptions(); });
    connect(AddAction(options, "viewSelectSkin", "&Select Skin...", QKeySequence(Qt::CTRL | Qt::Key_K)),
            &QAction::triggered, this, [this] {
                TdlgSelectSkin dialog(m_session.App(), [this] { ApplySkin(); }, this);
                dialog.exec();
            });

    // Zip. Its keys differ from the Task menu's (Ctrl+N, Ctrl+E, Ctrl+R, Ctrl+S): one key, one command.
    QMenu* zip = menu(nullptr, "zip", "&Zip");
    QMenu* zipNew = menu(zip, "zipNew", "New");
    connect(AddAction(zipNew, "zipNewFileZip", "&File Zip...", QKeySequence(Qt::CTRL | Qt::Key_F)), &QAction::triggered,
            this, [this] { m_zipView->NewFileZip(); });
    connect(AddAction(zipNew, "zipNewWebZip", "&Web Zip...", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N)),
            &QAction::triggered, this, [this] { CreateTaskFromAddress({}, {}, false, false); });
    connect(AddAction(zip, "zipOpen", "&Open...", QKeySequence(Qt::CTRL | Qt::Key_O)), &QAction::triggered, this,
            [this] { m_zipView->OpenDialog(); });
    connect(AddAction(zip, "zipClose", "&Close"), &QAction::triggered, this, [this] { m_zipView->CloseZip(); });
    connect(AddAction(zip, "zipAdd", "&Add...", QKeySequence(Qt::CTRL | Qt::Key_A)), &QAction::triggered, this,
            [this] { m_zipView->AddFiles(); });
    connect(AddAction(zip, "zipDelete", "&Delete", QKeySequence(Qt::Key_Delete)), &QAction::triggered, this,
            [this] { m_zipView->DeleteSelection(); });
    connect(AddAction(zip, "zipUnzip", "&Unzip...", QKeySequence(Qt::CTRL | Qt::Key_U)), &QAction::triggered, this,
            [this] { m_zipView->Unzip(); });
    connect(AddAction(zip, "zipRename", "Rena&me", QKeySequence(Qt::Key_F2)), &QAction::triggered, this,
            [this] { m_zipView->Rename(); });
    QMenu* zipBrowse = menu(zip, "zipBrowse", "&Browse");
    connect(AddAction(zipBrowse, "zipBrowseFirst", "&Internet Explorer..."), &QAction::triggered, this,
            [this] { m_zipView->Browse(TBrowseWith::FirstBrowser); });
    connect(AddAction(zipBrowse, "zipBrowseSecond", "Netscape Navigator..."), &QAction::triggered, this,
            [this] { m_zipView->Browse(TBrowseWith::SecondBrowser); });
    connect(AddAction(zipBrowse, "zipBrowseNotepad", "Notepad"), &QAction::triggered, this,
            [this] { m_zipView->Browse(TBrowseWith::TextEditor); });
    zip->addSeparator();
    connect(AddAction(zip, "zipCancel", "Stop Zip Operation"), &QAction::triggered, this, [this] { m_zipView->Cancel(); });
    // The zip tree's pop-up menu holds the same commands.
    m_zipTree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_zipTree, &QWidget::customContextMenuRequested, this, [this, zip](const QPoint& at) {
        ApplyEnabling();
        zip->exec(m_zipTree->viewport()->mapToGlobal(at));
    });
    m_zipView->List()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_zipView->List(), &QWidget::customContextMenuRequested, this, [this, zip](const QPoint& at) {
        ApplyEnabling();
        zip->exec(m_zipView->List()->viewport()->mapToGlobal(at));
    });

    // Task: the task list's own menu.
    if (QMenu* task = m_taskList->TaskMenu()) {
        task->setObjectName("task");
        m_menus["task"] = task;
        bar->addMenu(task);
    }

    // Help.
    QMenu* help = menu(nullptr, "help", "&Help");
    connect(AddAction(help, "helpContents", "&Contents...", Qt::Key_F1), &QAction::triggered, this,
            [this] { ShowHelp(m_session.App(), this); });
    connect(AddAction(help, "helpReleaseNotes", "&Release Notes..."), &QAction::triggered, this, [this] {
        std::string file = m_session.App().ProgramFolder() + "Release_Notes.htm";
        std::error_code ec;
        if (!std::filesystem::exists(file, ec))
            file = (TFirstStart::DefaultDataFolder() / "Release_Notes.htm").string();
        SwitchView(TView::Browse);
        BrowseAddress(Q(file));
    });
    help->addSeparator();
    NotYet(help, "helpOnline", "Online Help...");
    NotYet(help, "helpNews", "&Pellix News...");
    NotYet(help, "helpTour", "Pellix &Tour...");
    NotYet(help, "helpHomePage", "Brackwell Home &Page...");
    help->addSeparator();
    connect(AddAction(help, "helpAbout", "&About..."), &QAction::triggered, this, [this] {
        QTimer::singleShot(0, this, [this] {
            TdlgAbout about(m_session.App(), this);
            about.exec();
        });
    });

    for (const char* name : {"file", "edit", "zip", "task", "help"})
        if (QMenu* m = Menu(name))
            connect(m, &QMenu::aboutToShow, this, [this] { ApplyEnabling(); });

    // Pop-up menus of the toolbar.
    QMenu* newPopup = m_menus["newPopup"];
    connect(AddAction(newPopup, "newFileZip", "New &File Zip..."), &QAction::triggered, this,
            [this] { m_zipView->NewFileZip(); });
    connect(AddAction(newPopup, "newDownloadTask", "New &Download Task..."), &QAction::triggered, this,
            [this] { CreateTaskFromAddress({}, {}, false, false); });
    connect(AddAction(newPopup, "newIntranetSite", "New Personal Intranet Website"), &QAction::triggered, this,
            [this] { CreateTaskFromAddress({}, {}, false, true); });
    QMenu* newSpecial = newPopup->addMenu("&Special");
    newSpecial->addAction(dayZip);
    connect(newSpecial, &QMenu::aboutToShow, this, [this] { UpdateDayZipCaption(); });

    QMenu* goPopup = m_menus["goPopup"];
    connect(AddAction(goPopup, "goGo", "GO"), &QAction::triggered, this, [this] { GoClicked(false); });
    connect(AddAction(goPopup, "goNewTask", "New Download Task..."), &QAction::triggered, this,
            [this] { CreateTaskFromAddress(m_address->currentText(), {}, false, IntranetModeChosen()); });
    connect(AddAction(goPopup, "goMap", "Map"), &QAction::triggered, this,
            [this] { CreateTaskFromAddress(m_address->currentText(), CurrentProfile(), true, IntranetModeChosen()); });
    UpdateDayZipCaption();
}

QAction* TFormPellix::Action(const QString& objectName) const
{
    const auto it = m_actions.find(objectName);
    return it == m_actions.end() ? nullptr : it->second;
}

QMenu* TFormPellix::Menu(const QString& objectName) const
{
    const auto it = m_menus.find(objectName);
    return it == m_menus.end() ? nullptr : it->second;
}

TMenuState TFormPellix::CurrentMenuState() const
{
    TMenuState state;
    state.zipSelected = m_zipView->ZipSelected();
    QWidget* focus = QApplication::focusWidget();
    if (m_zipView->Focus() != TFocusKind::Other)
        state.focus = m_zipView->Focus();
    else if (auto* line = qobject_cast<QLineEdit*>(focus)) {
        state.focus = TFocusKind::EditField;
        state.editHasSelection = line->hasSelectedText();
        state.editCanUndo = line->isUndoAvailable() && !line->isReadOnly();
    } else if (auto* combo = qobject_cast<QComboBox*>(focus); combo && combo->lineEdit()) {
        state.focus = TFocusKind::EditField;
        state.editHasSelection = combo->lineEdit()->hasSelectedText();
        state.editCanUndo = combo->lineEdit()->isUndoAvailable();
    }
    state.clipboardHasText = !QGuiApplication::clipboard()->text().isEmpty();
    state.chromiumInstalled = m_browsers.first;
    state.firefoxInstalled = m_browsers.second;
    return state;
}

void TFormPellix::ApplyEnabling()
{
    const TMenuEnabling e = MenuEnabling(CurrentMenuState());
    const TZipCommands z = m_zipView->Commands(m_browsers.first, m_browsers.second);
    Action("fileClose")->setEnabled(z.close);
    Action("zipClose")->setEnabled(z.close);
    Action("zipAdd")->setEnabled(z.add);
    Action("zipDelete")->setEnabled(z.del);
    Action("zipUnzip")->setEnabled(z.unzip);
    Action("zipRename")->setEnabled(z.rename);
    Action("zipCancel")->setEnabled(z.cancel);
    Menu("zipBrowse")->setEnabled(z.browse);
    Action("zipBrowseNotepad")->setEnabled(z.textEditor);
    Action("editUndo")->setEnabled(e.undo);
    Action("editCut")->setEnabled(e.cut);
    Action("editCopy")->setEnabled(e.copy);
    Action("editPaste")->setEnabled(e.paste);
    Action("zipBrowseFirst")->setEnabled(z.firstBrowser);
    Action("zipBrowseSecond")->setEnabled(z.secondBrowser);
    m_addToZip->setEnabled(e.addToZip);
    if (!e.addToZip)
        m_addToZip->setChecked(false);
}

void TFormPellix::ShowMessage(TRunnerMessageKind kind, const QString& text)
{
    if (m_messageSink) {
        m_messageSink(kind, text);
        return;
    }
    // Never a modal loop inside the caller (a core event, a menu): the box opens from the loop.
    QTimer::singleShot(0, this, [this, kind, text] {
        if (kind == TRunnerMessageKind::Error)
            QMessageBox::critical(this, "Pellix", text);
        else
            QMessageBox::information(this, "Pellix", text);
    });
}

void TFormPellix::ShowNotAvailable() { ShowMessage(TRunnerMessageKind::Information, kNotAvailableYet); }

void TFormPellix::RebuildReopenMenu()
{
    m_reopenMenu->clear();
    const std::vector<std::string>& items = m_recentZips.Items();
    for (std::size_t i = 0; i < items.size(); ++i) {
        const QString path = Q(items[i]);
        QAction* entry = m_reopenMenu->addAction(Q(RecentZipCaption(i, items[i])));
        entry->setObjectName(QString("reopen%1").arg(i + 1));
        connect(entry, &QAction::triggered, this, [this, path] {
            const std::string error =
                CheckRecentZip(m_recentZips, S(path), QFileInfo::exists(path) && QFileInfo(path).isFile());
            if (!error.empty()) {
                m_recentZips.Save(m_session.App());
                // The menu that holds this entry is still being closed: rebuild it afterwards.
                QTimer::singleShot(0, this, [this] { RebuildReopenMenu(); });
                ShowMessage(TRunnerMessageKind::Error, Q(error));
                return;
            }
            OpenZipFile(path);
        });
    }
    m_reopenSeparator->setVisible(!items.empty());
    m_reopenAction->setVisible(!items.empty());
}

void TFormPellix::RebuildDownloadsMenu(QMenu* menu)
{
    menu->clear();
    const QString folder = Q(m_session.App().DownloadsFolder());
    // The folder listing's order; at most 25 names.
    const QStringList names = QDir(folder).entryList({"*.zip", "*.ZIP", "*.Zip"}, QDir::Files, QDir::Unsorted);
    for (int i = 0; i < names.size() && i < 25; ++i) {
        const QString path = QDir(folder).filePath(names[i]);
        connect(menu->addAction(names[i]), &QAction::triggered, this, [this, path] { OpenZipFile(path); });
    }
    menu->addSeparator();
    connect(menu->addAction("More..."), &QAction::triggered, this,
            [this, folder] { m_session.App().URLLauncher().Open(S(folder)); });
}

void TFormPellix::RefreshAddressList()
{
    // Refilling clears the edit field's text, selection and undo: only when the list changed.
    const std::vector<std::string>& items = m_recentURLs.Items();
    bool same = m_address->count() == static_cast<int>(items.size());
    for (int i = 0; same && i < m_address->count(); ++i)
        same = m_address->itemText(i) == Q(items[i]);
    if (same)
        return;
    const QString text = m_address->currentText();
    m_address->blockSignals(true);
    m_address->clear();
    for (const std::string& url : m_recentURLs.Items())
        m_address->addItem(Q(url));
    m_address->setCurrentIndex(-1);
    m_address->setEditText(text);
    m_address->blockSignals(false);
}

void TFormPellix::RefreshProfileBox()
{
    const QString current = m_profiles->currentText();
    m_profiles->clear();
    for (const std::string& name : ProfileBoxItems(m_session.App().ProfilesFolder()))
        m_profiles->addItem(Q(name));
    int index = m_profiles->findText(current.isEmpty() ? QString("Default") : current);
    m_profiles->setCurrentIndex(index < 0 ? 0 : index);
}

void TFormPellix::RefreshModeHints()
{
    m_intranetMode->setToolTip(Q(IntranetModeHint(m_session.App().IntranetFolder())));
    m_zipMode->setToolTip(Q(ZipModeHint(m_session.App().DownloadsFolder())));
}

void TFormPellix::UpdateDayZipCaption()
{
    const QString date = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
    Action("dayZip")->setText(Q(DayZipCaption(S(date))));
}

void TFormPellix::UpdateActivity()
{
    const bool running = m_session.Runner().RunningTask() != nullptr;
    // A busy bar while a task runs; at rest, an empty one.
    m_activity->setRange(0, running ? 0 : 1);
    m_activity->setValue(0);
    if (QMovie* movie = m_animation ? m_animation->movie() : nullptr) {
        if (running) {
            movie->start();
        } else {
            movie->stop();
            movie->jumpToFrame(0);
        }
    }
}

void TFormPellix::Activate()
{
    TPXApp& app = m_session.App();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ApplyEnabling();
    m_browsers = m_browserLookup ? m_browserLookup() : std::make_pair(false, false);
    ApplyEnabling();
    m_connections->SetConnections(static_cast<int>(app.Connections()));
    (app.SaveMode() == kSaveModeIntranet ? m_intranetMode : m_zipMode)->setChecked(true);
    m_recentURLs.SetMaximum(app.MaxURLHistory());
    m_recentZips.SetMaximum(app.MaxFileHistory());
    RefreshModeHints();
    RefreshAddressList();
    RefreshProfileBox();
    RebuildReopenMenu();
    if (!m_tray && QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = new QSystemTrayIcon(windowIcon().isNull() ? style()->standardIcon(QStyle::SP_DriveNetIcon) : windowIcon(),
                                     this);
        m_tray->setToolTip("Pellix");
        m_tray->setContextMenu(m_trayMenu);
        connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                RestoreProgram();
        });
        m_tray->show();
    }
    if (!m_intranetTree->model()) {
        auto* model = new QFileSystemModel(m_intranetTree);
        model->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot);
        const QString root = Q(app.IntranetFolder());
        m_intranetTree->setModel(model);
        m_intranetTree->setRootIndex(model->setRootPath(root));
        for (int column = 1; column < model->columnCount(); ++column)
            m_intranetTree->hideColumn(column);
        connect(m_intranetTree->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
            if (m_views.View() == TView::Browse)
                ShowSelection();
        });
    }
    QApplication::restoreOverrideCursor();
}

void TFormPellix::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !m_closing)
        Activate();
    if (event->type() == QEvent::WindowStateChange && !m_closing) {
        if (isMinimized()) {
            ShowDropZone();
            // With a tray the program leaves the taskbar; without one it stays minimised there.
            if (m_tray && m_tray->isVisible())
                QTimer::singleShot(0, this, [this] {
                    if (isMinimized())
                        hide();
                });
        } else if (m_dropBar) {
            CloseDropZone();
        }
    }
}

void TFormPellix::ApplyViewLayout()
{
    m_pages->setCurrentWidget(m_pageOf[m_views.View()]);
    m_viewTitle->setText(Q(m_views.Title()));
    m_leftPane->setVisible(m_views.LeftPaneVisible());
}

void TFormPellix::SwitchView(TView view)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const TView before = m_views.View();
    const std::shared_ptr<TPXTask> current = m_session.Runner().CurrentTask();
    m_views.SwitchTo(view, current ? current->TaskName() : std::string());
    ApplyViewLayout();
    QApplication::restoreOverrideCursor();
    ApplyEnabling();
    if (view == TView::Browse && before != TView::Browse)
        ShowSelection();
    else if (view == TView::Home)
        ShowHome();
}

void TFormPellix::BrowseLink()
{
    const TView before = m_views.View();
    m_views.BrowseLink();
    ApplyViewLayout();
    ApplyEnabling();
    if (before != TView::Browse)
        ShowSelection();
}

void TFormPellix::ShowBrowserStatus(const QString& text) { m_session.Status().ShowStatus(S(text), 0, 0); }

bool TFormPellix::EnsureBrowser()
{
#ifdef PELLIX_HAVE_WEBENGINE
    if (!BrowserControlAvailable())
        return false;
    if (!m_browserProfile) {
        // Off the record, and nothing kept in a cache: an offline copy is shown as it is now.
        auto* profile = new QWebEngineProfile(this);
        profile->setHttpCacheType(QWebEngineProfile::NoCache);
        m_zipHandler = new TZipSchemeHandler(profile);
        profile->installUrlSchemeHandler(kZipScheme, m_zipHandler);
        m_browserProfile = profile;
    }
    if (!m_browser) {
        auto* profile = static_cast<QWebEngineProfile*>(m_browserProfile);
        m_browser = new TFormBrowser(profile, [this](const QString& text) { ShowBrowserStatus(text); }, m_pages);
        m_browser->SetHomeAddress(Q(TOfflineAddress::FileAddress(m_session.App().DownloadsFolder())));
        if (auto* strip = m_browser->findChild<QWidget*>("pnlBrowserTop")) {
            QPalette palette = strip->palette();
            palette.setColor(QPalette::Window, QColor::fromRgb(m_session.App().Colours().light));
            strip->setPalette(palette);
        }
        m_pages->addWidget(m_browser);
        m_pageOf[TView::Browse] = m_browser;
        ApplyViewLayout();
    }
    return true;
#else
    return false;
#endif
}

void TFormPellix::ShowSelection()
{
    if (!EnsureBrowser())
        return; // the page shows why there is no browser
#ifdef PELLIX_HAVE_WEBENGINE
    if (m_leftPane->currentIndex() == 2) {
        QString path = Q(m_session.App().IntranetFolder());
        if (auto* model = qobject_cast<QFileSystemModel*>(m_intranetTree->model());
            model && m_intranetTree->currentIndex().isValid())
            path = model->filePath(m_intranetTree->currentIndex());
        m_browser->Navigate(Q(TOfflineAddress::FileAddress(S(path))));
        return;
    }
    // The selected file of the zip tree, or the selected page of the page list, straight from
    // its Zip; a Zip or a folder keeps the page being read, and with nothing read yet the
    // downloads folder is shown.
    const TZipEntryRef selected = m_zipView->BrowseSelection(m_leftPane->currentIndex() == 1);
    if (!selected.entry.empty()) {
        const QString address = Q(m_zipHandler->Addresses().AddressOfEntry(selected.zipPath, selected.entry));
        if (m_browser->View() && m_browser->View()->url() == QUrl(address))
            return; // already shown (a page chosen with Enter moves the selection too)
        m_browser->Navigate(address);
        return;
    }
    if (!m_browser->HasPage())
        m_browser->Navigate(Q(TOfflineAddress::FileAddress(m_session.App().DownloadsFolder())));
#endif
}

void TFormPellix::ShowHome()
{
    const QString address = HomePageAddress();
    if (address.isEmpty())
        return;
#ifdef PELLIX_HAVE_WEBENGINE
    if (EnsureBrowser()) {
        if (!m_homeBrowser) {
            auto* profile = static_cast<QWebEngineProfile*>(m_browserProfile);
            m_homeBrowser =
                new TFormBrowseHome(profile, [this](const QString& text) { ShowBrowserStatus(text); }, m_pages);
            m_pages->addWidget(m_homeBrowser);
            m_pageOf[TView::Home] = m_homeBrowser;
            ApplyViewLayout();
        }
        // From the event loop: the control made while the window is still being shown stays blank.
        QTimer::singleShot(0, m_homeBrowser, [home = m_homeBrowser, address] { home->Navigate(address); });
        return;
    }
#endif
    m_session.App().URLLauncher().Open(S(address));
}

void TFormPellix::BrowseZipEntry(const QString& zipPath, const QString& entryName)
{
#ifdef PELLIX_HAVE_WEBENGINE
    if (EnsureBrowser()) {
        // Straight to the entry: the selection rule of the Browse view would only open it again.
        if (m_views.View() != TView::Browse) {
            m_views.SwitchTo(TView::Browse);
            ApplyViewLayout();
            ApplyEnabling();
        }
        m_browser->Navigate(Q(m_zipHandler->Addresses().AddressOfEntry(S(zipPath), S(entryName))));
        return;
    }
#endif
    // Without the control the default browser shows the page, from the Zip unpacked for browsing.
    TZipArchive archive;
    const TZipOpenResult opened = archive.Open(S(zipPath));
    if (!opened.zip) {
        ShowMessage(TRunnerMessageKind::Error,
                    opened.view.message.empty() ? "Cannot open " + zipPath + "." : Q(opened.view.message));
        return;
    }
    const std::string temp = m_session.App().TempFolder();
    const TZipOutcome extracted = archive.ExtractAllForBrowsing(*opened.zip, temp, false);
    if (extracted.code != kZipOk && !extracted.view.message.empty()) {
        ShowMessage(TRunnerMessageKind::Error, Q(extracted.view.message));
        return;
    }
    const std::string file = (temp.empty() || temp.back() == '/' ? temp : temp + "/") + S(entryName);
    if (!m_session.App().URLLauncher().Open(file))
        ShowMessage(TRunnerMessageKind::Error, "Unable to open " + Q(file));
}

void TFormPellix::BrowseAddress(const QString& address)
{
#ifdef PELLIX_HAVE_WEBENGINE
    if (EnsureBrowser()) {
        if (m_views.View() != TView::Browse) {
            m_views.SwitchTo(TView::Browse);
            ApplyViewLayout();
            ApplyEnabling();
        }
        m_browser->Navigate(Q(TOfflineAddress::AddressOfTyped(S(address))));
        return;
    }
#endif
    m_session.App().URLLauncher().Open(S(address));
}

QString TFormPellix::ViewTitleText() const { return m_viewTitle->text(); }
bool TFormPellix::LeftPaneShown() const { return !m_leftPane->isHidden(); }
QWidget* TFormPellix::CurrentPage() const { return m_pages->currentWidget(); }

QString TFormPellix::CurrentProfile() const
{
    const QString name = m_profiles->currentText();
    return name == kCustomProfile ? QString() : name;
}

bool TFormPellix::IntranetModeChosen() const { return m_intranetMode->isChecked(); }

void TFormPellix::GoClicked(bool checkEmpty)
{
    const QString address = m_address->currentText().trimmed();
    if (checkEmpty && address.isEmpty())
        return;
    CreateTaskFromAddress(address, CurrentProfile(), false, IntranetModeChosen());
}

void TFormPellix::PasteURL()
{
    std::string address = S(QGuiApplication::clipboard()->text().trimmed());
    if (!ValidateURL(address))
        return;
    m_address->setEditText(Q(address));
    CreateTaskFromAddress(Q(address), {}, false, IntranetModeChosen());
}

bool TFormPellix::CreateTaskFromAddress(const QString& address, const QString& profile, bool map, bool intranet)
{
    TTaskRunner& runner = m_session.Runner();
    runner.SetAddToZipTarget(m_addToZip->isChecked() && m_zipView->ZipSelected() ? m_zipView->SelectedZipPath()
                                                                                  : std::string());
    TCreateTaskResult created = runner.CreateTaskFromAddress(S(address), S(profile), map, intranet);
    m_recentURLs.Load(m_session.App());
    RefreshAddressList();
    if (!created.ok) {
        ShowMessage(TRunnerMessageKind::Error, Q(created.message));
        return false;
    }
    if (created.needsEditor) {
        bool accepted = false;
        if (m_editorHook) {
            accepted = m_editorHook(created.task);
        } else {
            TTaskEditor editor(m_session, created.task, TTaskEditorCaption::Create, this);
            accepted = editor.exec() == QDialog::Accepted;
        }
        // The task list shows it from the task-added event; the scheduler starts it.
        if (accepted)
            runner.AddTask(*created.task);
    }
    SwitchView(TView::Tasks);
    return true;
}

void TFormPellix::OpenZipFile(const QString& path, bool fromMenu)
{
    (void)fromMenu;
    if (!QFileInfo(path).isFile()) {
        ShowMessage(TRunnerMessageKind::Error, "The file " + path + " no longer exists.");
        return;
    }
    SwitchView(TView::ZipProperties);
    m_zipView->OpenZip(path);
}

void TFormPellix::HandleArgument(const QString& argument, bool fromCommandLine)
{
    switch (ClassifyArgument(S(argument))) {
    case TArgumentKind::TaskFile:
        m_taskList->AddTaskFromFile(argument);
        SwitchView(TView::Tasks);
        break;
    case TArgumentKind::ZipFile: OpenZipFile(argument, false); break;
    case TArgumentKind::Address:
        // Only the first copy's own command line offers the chooser; a handed-over address is not
        // one of the arguments a running copy takes.
        if (fromCommandLine)
            QTimer::singleShot(0, this, [this, argument] { OfferProfileChooser(argument); });
        break;
    case TArgumentKind::Other: break;
    }
}

void TFormPellix::StartUp(const QStringList& arguments)
{
    Activate();
    SwitchView(m_session.App().TasksViewFirst() ? TView::Tasks : TView::Home);
    // The first thing a user does is type or paste an address: Enter then means Go.
    m_address->setFocus();
    if (!arguments.isEmpty())
        HandleArgument(arguments.front(), true);
}

void TFormPellix::StoreWindowPlace()
{
    if (isMaximized() || isMinimized() || isFullScreen())
        return;
    TWindowPosition place;
    place.left = x();
    place.top = y();
    place.width = width();
    place.height = height();
    m_session.App().SetWindowPosition(place);
}

void TFormPellix::closeEvent(QCloseEvent* event)
{
    std::shared_ptr<TPXTask> running = m_session.Runner().RunningTask();
    const bool busy = m_taskList->AnyTaskRunning() ||
                      (running && (running->Status() == kStatusDownloading || running->Status() == kStatusComplete));
    if (busy) {
        if (QMessageBox::question(this, "Pellix", kAbortTaskQuestion, QMessageBox::Yes | QMessageBox::No) !=
            QMessageBox::Yes) {
            event->ignore();
            return;
        }
        m_taskList->StopFirstRunningTask();
        running = m_session.Runner().RunningTask();
        if (running)
            m_session.Runner().StopTask(*running);
    }
    m_closing = true;
    CloseDropZone();
    m_session.Scheduler().Terminate();
    StoreWindowPlace();
    m_recentZips.Save(m_session.App());
    event->accept();
}

// ---- Core events ----

// The status panel shows the status line itself.
void TFormPellix::OnStatusText(const std::string&) {}

void TFormPellix::OnMessage(TRunnerMessageKind kind, const std::string& text) { ShowMessage(kind, Q(text)); }

void TFormPellix::OnTaskAdded(TPXTask&) { UpdateActivity(); }

void TFormPellix::OnTaskChanged(TPXTask& task)
{
    UpdateActivity();
    const std::shared_ptr<TPXTask> running = m_session.Runner().RunningTask();
    if (!running) {
        m_zipViewShownForRun = false;
        return;
    }
    // A zip-mode run opens its Zip file and shows its properties once, when it starts.
    if (running.get() == &task && task.Status() == kStatusDownloading && !task.IntranetMode() &&
        !m_zipViewShownForRun) {
        m_zipViewShownForRun = true;
        m_packed = 0;
        SwitchView(TView::ZipProperties);
    }
}

void TFormPellix::OnTaskCompleted(TPXTask&, const std::string& report)
{
    UpdateActivity();
    m_zipViewShownForRun = false;
    ShowMessage(TRunnerMessageKind::Information, Q(report));
}

void TFormPellix::OnBeep() { QApplication::beep(); }

void TFormPellix::OnZipPacked(TPXTask& task, std::size_t entries)
{
    (void)task;
    // The zip view lists what came in; the count is kept for the figures.
    m_packed += entries;
}

} // namespace pellix

namespace pellix {

void TFormPellix::ShowOptions()
{
    TdlgOptions dialog(m_session.App(), this);
    const auto clear = [this](TRecentList& list) {
        while (!list.Items().empty())
            list.Remove(list.Items().front());
        list.Save(m_session.App());
    };
    dialog.SetClearURLHistory([this, clear] {
        clear(m_recentURLs);
        RefreshAddressList();
    });
    dialog.SetClearFileHistory([this, clear] {
        clear(m_recentZips);
        RebuildReopenMenu();
    });
    if (dialog.exec() != QDialog::Accepted)
        return;
    // What the dialog wrote takes effect now: list lengths, folder hints and the intranet tree.
    TPXApp& app = m_session.App();
    m_recentURLs.SetMaximum(app.MaxURLHistory());
    m_recentZips.SetMaximum(app.MaxFileHistory());
    m_recentURLs.Save(app);
    m_recentZips.Save(app);
    RefreshModeHints();
    RefreshAddressList();
    RebuildReopenMenu();
    if (auto* model = qobject_cast<QFileSystemModel*>(m_intranetTree->model()))
        m_intranetTree->setRootIndex(model->setRootPath(Q(app.IntranetFolder())));
}

} // namespace pellix

namespace pellix {

void TFormPellix::OfferProfileChooser(const QString& address)
{
    std::optional<QString> profile;
    if (m_chooserHook) {
        profile = m_chooserHook(address);
    } else {
        TProfileChooser chooser(m_session.App(), address, this);
        if (chooser.exec() == QDialog::Accepted)
            profile = chooser.ProfileName();
    }
    if (profile)
        CreateTaskFromAddress(address, *profile, false, IntranetModeChosen());
}

void TFormPellix::HandleDrop(const TDropData& data)
{
    const TDropAction action = DecideDrop(data);
    switch (action.kind) {
    case TDropKind::Ignore: break;
    case TDropKind::Addresses:
        for (const std::string& address : action.items)
            OfferProfileChooser(Q(address));
        break;
    case TDropKind::OpenZip:
        RestoreProgram();
        OpenZipFile(Q(action.items.front()));
        break;
    case TDropKind::AddTaskFile:
        // The editor opens on its own: a task file dropped on the zone leaves the program minimised.
        m_taskList->AddTaskFromFile(Q(action.items.front()));
        break;
    case TDropKind::ZipWizard: {
        RestoreProgram();
        QStringList files;
        for (const std::string& item : action.items)
            files << Q(item);
        m_zipView->AddFiles(files);
        break;
    }
    }
}

void TFormPellix::BuildTrayMenu()
{
    m_trayMenu = new QMenu(this);
    m_trayMenu->setObjectName("trayPopup");
    m_menus["trayPopup"] = m_trayMenu;
    QAction* addToZip = AddAction(m_trayMenu, "trayAddToZip", "Add To Current Zip");
    addToZip->setCheckable(true);
    connect(addToZip, &QAction::triggered, this, [this] { m_addToZip->setChecked(!m_addToZip->isChecked()); });
    connect(AddAction(m_trayMenu, "trayPasteURL", "Paste URL and Pellix...\tCtrl+B"), &QAction::triggered, this,
            [this] { PasteURL(); });
    connect(AddAction(m_trayMenu, "trayOptions", "&Options..."), &QAction::triggered, this,
            [this] { Action("viewPreferences")->trigger(); });
    m_trayMenu->addSeparator();
    QAction* restore = AddAction(m_trayMenu, "trayRestore", "&Restore");
    connect(restore, &QAction::triggered, this, [this] { RestoreProgram(); });
    connect(AddAction(m_trayMenu, "trayExit", "&Exit"), &QAction::triggered, this, &QWidget::close);
    connect(m_trayMenu, &QMenu::aboutToShow, this, [this, addToZip, restore] {
        addToZip->setEnabled(m_addToZip->isEnabled());
        addToZip->setChecked(m_addToZip->isChecked());
        restore->setEnabled(m_dropBar != nullptr);
    });
}

void TFormPellix::ShowDropZone()
{
    if (m_dropBar)
        return;
    m_dropBar = new TFormDropBar([this](const TDropData& data) { HandleDrop(data); }, m_trayMenu,
                                 LoadSkinPixmap(SkinImagePath(m_session.App(), "pxmode.bmp")));
    m_dropBar->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_dropBar, &TFormDropBar::ExitRequested, this, [this] { Action("trayExit")->trigger(); });
    connect(m_dropBar, &TFormDropBar::RestoreRequested, this, [this] { RestoreProgram(); });
    connect(m_dropBar, &QObject::destroyed, this, [this] { m_dropBar = nullptr; });
    m_dropBar->ShowZone();
}

void TFormPellix::CloseDropZone()
{
    if (!m_dropBar)
        return;
    TFormDropBar* zone = m_dropBar;
    m_dropBar = nullptr;
    zone->close();
}

void TFormPellix::RestoreProgram()
{
    if (isMinimized() || isHidden())
        showNormal();
    raise();
    activateWindow();
    CloseDropZone();
}

void TFormPellix::ApplySkin()
{
    TPXApp& app = m_session.App();
    const std::pair<const char*, const char*> buttons[] = {
        {"btnNewTask", "new.bmp"},      {"btnOpenZip", "open.bmp"},     {"btnDownloads", "dwnloads.bmp"},
        {"btnZipMode", "pxmode.bmp"},   {"btnIntranetMode", "pimode.bmp"}, {"btnAddToZip", "addtocur.bmp"},
        {"btnHelp", "help.bmp"},        {"btnGo", "go.bmp"}};
    for (const auto& [name, image] : buttons)
        if (QToolButton* b = m_skinButtons[name])
            b->setIcon(SkinIcon(app, image, b->icon()));
    if (QAction* map = Action("goMap"))
        map->setIcon(SkinIcon(app, "map.bmp", QIcon()));
    const QString animation = SkinImagePath(app, kSkinAnimation);
    if (m_animation) {
        delete m_animation->movie();
        m_animation->setMovie(nullptr);
        if (!animation.isEmpty()) {
            auto* movie = new QMovie(animation, {}, m_animation);
            m_animation->setMovie(movie);
            movie->jumpToFrame(0);
        }
        m_animation->setVisible(!animation.isEmpty());
        m_activity->setVisible(animation.isEmpty());
    }
    m_statusPanel->ApplySkin();
    UpdateActivity();
}

} // namespace pellix
