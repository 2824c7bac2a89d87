#include "tasks/error_report.h"

#include "engine/download_list.h"
#include "engine/queue_item.h"
#include "engine/task.h"
#include "links/file_io.h"
#include "workspace/app_settings.h"

namespace pellix {

namespace {

std::string EscapeHtml(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

std::vector<TFailedItem> FailedItems(const std::vector<std::string>& listLines)
{
    std::vector<TFailedItem> failed;
    // Record lines are the odd ones; a URL line never holds the separator, so it cannot pass for
    // a record of state 3.
    for (std::size_t i = 1; i < listLines.size(); i += 2) {
        const std::string& record = listLines[i];
        if (TPXDownloadList::RecordField(record, 0) != std::to_string(kStateError))
            continue;
        failed.push_back({listLines[i - 1], TPXDownloadList::RecordField(record, 1),
                          TPXDownloadList::RecordField(record, 5)});
    }
    return failed;
}

std::vector<std::string> ListLines(const TPXDownloadList& list)
{
    std::vector<std::string> lines;
    const std::size_t count = list.LineCount();
    lines.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        lines.push_back(list.Line(i));
    return lines;
}

std::optional<std::vector<std::string>> ReadListFile(const std::filesystem::path& path)
{
    const std::optional<std::string> data = ReadWholeFile(path);
    if (!data)
        return std::nullopt;
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < data->size()) {
        std::size_t end = data->find('\n', start);
        if (end == std::string::npos)
            end = data->size();
        std::size_t stop = end;
        if (stop > start && (*data)[stop - 1] == '\r')
            --stop;
        lines.push_back(data->substr(start, stop - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> ErrorReportLines(const std::string& taskName, const std::string& title,
                                          const std::vector<TFailedItem>& failed)
{
    const std::string headCell = "<td bgcolor=\"#004080\"><font face=\"Arial\" color=\"#FFFFFF\"><strong>";
    std::vector<std::string> lines = {
        "<font face=\"Arial\" size=\"5\"><strong>Pellix Error Report</strong></font><br>",
        "<font face=\"Arial\" size=\"2\"><strong>Task: " + EscapeHtml(taskName) + " -  " + EscapeHtml(title) +
            "</strong></font><br>",
        "<table cellpadding=\"4\" cellspacing=\"4\">",
        "<tr>",
        headCell + "URL</strong></font></td>",
        headCell + "Error</strong></font></td>",
        headCell + "Referrer</strong></font></td>",
        "</tr>",
    };
    bool odd = true;
    for (const TFailedItem& item : failed) {
        const std::string cell =
            std::string("<td bgcolor=") + (odd ? "\"#F5F5F5\"" : "\"#E9E9E9\"") + "><font face=\"Arial\" size=\"2\">";
        const std::string url = EscapeHtml(item.url);
        const std::string referrer = EscapeHtml(item.referrer);
        lines.push_back("<tr>");
        lines.push_back(cell + "<a href=\"" + url + "\">" + url + "</a></font></td>");
        lines.push_back(cell + EscapeHtml(item.reason) + "</font></td>");
        lines.push_back(cell + "<a href=\"" + referrer + "\">" + referrer + "</a></font></td>");
        lines.push_back("</tr>");
        odd = !odd;
    }
    lines.push_back("</table>");
    return lines;
}

std::string ErrorReportText(const std::string& taskName, const std::string& title,
                            const std::vector<TFailedItem>& failed)
{
    std::string text;
    const std::vector<std::string> lines = ErrorReportLines(taskName, title, failed);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += "\r\n";
        text += lines[i];
    }
    return text;
}

std::filesystem::path ErrorReportPath(const TPXTask& task)
{
    return std::filesystem::path(task.TaskFile()).parent_path() / (task.TaskName() + "_errors.htm");
}

bool WriteErrorReport(const TPXTask& task, const std::vector<TFailedItem>& failed, std::string* error)
{
    return WriteFileAtomically(ErrorReportPath(task), ErrorReportText(task.TaskName(), task.StartPageTitle(), failed),
                               error);
}

std::filesystem::path ErrorReportTempPath(const TPXApp& app, const TPXTask& task)
{
    return std::filesystem::path(app.TempFolder()) / (task.TaskName() + "_errors.htm");
}

TErrorReportResult WriteTaskErrorReport(const TPXApp& app, TPXTask& task)
{
    TErrorReportResult result;
    const std::filesystem::path listFile = task.DownloadList().FilePath();
    const std::optional<std::vector<std::string>> lines = ReadListFile(listFile);
    if (!lines) {
        result.message = "Cannot open file \"" + listFile.string() + "\".";
        return result;
    }
    const std::filesystem::path report = ErrorReportTempPath(app, task);
    std::string error;
    if (!WriteFileAtomically(report, ErrorReportText(task.TaskName(), task.StartPageTitle(), FailedItems(*lines)),
                             &error)) {
        result.message = "Cannot write " + report.string() + ": " + error;
        return result;
    }
    result.ok = true;
    result.path = report.string();
    return result;
}

} // namespace pellix
