#include "workspace/main_window_rules.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "workspace/app_settings.h"

namespace pellix {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() && Lower(text.substr(0, prefix.size())) == prefix;
}

bool EndsWithNoCase(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && Lower(text.substr(text.size() - suffix.size())) == suffix;
}

} // namespace

// ---- Recent lists ----

void TRecentList::SetMaximum(std::uint32_t maximum)
{
    m_maximum = static_cast<std::uint8_t>(std::min<std::uint32_t>(maximum, 255));
    Trim();
}

void TRecentList::Add(const std::string& item)
{
    Remove(item);
    m_items.insert(m_items.begin(), item);
    Trim();
}

bool TRecentList::Remove(const std::string& item)
{
    const auto it = std::find(m_items.begin(), m_items.end(), item);
    if (it == m_items.end())
        return false;
    m_items.erase(it);
    return true;
}

void TRecentList::Trim()
{
    if (m_items.size() > m_maximum)
        m_items.resize(m_maximum);
}

void TRecentList::Load(const TPXApp& app)
{
    m_items = app.RecentItems(m_key);
    Trim();
}

void TRecentList::Save(TPXApp& app) const { app.SaveRecentItems(m_key, m_items); }

std::string RecentZipCaption(std::size_t index, const std::string& path)
{
    return "&" + std::to_string(index + 1) + " " + path;
}

std::string CheckRecentZip(TRecentList& list, const std::string& path, bool exists)
{
    if (exists)
        return {};
    list.Remove(path);
    return "The file " + path + " no longer exists.";
}

// ---- Menus ----

TMenuEnabling MenuEnabling(const TMenuState& state)
{
    TMenuEnabling result;
    result.zipCommands =
        state.zipSelected && (state.focus == TFocusKind::ZipTree || state.focus == TFocusKind::ZipList);
    if (state.focus == TFocusKind::EditField) {
        result.cut = state.editHasSelection;
        result.copy = state.editHasSelection;
        result.undo = state.editCanUndo;
        result.paste = state.clipboardHasText;
    }
    result.firstBrowser = state.chromiumInstalled;
    result.secondBrowser = state.firefoxInstalled;
    result.addToZip = state.zipSelected;
    return result;
}

// ---- Views ----

std::string ViewTitle(TView view, TLeftTab tab, const std::string& currentTaskName)
{
    switch (view) {
    case TView::Home: return " Pellix Home";
    case TView::ZipProperties: return " Zip Properties";
    case TView::Browse: return tab == TLeftTab::Intranet ? " Browse - Personal Web" : " Browse - Zip Files";
    case TView::Tasks: return " Tasks";
    case TView::Connections: return " Connections";
    case TView::Explore: return " Exploring Task: " + currentTaskName;
    }
    return {};
}

void TViewSwitcher::SwitchTo(TView view, const std::string& currentTaskName)
{
    m_view = view;
    m_title = ViewTitle(view, m_tab, currentTaskName);
    switch (view) {
    case TView::ZipProperties: m_leftPane = true; break;
    case TView::Browse: break; // decided by the Browse link
    default: m_leftPane = false; break;
    }
}

void TViewSwitcher::BrowseLink()
{
    if (m_view == TView::Browse)
        m_leftPane = !m_leftPane;
    else
        m_leftPane = true;
    SwitchTo(TView::Browse);
}

void TViewSwitcher::SelectTab(TLeftTab tab)
{
    m_tab = tab;
    if (tab == TLeftTab::Intranet) {
        if (m_view != TView::Browse)
            SwitchTo(TView::Browse);
        m_title = " Browse - Personal Web";
    } else if (tab == TLeftTab::Zips) {
        m_title = " Browse - Zip Files";
    }
}

// ---- Small texts ----

std::string DayZipCaption(const std::string& shortDate) { return "New - My Pellix's for " + shortDate; }

std::string DayZipFileName(const std::string& shortDate)
{
    std::string date = shortDate;
    std::replace(date.begin(), date.end(), '/', '-');
    return "My Pellixs for " + date + ".zip";
}

std::string IntranetModeHint(const std::string& intranetFolder)
{
    return "Set Default: Personal Intranet Mode.\nDownloaded websites are stored directly\non your hard disk within  \n" +
           intranetFolder;
}

std::string ZipModeHint(const std::string& downloadsFolder)
{
    return "Set Default: Pellix Mode.\nDownloaded websites are stored within a single compressed\nZip file which is "
           "saved on your hard disk within  \n" +
           downloadsFolder;
}

std::vector<std::string> ProfileBoxItems(const std::string& profilesFolder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(profilesFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        if (EndsWithNoCase(path.filename().string(), ".pxp") && it->is_regular_file(ec))
            names.push_back(path.stem().string());
    }
    std::sort(names.begin(), names.end());
    names.insert(names.begin(), kCustomProfile);
    return names;
}

