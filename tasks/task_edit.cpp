// Task editing without a window: filling, default names, the checks of OK and the writing.
#include "tasks/task_edit.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "engine/active_task_list.h"
#include "engine/task.h"
#include "links/profile.h"
#include "links/text_helpers.h"
#include "links/url_rules.h"
#include "tasks/schedule.h"
#include "workspace/app_settings.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;

// A name usable as one path segment: illegal characters become "_", blanks around go; "." and
// ".." are no names.
std::string SegmentName(const std::string& text)
{
    std::string name = TrimBlanks(ReplaceIllegalChars(text, '_'));
    if (name == "." || name == "..")
        return {};
    return name;
}

std::string CategoryOf(TPXApp& app, const std::string& category)
{
    const std::string name = SegmentName(category);
    return name.empty() ? app.LastCategory() : name;
}

std::string CategoryFolder(TPXApp& app, const std::string& category)
{
    return app.TasksFolder() + CategoryOf(app, category) + "/";
}

// The category whose folder holds the file, or empty when it lies elsewhere.
std::string CategoryOfFile(TPXApp& app, const std::string& taskFile)
{
    if (taskFile.empty())
        return {};
    const fs::path file = fs::path(taskFile).lexically_normal();
    fs::path tasks = fs::path(app.TasksFolder()).lexically_normal();
    if (!tasks.has_filename())
        tasks = tasks.parent_path();
    const fs::path folder = file.parent_path();
    if (folder.parent_path() != tasks)
        return {};
    return folder.filename().string();
}

bool SameFile(const std::string& a, const std::string& b)
{
    return fs::path(a).lexically_normal() == fs::path(b).lexically_normal();
}

bool Exists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(path, ec);
}

