// Task editing without a window: the editor's field values, how they are filled from a task or
// a profile, the default names, the checks before OK and what OK writes into the task.
#pragma once

#include <string>
#include <vector>

namespace pellix {

class TPXApp;
class TPXProfile;
class TPXTask;

// Which caller opened the editor; it decides a few rules (see the functions below).
enum class TTaskEditMode {
    Edit,   // the task list's Edit command
    Add,    // a task file opened into the task list
    Create, // a task created from an address
};

// The Schedule page's radio buttons.
enum class TTaskEditSchedule { Now, At, Later };

// Everything the editor's controls hold, as plain values.
struct TTaskEditFields {
    std::string taskName;
    std::string category;
    std::string profileName;
    std::string url;

    bool useAccount = false; // "Site requires a password"
    std::string userName;    // the account dialog
    std::string password;

    bool intranetMode = false;
    std::string zipFile;
    std::string intranetFolder;
    bool useStartPageTitle = true;

    bool allFileTypes = true;            // "All"
    std::vector<std::string> fileTypes;  // the checked extensions in tree order

    int pageLocation = 1;
    int depth = -1;                      // -1 all levels, 0 this page only, n levels
    int resourceLocation = 2;
    int aggressiveParser = 1;            // 0 unchecked, 1 scripts, 2 all
    int convertFollowedLinks = 1;
    int convertUnfollowedLinks = 1;
    std::vector<std::string> includeFilters;
    std::vector<std::string> excludeFilters;

    TTaskEditSchedule schedule = TTaskEditSchedule::Later;
    std::string scheduleText; // edSchedule

    bool operator==(const TTaskEditFields&) const = default;
};

// The levels box runs from 1 to 20.
inline constexpr int kMinEditLevels = 1;
inline constexpr int kMaxEditLevels = 20;

// The category folders of the tasks folder, sorted; the last category is among them even before
// its folder exists.
std::vector<std::string> TaskCategories(TPXApp& app);
// The profile chooser's entries: "Custom", then every "*.pxp" of the profiles folder by name.
std::vector<std::string> ProfileEntries(TPXApp& app);
// The names of the stored profiles alone (without "Custom"), sorted.
std::vector<std::string> StoredProfileNames(TPXApp& app);

// What the editor shows when it opens (and after "&Reset"). The category is the one whose folder
// holds the task file, or the last category for a file kept elsewhere; the Schedule page always
// opens on "Don't schedule this task" with an empty date.
TTaskEditFields TaskEditFieldsOf(TPXApp& app, const TPXTask& task);
// The profile pages from a profile (choosing a profile fills every one of them).
void FillProfileFields(TTaskEditFields& fields, const TPXProfile& profile);

struct TTaskEditNames {
    std::string taskName;
    std::string zipFile;
};
// The default task name and Zip file for the address in the category: both named after the
// site and free in their folders (the category's folder, the downloads folder).
TTaskEditNames DefaultTaskEditNames(TPXApp& app, const std::string& url, const std::string& category);

enum class TTaskEditCheckKind {
    Ok,
    Error,    // an error box
    Warning,  // a warning box
    Replace,  // a Yes/No question: an existing task file would be replaced
};

struct TTaskEditCheck {
    TTaskEditCheckKind kind = TTaskEditCheckKind::Ok;
    std::string message;
    bool ok() const { return kind == TTaskEditCheckKind::Ok; }
};

inline constexpr const char* kEditURLRequired = "A valid Internet address (URL) is required";
inline constexpr const char* kEditURLScheme = "Invalid URL.\nNOTE: https && ftp not supported in this version of Pellix.";
inline constexpr const char* kEditNameRequired = "A name for this Pellix task is required.";
inline constexpr const char* kEditReplaceQuestion = "A Task with this name already exists. Do you want to replace it?";
inline constexpr const char* kEditIntranetRequired =
    "A valid Intranet Folder is required.\nHint:  Pellix requires the full path to the Intranet Folder.";
inline constexpr const char* kEditZipRequired =
    "A valid Zip filename is required.\nHint:  Pellix requires the full path and filename.";

// The checks of OK, in order; the first that fails is returned. Fields are normalised on the way
// as far as the checks got: the address, a task name whose characters cannot be in a file name
// ("_" instead), ".zip" appended to a Zip file without extension. A Replace answer asks before
// an existing task file of the name in the chosen category is overwritten (in Add mode for any
// file there, otherwise only for another task's file); call again with replaceConfirmed after
// the user said Yes.
TTaskEditCheck CheckTaskEdit(TPXApp& app, const TPXTask& task, TTaskEditMode mode, TTaskEditFields& fields,
                             bool replaceConfirmed = false);

struct TTaskEditWriteResult {
    bool ok = false;
    std::string message;        // why the task file could not be written
    bool movedCategory = false; // the chosen category is not the last category
};

// What OK writes (after CheckTaskEdit passed): the task file path in the chosen category, name,
// address, account, destination, schedule and status, and the profile, then saves the task.
// When the task file moves (another category or name), the download list goes with it and the
// old task file is removed, but only after the new one was written and only for files kept in
// the tasks folder: a task file opened from elsewhere stays where it is.
TTaskEditWriteResult WriteTaskEdit(TPXApp& app, TPXTask& task, const TTaskEditFields& fields);

} // namespace pellix
