// The main window's rules without a window: recent-items lists, menu enabling, view switching,
// the day zip, command-line arguments, the single-instance message and proxy detection.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pellix {

class TPXApp;

inline constexpr const char* kMainWindowCaption = "Pellix 2.50";
inline constexpr int kMainWindowMinWidth = 540;
inline constexpr int kMainWindowMinHeight = 400;
inline constexpr int kStatusHostHeight = 120;
inline constexpr const char* kNotAvailableYet = "Not available yet.";
inline constexpr const char* kAbortTaskQuestion = "A Pellix Task is still running.  \nDo you want to abort this task and exit?";
inline constexpr const char* kAboutVersion = "Version 2.50 (Build 98 (09 November 1998)";
inline constexpr const char* kProfileHint = "Select a profile to specify what,\nand how much, should be retrieved";
// What the Home view says when it has no home page to show, or the home page cannot be reached.
inline constexpr const char* kHomeHint =
    "Type a web address above and press Go, or choose File > New > Download Task... (F7).";
inline constexpr const char* kBrowseLinkHint = "Click twice to toggle wide-view";
inline constexpr const char* kCustomProfile = "Custom";

// A most-recent-first list with an 8-bit maximum, stored as values "F0", "F1", ... of one key.
class TRecentList final {
public:
    TRecentList(std::string storeKey, std::uint32_t maximum) : m_key(std::move(storeKey)) { SetMaximum(maximum); }

    // The setting is a 32-bit value; the list keeps at most 255 items, so larger values mean 255
    // rather than wrapping round to a small count.
    void SetMaximum(std::uint32_t maximum);
    std::uint8_t Maximum() const { return m_maximum; }
    // At the top; an item already present moves there. Items beyond the maximum go.
    void Add(const std::string& item);
    // True when the item was there.
    bool Remove(const std::string& item);
    const std::vector<std::string>& Items() const { return m_items; }

    void Load(const TPXApp& app);
    void Save(TPXApp& app) const;

private:
    void Trim();

    std::string m_key;
    std::uint8_t m_maximum = 0;
    std::vector<std::string> m_items;
};

// "&1 path", the caption of a recent-zip menu entry (index from 0).
std::string RecentZipCaption(std::size_t index, const std::string& path);
// Choosing a recent Zip file: empty when it exists (open it); otherwise the error to show, and
// the entry is dropped from the list (the caller saves it).
std::string CheckRecentZip(TRecentList& list, const std::string& path, bool exists);

enum class TFocusKind { Other, ZipTree, ZipList, EditField };

// What decides which menu items are enabled when a menu opens.
struct TMenuState {
    bool zipSelected = false; // a Zip file selected in the zip tree
    TFocusKind focus = TFocusKind::Other;
    bool editHasSelection = false;
    bool editCanUndo = false;
    bool clipboardHasText = false;
    bool chromiumInstalled = false; // stands for the first browser of the menus
    bool firefoxInstalled = false;  // the second
};

struct TMenuEnabling {
    bool zipCommands = false; // File > Close, Zip > Close, Browse, Add, Delete, Unzip, Rename
    bool undo = false;
    bool cut = false;
    bool copy = false;
    bool paste = false;
    bool firstBrowser = false;
    bool secondBrowser = false;
    // The add-to-zip toggle: enabled only while a Zip file is selected.
    bool addToZip = false;

    bool operator==(const TMenuEnabling&) const = default;
};

TMenuEnabling MenuEnabling(const TMenuState& state);

enum class TView { Home, ZipProperties, Browse, Tasks, Connections, Explore };
enum class TLeftTab { Zips, Pages, Intranet };

// Which view shows, its title and whether the left pane is on screen.
class TViewSwitcher final {
public:
    // Shows the view; the task name is the current task's (for the Explore title).
    void SwitchTo(TView view, const std::string& currentTaskName = {});
    // The Browse link: with Browse already shown it toggles the left pane, else it shows the
    // pane and switches to Browse.
    void BrowseLink();
    // A tab of the left pane chosen by the user.
    void SelectTab(TLeftTab tab);

    TView View() const { return m_view; }
    const std::string& Title() const { return m_title; }
    bool LeftPaneVisible() const { return m_leftPane; }
    TLeftTab Tab() const { return m_tab; }

private:
    std::string BrowseTitle() const;

    TView m_view = TView::Home;
    std::string m_title = " Pellix Home";
    bool m_leftPane = false;
    TLeftTab m_tab = TLeftTab::Zips;
};

std::string ViewTitle(TView view, TLeftTab tab, const std::string& currentTaskName);

// The day zip's menu caption and its file name (no folder) for today's short date text.
std::string DayZipCaption(const std::string& shortDate);
std::string DayZipFileName(const std::string& shortDate);

// The mode buttons' hints, each followed by its folder.
std::string IntranetModeHint(const std::string& intranetFolder);
std::string ZipModeHint(const std::string& downloadsFolder);

// The profile box: "Custom", then the names of the "*.pxp" files of the folder, sorted.
std::vector<std::string> ProfileBoxItems(const std::string& profilesFolder);

enum class TArgumentKind { Other, Address, TaskFile, ZipFile };
// "http://" or "https://" (any case) is an address; ".pxt" and ".zip" (any case) are files.
TArgumentKind ClassifyArgument(const std::string& argument);

// Single instance: the local server's name for this user and the message a second copy sends.
std::string InstanceServerName(const std::string& user);
std::string InstanceMessage(const std::vector<std::string>& arguments);
// The arguments of a message; nothing when it does not start with "PARAM".
std::optional<std::vector<std::string>> ParseInstanceMessage(const std::string& message);

// A proxy named by the environment.
struct TDetectedProxy {
    std::string variable;      // which variable named it ("https_proxy", ...)
    std::string address;       // host, no scheme
    std::string port;          // decimal text; empty when none was given
    std::string authorization; // "user:password" or empty
    std::string noProxy;       // no_proxy as given
};

// http_proxy, then https_proxy (lower case first, then upper case). Nothing when neither holds a
// usable host.
std::optional<TDetectedProxy> DetectProxy(const std::function<std::string(const char*)>& getenv);
std::optional<TDetectedProxy> DetectProxyFromEnvironment();
// Shown once at first start when a proxy was found and the stored proxy setting is off.
std::string ProxyFoundMessage(const TDetectedProxy& proxy);

// At exit: the temp folder is emptied and removed, but only when it passes the disposability
// guard, and the working folders of unfinished zip-mode runs ("task-" + 16 hex digits) stay: they
// hold files saved but not packed yet, which a resume packs. False when nothing was removed.
bool RemoveTempFolderAtExit(const TPXApp& app);

} // namespace pellix
