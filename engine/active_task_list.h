// "ActiveTasks.lst": the task files of the tasks that are scheduled or downloading.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace pellix {

class TPXApp;
class TPXTask;
struct TActiveTask;

inline constexpr const char* kActiveTaskListName = "ActiveTasks.lst";

// The tasks folder + "ActiveTasks.lst".
std::filesystem::path ActiveTaskListPath(const TPXApp& app);

// One task-file path per line (CR LF or LF ended); empty lines are skipped. A missing file gives
// no paths.
std::vector<std::string> ReadActiveTaskList(const std::filesystem::path& file);
// Writes the paths, each ended by CR LF, replacing the file atomically.
bool WriteActiveTaskList(const std::filesystem::path& file, const std::vector<TActiveTask>& tasks,
                         std::string* error = nullptr);

// Keeps the application's list and the file in step with one task: a task with status 1 or 2 is
// listed once, any other is not. The file is written only when the list changed; changed says
// whether it did. Paths compare exactly: on this system files that differ in letter case are
// different tasks.
bool UpdateActiveTask(TPXApp& app, const std::string& taskFile, int status, std::shared_ptr<TPXTask> task,
                      bool* changed = nullptr, std::string* error = nullptr);

} // namespace pellix
