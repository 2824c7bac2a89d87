#include "engine/active_task_list.h"

#include <algorithm>

#include "engine/task.h"
#include "links/file_io.h"
#include "workspace/app_settings.h"

namespace pellix {

std::filesystem::path ActiveTaskListPath(const TPXApp& app)
{
    return std::filesystem::path(app.TasksFolder()) / kActiveTaskListName;
}

std::vector<std::string> ReadActiveTaskList(const std::filesystem::path& file)
{
    std::vector<std::string> paths;
    const std::optional<std::string> data = ReadWholeFile(file);
    if (!data)
        return paths;
    std::size_t start = 0;
    while (start < data->size()) {
        std::size_t end = data->find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = data->size();
        if (end > start)
            paths.push_back(data->substr(start, end - start));
        start = end + 1;
    }
    return paths;
}

bool WriteActiveTaskList(const std::filesystem::path& file, const std::vector<TActiveTask>& tasks,
                         std::string* error)
{
    std::string data;
    for (const TActiveTask& entry : tasks) {
        data += entry.path;
        data += "\r\n";
    }
    return WriteFileAtomically(file, data, error);
}

bool UpdateActiveTask(TPXApp& app, const std::string& taskFile, int status, std::shared_ptr<TPXTask> task,
                      bool* changed, std::string* error)
{
    std::vector<TActiveTask>& list = app.ActiveTasks();
    const auto found = std::find_if(list.begin(), list.end(),
                                    [&taskFile](const TActiveTask& entry) { return entry.path == taskFile; });
    const bool active = status == kStatusScheduled || status == kStatusDownloading;
    bool change = false;
    if (active && found == list.end()) {
        list.push_back({taskFile, std::move(task)});
        change = true;
    } else if (active && found != list.end() && !found->task && task) {
        found->task = std::move(task); // listed at start-up before the task was loaded
    } else if (!active && found != list.end()) {
        list.erase(found);
        change = true;
    }
    if (changed)
        *changed = change;
    if (!change)
        return true;
    return WriteActiveTaskList(ActiveTaskListPath(app), list, error);
}

} // namespace pellix