// ---- Command line and single instance ----

TArgumentKind ClassifyArgument(const std::string& argument)
{
    if (StartsWithNoCase(argument, "http://") || StartsWithNoCase(argument, "https://"))
        return TArgumentKind::Address;
    if (EndsWithNoCase(argument, ".pxt"))
        return TArgumentKind::TaskFile;
    if (EndsWithNoCase(argument, ".zip"))
        return TArgumentKind::ZipFile;
    return TArgumentKind::Other;
}

std::string InstanceServerName(const std::string& user)
{
    std::string name = "BTXEVTWFCT-";
    // The name becomes a socket file name: keep it to safe characters.
    for (const char c : user)
        name += std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' ? c : '_';
    return name;
}

std::string InstanceMessage(const std::vector<std::string>& arguments)
{
    std::string message = "PARAM\n";
    for (const std::string& argument : arguments) {
        // One argument per line: a line break inside one would split it.
        if (argument.find_first_of("\r\n") != std::string::npos)
            continue;
        message += argument + "\n";
    }
    return message;
}

std::optional<std::vector<std::string>> ParseInstanceMessage(const std::string& message)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < message.size()) {
        std::size_t end = message.find('\n', start);
        if (end == std::string::npos)
            end = message.size();
        std::string line = message.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    if (lines.empty() || lines.front() != "PARAM")
        return std::nullopt;
    lines.erase(lines.begin());
    std::erase(lines, std::string());
    return lines;
}

// ---- Proxy ----

std::optional<TDetectedProxy> DetectProxy(const std::function<std::string(const char*)>& getenv)
{
    for (const char* variable : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY"}) {
        std::string value = getenv(variable);
        if (value.empty())
            continue;
        if (const std::size_t scheme = value.find("://"); scheme != std::string::npos)
            value = value.substr(scheme + 3);
        if (const std::size_t slash = value.find('/'); slash != std::string::npos)
            value.resize(slash);
        TDetectedProxy proxy;
        proxy.variable = variable;
        if (const std::size_t at = value.rfind('@'); at != std::string::npos) {
            proxy.authorization = value.substr(0, at);
            value = value.substr(at + 1);
        }
        std::string host = value;
        if (!host.empty() && host.front() == '[') {
            const std::size_t close = host.find(']');
            if (close == std::string::npos)
                continue;
            host = value.substr(0, close + 1);
            if (close + 1 < value.size() && value[close + 1] == ':')
                proxy.port = value.substr(close + 2);
        } else if (const std::size_t colon = value.rfind(':'); colon != std::string::npos) {
            host = value.substr(0, colon);
            proxy.port = value.substr(colon + 1);
        }
        if (host.empty() || !std::all_of(proxy.port.begin(), proxy.port.end(), [](unsigned char c) { return std::isdigit(c); }))
            continue;
        proxy.address = host;
        proxy.noProxy = getenv("no_proxy");
        if (proxy.noProxy.empty())
            proxy.noProxy = getenv("NO_PROXY");
        return proxy;
    }
    return std::nullopt;
}

std::optional<TDetectedProxy> DetectProxyFromEnvironment()
{
    return DetectProxy([](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value ? value : "");
    });
}

std::string ProxyFoundMessage(const TDetectedProxy& proxy)
{
    std::string text = "A proxy server was found in the environment (" + proxy.variable + "): " + proxy.address;
    if (!proxy.port.empty())
        text += ":" + proxy.port;
    text += ".";
    if (!proxy.noProxy.empty())
        text += "\nNot used for: " + proxy.noProxy + ".";
    text += "\nPellix does not use it yet: switch on \"Connect to the Internet using a proxy server\" in the preferences.";
    return text;
}

bool RemoveTempFolderAtExit(const TPXApp& app)
{
    const std::string folder = app.TempFolder();
    if (!app.IsTempFolderDisposable(folder))
        return false;
    const auto isWorkFolder = [](const fs::directory_entry& entry) {
        const std::string name = entry.path().filename().string();
        std::error_code ec;
        return name.size() == 21 && name.rfind("task-", 0) == 0 &&
               std::all_of(name.begin() + 5, name.end(), [](unsigned char c) { return std::isxdigit(c); }) &&
               entry.is_directory(ec) && !entry.is_symlink(ec);
    };
    bool kept = false;
    bool removed = false;
    std::error_code ec;
    std::vector<fs::path> doomed;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (isWorkFolder(*it))
            kept = true;
        else
            doomed.push_back(it->path());
    }
    for (const fs::path& path : doomed) {
        std::error_code removeError;
        removed = fs::remove_all(path, removeError) > 0 || removed;
    }
    if (!kept) {
        std::error_code removeError;
        removed = fs::remove(folder, removeError) || removed;
    }
    return removed;
}

} // namespace pellix
