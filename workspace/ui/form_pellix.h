// TFormPellix: the main window: toolbar, address bar, navigation strip, the views with the left
// pane, the status host, every menu with its enabling, and the window side of running tasks.
#pragma once

#include <QMainWindow>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "workspace/main_window_rules.h"
#include "workspace/session_observer.h"

class QAction;
class QButtonGroup;
class QComboBox;
class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;
class QStackedWidget;
class QSystemTrayIcon;
class QTabWidget;
class QToolButton;
class QTreeView;

namespace pellix {

class TConnectionsView;
class TFormBrowseHome;
class TFormBrowser;
class TZipSchemeHandler;
class TFormDropBar;
struct TDropData;
class TPXTask;
class TSession;
class TStatusPanel;
class TTaskListView;
class TZipManagerView;

class TFormPellix final : public QMainWindow, public ISessionObserver {
    Q_OBJECT
public:
    // The session's owner thread must be this window's thread.
    explicit TFormPellix(TSession& session, QWidget* parent = nullptr);
    ~TFormPellix() override;

    // Start-up after the window is shown: the first view, then the command line's first argument.
    void StartUp(const QStringList& arguments);
    // One argument handed over by a second copy or given on the command line.
    void HandleArgument(const QString& argument, bool fromCommandLine);
    // Creates a task as Enter in the address box, Go, Paste URL and the New menu do. With no
    // profile (or "Custom") the "Create New Task" editor decides. False when nothing was created.
    bool CreateTaskFromAddress(const QString& address, const QString& profile, bool map, bool intranet);
    void SwitchView(TView view);
    // The Browse link of the navigation strip.
    void BrowseLink();

    // Where messages go; by default a box posted to the event loop (never opened inside a core
    // event). Tests collect them instead.
    using TMessageSink = std::function<void(TRunnerMessageKind kind, const QString& text)>;
    void SetMessageSink(TMessageSink sink) { m_messageSink = std::move(sink); }
    // Where "Create New Task" goes; by default the modal task editor. True when the user accepted.
    using TEditorHook = std::function<bool(const std::shared_ptr<TPXTask>& task)>;
    void SetEditorHook(TEditorHook hook) { m_editorHook = std::move(hook); }
    // Whether the browsers of the menus are installed (looked up at each activation by default).
    // Where an address argument goes; by default the profile chooser. The chosen profile, empty
    // for the editor, nothing when cancelled.
    using TChooserHook = std::function<std::optional<QString>(const QString& address)>;
    void SetChooserHook(TChooserHook hook) { m_chooserHook = std::move(hook); }
    void SetBrowserLookup(std::function<std::pair<bool, bool>()> lookup) { m_browserLookup = std::move(lookup); }

    // For tests and the figures.
    QAction* Action(const QString& objectName) const;
    QMenu* Menu(const QString& objectName) const;
    const TViewSwitcher& Views() const { return m_views; }
    QString ViewTitleText() const;
    bool LeftPaneShown() const;
    QWidget* CurrentPage() const;
    QComboBox* AddressBox() const { return m_address; }
    TTaskListView* TaskList() const { return m_taskList; }
    TZipManagerView* ZipView() const { return m_zipView; }
    QComboBox* ProfileBox() const { return m_profiles; }
    const TRecentList& RecentZips() const { return m_recentZips; }
    const TRecentList& RecentURLs() const { return m_recentURLs; }
    // Applies the enabling rules as if a menu had just opened.
    void ApplyEnabling();
    // Opens a Zip file in the zip tree; it joins the recent list once it is open.
    void OpenZipFile(const QString& path, bool fromMenu = true);
    // Re-runs what the activation handler does (also called on every activation).
    void Activate();
    // Shows an entry of a Zip file (a saved page) in the Browse view, offline.
    void BrowseZipEntry(const QString& zipPath, const QString& entryName);
    // Shows an address in the Browse view, online (or a file: address of the personal intranet).
    void BrowseAddress(const QString& address);
    // The internal browser and the home view, once created (never without the browser control).
    TFormBrowser* Browser() const { return m_browser; }
    TFormBrowseHome* HomeBrowser() const { return m_homeBrowser; }

