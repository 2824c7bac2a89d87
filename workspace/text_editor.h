// TTextEditor: the desktop's default program for text files, found through its desktop entry
// and started with a file, so that a page can be read as text.
#pragma once

#include <string>
#include <vector>

namespace pellix {

class TTextEditor final {
public:
    // The Exec line of the desktop's default for "text/plain", empty when there is none.
    // Runs xdg-mime (tens of milliseconds): look it up once, not per menu.
    static std::string Find();
    // The Exec line of a desktop entry file; empty when it has none.
    static std::string DesktopEntryExec(const std::string& desktopFile);
    // The desktop file of an id ("org.gnome.TextEditor.desktop") in the XDG data folders.
    static std::string DesktopFilePath(const std::string& id);
    // The program and its arguments from an Exec line, with file put where %f, %F, %u or %U stand
    // (at the end when none does), other field codes dropped and quoting undone.
    static std::vector<std::string> ExecArguments(const std::string& exec, const std::string& file);
    // Starts argv (program first) without a shell and without waiting; false when it cannot run.
    static bool Start(const std::vector<std::string>& argv);
};

} // namespace pellix