std::string FolderPart(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace

std::vector<std::string> TaskCategories(TPXApp& app)
{
    std::vector<std::string> categories = SubfoldersOf(app.TasksFolder());
    const std::string last = app.LastCategory();
    if (std::find(categories.begin(), categories.end(), last) == categories.end()) {
        categories.push_back(last);
        std::sort(categories.begin(), categories.end());
    }
    return categories;
}

std::vector<std::string> StoredProfileNames(TPXApp& app)
{
    std::vector<std::string> names;
    for (const std::string& file : FilesIn(app.ProfilesFolder(), "*.pxp"))
        names.push_back(FileNameNoExt(file));
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ProfileEntries(TPXApp& app)
{
    std::vector<std::string> entries{kCustomProfileName};
    for (std::string& name : StoredProfileNames(app))
        entries.push_back(std::move(name));
    return entries;
}

void FillProfileFields(TTaskEditFields& fields, const TPXProfile& profile)
{
    fields.useStartPageTitle = profile.UseStartPageTitle();
    fields.allFileTypes = profile.FileTypes().empty();
    fields.fileTypes = profile.FileTypes();
    fields.includeFilters = profile.IncludeFilters();
    fields.excludeFilters = profile.ExcludeFilters();
    fields.depth = profile.Depth();
    fields.pageLocation = profile.PageLocation();
    fields.resourceLocation = profile.ResourceLocation();
    fields.aggressiveParser = profile.AggressiveParser();
    fields.convertFollowedLinks = profile.ConvertFollowedLinks();
    fields.convertUnfollowedLinks = profile.ConvertUnfollowedLinks();
}

TTaskEditFields TaskEditFieldsOf(TPXApp& app, const TPXTask& task)
{
    TTaskEditFields fields;
    const std::string own = CategoryOfFile(app, task.TaskFile());
    fields.category = own.empty() ? app.LastCategory() : own;
    fields.taskName = task.TaskName();
    fields.url = task.URL();
    if (!task.UserName().empty() && !task.Password().empty()) {
        fields.useAccount = true;
        fields.userName = task.UserName();
        fields.password = task.Password();
    }
    fields.intranetMode = task.IntranetMode();
    fields.intranetFolder = app.IntranetFolder();
    if (task.IntranetMode())
        fields.intranetFolder = task.Destination();
    else
        fields.zipFile = task.Destination();
    fields.profileName = task.Profile().ProfileName();

    if (!task.Profile().ProfileFile().empty()) {
        FillProfileFields(fields, task.Profile());
    } else {
        // A brand-new task: only the page-one settings come from its profile.
        FillProfileFields(fields, TPXProfile());
        fields.useStartPageTitle = task.Profile().UseStartPageTitle();
        fields.allFileTypes = task.Profile().FileTypes().empty();
        fields.fileTypes = task.Profile().FileTypes();
        fields.depth = -1;
    }
    fields.schedule = TTaskEditSchedule::Later;
    fields.scheduleText.clear();
    return fields;
}

TTaskEditNames DefaultTaskEditNames(TPXApp& app, const std::string& url, const std::string& category)
{
    std::string site = SiteName(url);
    if (site.empty())
        site = "Task";
    TTaskEditNames names;
    names.zipFile = UniqueFileName(app.DownloadsFolder() + site + ".zip");
    // The name must be free where the task file will be written: the chosen category.
    names.taskName = FileNameNoExt(UniqueFileName(CategoryFolder(app, category) + site + kTaskFileExtension));
    return names;
}

TTaskEditCheck CheckTaskEdit(TPXApp& app, const TPXTask& task, TTaskEditMode mode, TTaskEditFields& fields,
                             bool replaceConfirmed)
{
    std::string url = fields.url;
    if (!ValidateURL(url))
        return {TTaskEditCheckKind::Error, kEditURLRequired};
    if (!StartsWithText(url, "HTTP://") && !StartsWithText(url, "HTTPS://"))
        return {TTaskEditCheckKind::Error, kEditURLScheme};
    fields.url = url;

    fields.taskName = SegmentName(fields.taskName);
    if (fields.taskName.empty())
        return {TTaskEditCheckKind::Error, kEditNameRequired};

    const std::string target = CategoryFolder(app, fields.category) + fields.taskName + kTaskFileExtension;
    if (!replaceConfirmed && Exists(target)) {
        // Another task's file would be overwritten; in Add mode any file of that name.
        if (mode == TTaskEditMode::Add || task.TaskFile().empty() || !SameFile(target, task.TaskFile()))
            return {TTaskEditCheckKind::Replace, kEditReplaceQuestion};
    }

    if (fields.intranetMode) {
        const std::string folder = TrimBlanks(fields.intranetFolder);
        // A full path: a relative one would land wherever the program happens to run.
        if (FolderPart(folder).empty() || folder.front() != '/')
            return {TTaskEditCheckKind::Warning, kEditIntranetRequired};
    } else {
        std::string zip = TrimBlanks(fields.zipFile);
        const std::string folder = FolderPart(zip);
        const std::string name = zip.substr(folder.size());
        const bool onlyExtension = !name.empty() && name.front() == '.' && name.find('.', 1) == std::string::npos;
        if (folder.empty() || folder.front() != '/' || name.empty() || onlyExtension || name == "." || name == "..")
            return {TTaskEditCheckKind::Warning, kEditZipRequired};
        if (name.find('.') == std::string::npos)
            zip += ".zip";
        fields.zipFile = zip;
    }
    return {};
}

TTaskEditWriteResult WriteTaskEdit(TPXApp& app, TPXTask& task, const TTaskEditFields& fields)
{
    TTaskEditWriteResult result;
    const std::string category = CategoryOf(app, fields.category);
    result.movedCategory = category != app.LastCategory();

    const std::string oldFile = task.TaskFile();
    const fs::path oldList = oldFile.empty() ? fs::path() : task.DefaultDownloadListPath();
    const bool oldInTasks = !CategoryOfFile(app, oldFile).empty();

    const std::string folder = app.TasksFolder() + category + "/";
    task.SetTaskName(fields.taskName);
    task.SetTaskFile(folder + fields.taskName + kTaskFileExtension);
    task.SetURL(fields.url);

    if (fields.useAccount) {
        task.SetUserName(fields.userName);
        task.SetPassword(fields.password);
    } else {
        task.SetUserName("");
        task.SetPassword("");
    }

    if (fields.intranetMode) {
        task.SetDestination(WithTrailingSlash(TrimBlanks(fields.intranetFolder)));
        task.SetIntranetMode(true);
    } else {
        task.SetDestination(TrimBlanks(fields.zipFile));
        task.SetIntranetMode(false);
    }

    if (fields.schedule == TTaskEditSchedule::Now) {
        task.SetStatus(kStatusScheduled);
        task.SetSchedule(kScheduleNow);
    } else if (!fields.scheduleText.empty()) {
        task.SetStatus(kStatusScheduled);
        task.SetSchedule(fields.scheduleText);
    } else {
        task.SetSchedule("");
        task.SetStatus(kStatusUnscheduled);
    }

    TPXProfile& profile = task.Profile();
    profile.SetProfileName(fields.profileName);
    profile.SetDepth(fields.depth);
    profile.SetPageLocation(fields.pageLocation);
    profile.SetResourceLocation(fields.resourceLocation);
    profile.SetUseStartPageTitle(fields.useStartPageTitle);
    profile.SetAggressiveParser(fields.aggressiveParser);
    profile.SetConvertFollowedLinks(fields.convertFollowedLinks);
    profile.SetConvertUnfollowedLinks(fields.convertUnfollowedLinks);
    profile.SetFileTypes(fields.allFileTypes ? std::vector<std::string>{} : fields.fileTypes);
    profile.SetExcludeFilters(fields.excludeFilters);
    profile.SetIncludeFilters(fields.includeFilters);

    // The download list goes first, so the saved task finds it; it never replaces another.
    const bool moved = !oldFile.empty() && oldInTasks && !SameFile(oldFile, task.TaskFile());
    const fs::path newList = task.DefaultDownloadListPath();
    std::error_code ec;
    if (moved && fs::exists(oldList, ec) && !fs::exists(newList, ec)) {
        fs::create_directories(newList.parent_path(), ec);
        fs::rename(oldList, newList, ec);
    }

    if (!task.Save(&result.message))
        return result;
    if (moved) {
        fs::remove(oldFile, ec);
        UpdateActiveTask(app, oldFile, kStatusUnscheduled, nullptr);
    }
    result.ok = true;
    return result;
}

} // namespace pellix