    // What a drop onto the window or the drop zone does.
    void HandleDrop(const TDropData& data);
    // Colours and images of the current skin on the window and the status panel.
    void ApplySkin();
    // Back from the tray or the taskbar: shown, in front, the drop zone closed.
    void RestoreProgram();
    TFormDropBar* DropBar() const { return m_dropBar; }
    QMenu* TrayMenu() const { return m_trayMenu; }

    // ISessionObserver (owner thread).
    void OnStatusText(const std::string& text) override;
    void OnMessage(TRunnerMessageKind kind, const std::string& text) override;
    void OnTaskAdded(TPXTask& task) override;
    void OnTaskChanged(TPXTask& task) override;
    void OnTaskCompleted(TPXTask& task, const std::string& report) override;
    void OnBeep() override;
    void OnZipPacked(TPXTask& task, std::size_t entries) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildToolbar(QWidget* host);
    void BuildMenus();
    QAction* AddAction(QMenu* menu, const QString& name, const QString& caption, const QKeySequence& key = {});
    QAction* NotYet(QMenu* menu, const QString& name, const QString& caption, const QKeySequence& key = {});
    void ShowMessage(TRunnerMessageKind kind, const QString& text);
    void ShowNotAvailable();
    // View > Options > Preferences...: the preferences dialog; its settings apply at once.
    void ShowOptions();
    void RebuildReopenMenu();
    void RebuildDownloadsMenu(QMenu* menu);
    void RefreshAddressList();
    void RefreshProfileBox();
    void RefreshModeHints();
    void UpdateActivity();
    void UpdateDayZipCaption();
    void ApplyViewLayout();
    void PasteURL();
    void GoClicked(bool checkEmpty);
    TMenuState CurrentMenuState() const;
    QString CurrentProfile() const;
    bool IntranetModeChosen() const;
    void StoreWindowPlace();
    // The Browse view's content follows the left pane's selection; Home shows the home page.
    void ShowSelection();
    void ShowHome();
    bool EnsureBrowser();
    void ShowBrowserStatus(const QString& text);
    void BuildTrayMenu();
    void ShowDropZone();
    void CloseDropZone();
    void OfferProfileChooser(const QString& address);

    TSession& m_session;
    TViewSwitcher m_views;
    TRecentList m_recentURLs;
    TRecentList m_recentZips;
    TMessageSink m_messageSink;
    TEditorHook m_editorHook;
    TChooserHook m_chooserHook;
    std::size_t m_packed = 0;
    std::function<std::pair<bool, bool>()> m_browserLookup;
    std::pair<bool, bool> m_browsers{false, false};
    std::map<QString, QAction*> m_actions;
    std::map<QString, QMenu*> m_menus;
    bool m_zipViewShownForRun = false;
    bool m_closing = false;

    QComboBox* m_address = nullptr;
    QComboBox* m_profiles = nullptr;
    QToolButton* m_zipMode = nullptr;
    QToolButton* m_intranetMode = nullptr;
    QToolButton* m_addToZip = nullptr;
    QProgressBar* m_activity = nullptr;
    QLabel* m_animation = nullptr;
    QMenu* m_trayMenu = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    TFormDropBar* m_dropBar = nullptr;
    QWidget* m_viewArea = nullptr;
    std::map<QString, QToolButton*> m_skinButtons; // by image file
    QLabel* m_viewTitle = nullptr;
    QSplitter* m_splitter = nullptr;
    QTabWidget* m_leftPane = nullptr;
    QTreeView* m_zipTree = nullptr;
    QTreeView* m_pageTree = nullptr;
    QTreeView* m_intranetTree = nullptr;
    QStackedWidget* m_pages = nullptr;
    std::map<TView, QWidget*> m_pageOf;
    TZipManagerView* m_zipView = nullptr;
    TStatusPanel* m_statusPanel = nullptr;
    TTaskListView* m_taskList = nullptr;
    TConnectionsView* m_connections = nullptr;
    QMenu* m_fileMenu = nullptr;
    QMenu* m_reopenMenu = nullptr;
    QAction* m_reopenSeparator = nullptr;
    QAction* m_reopenAction = nullptr;
    QObject* m_browserProfile = nullptr;  // the browsers' shared profile, when there is a control
    TZipSchemeHandler* m_zipHandler = nullptr;
    TFormBrowser* m_browser = nullptr;
    TFormBrowseHome* m_homeBrowser = nullptr;
};

} // namespace pellix
