// The error report of a task: its failed URLs with their reasons and referrers, as data and as the
// HTML page written beside the task file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pellix {

class TPXApp;
class TPXDownloadList;
class TPXTask;

// One item of a download list that ended in Error.
struct TFailedItem {
    std::string url;
    std::string reason;   // the item's status text
    std::string referrer; // the page that linked to it; empty for the start page
};

// The failed items of a download list given as its lines (each URL line followed by its record
// line), in list order.
std::vector<TFailedItem> FailedItems(const std::vector<std::string>& listLines);

// The lines of a download list held in memory (owner thread).
std::vector<std::string> ListLines(const TPXDownloadList& list);
// The lines of a download list file (CR LF or LF ended); nothing when it cannot be read.
std::optional<std::vector<std::string>> ReadListFile(const std::filesystem::path& path);

// The report's lines for a task of that name and start page title. Every inserted text is
// HTML-escaped: addresses, reasons and titles come from the sites crawled.
std::vector<std::string> ErrorReportLines(const std::string& taskName, const std::string& title,
                                          const std::vector<TFailedItem>& failed);
// The lines joined by CR LF, as the file holds them.
std::string ErrorReportText(const std::string& taskName, const std::string& title,
                            const std::vector<TFailedItem>& failed);

// The task's report file: its task file's folder, its name and "_errors.htm".
std::filesystem::path ErrorReportPath(const TPXTask& task);

// Writes the report of the task with those failed items to ErrorReportPath, replacing an older
// one. False with the reason in error when it could not be written.
bool WriteErrorReport(const TPXTask& task, const std::vector<TFailedItem>& failed, std::string* error = nullptr);

// The desktop's report of a task: the temp folder, the task's name and "_errors.htm".
std::filesystem::path ErrorReportTempPath(const TPXApp& app, const TPXTask& task);

struct TErrorReportResult {
    bool ok = false;
    std::string path;    // the report written
    std::string message; // why nothing was written
};

// Reads the task's download list file and writes its report to ErrorReportTempPath, replacing
// an older one. Without a readable list file nothing is written.
TErrorReportResult WriteTaskErrorReport(const TPXApp& app, TPXTask& task);

} // namespace pellix
