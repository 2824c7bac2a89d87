// The explore view's rules without a window: its columns and cell texts, row colours by item
// state, the marks (which items each applies to, what it sets, whether the task is saved) and
// where browsing an item leads.
#include "tasks/explore_rules.h"

#include <charconv>
#include <filesystem>

#include "engine/download_list.h"
#include "engine/queue_item.h"
#include "engine/task.h"
#include "links/text_helpers.h"
#include "links/url_rules.h"
#include "tasks/banner_frameset.h"
#include "workspace/app_settings.h"

namespace fs = std::filesystem;

namespace pellix {

namespace {

template <typename TNumber>
TNumber NumberOr(std::string_view text, TNumber fallback)
{
    TNumber value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() ? value : fallback;
}

// The item's entry name in its Zip: its file's path below the task's working folder.
std::string EntryNameOf(const TPXTask& task, const std::string& url)
{
    const fs::path local = fs::path(task.LocalFileOf(url)).lexically_normal();
    const fs::path relative = local.lexically_relative(fs::path(task.WorkFolder()).lexically_normal());
    if (relative.empty() || *relative.begin() == "..")
        return local.relative_path().generic_string();
    return relative.generic_string();
}

} // namespace

const std::array<TExploreColumnInfo, kExploreColumnCount>& ExploreColumns()
{
    static const std::array<TExploreColumnInfo, kExploreColumnCount> columns = {{
        {"Mark", 40},
        {"Status", 70},
        {"Title", 150},
        {"URL", 150},
        {"Type", 0},
        {"Size", 70},
        {"Last Modified", 80},
        {"Download Result", 100},
        {"Level", 0},
        {"Referrer", 200},
    }};
    return columns;
}

TExploreRow ExploreRowOf(std::string_view urlLine, std::string_view recordLine)
{
    TExploreRow row;
    row.url = std::string(urlLine);
    const auto field = [recordLine](int n) { return FieldOf(recordLine, kRecordSeparator, n); };
    row.state = NumberOr<int>(field(0), 0);
    row.statusText = field(1);
    row.typeGroup = field(2);
    row.depth = NumberOr<int>(field(4), 0);
    row.parentURL = field(5);
    row.lastModified = field(6);
    // An empty action reads as "download", as the list's own reload does.
    const std::string action = field(7);
    row.action = action.empty() ? kActionDownload : NumberOr<int>(action, kActionDownload);
    row.title = field(8);
    row.size = NumberOr<std::int64_t>(field(9), 0);
    return row;
}

std::string ExploreCellText(const TExploreRow& row, int column)
{
    switch (column) {
    case kExploreStatus:
        return TPXQItem::StateText(row.state);
    case kExploreTitle:
        return row.title;
    case kExploreURL:
        return row.url;
    case kExploreType:
        return row.typeGroup;
    case kExploreSize:
        return std::to_string(row.size);
    case kExploreLastModified:
        return row.lastModified;
    case kExploreResult:
        return row.statusText;
    case kExploreLevel:
        return std::to_string(row.depth);
    case kExploreReferrer:
        return row.parentURL;
    default:
        return {};
    }
}

TRgb ExploreTextColour(int state)
{
    switch (state) {
    case kStateNone:
        return {128, 128, 128};
    case kStateDownloading:
    case kStateUpdating:
        return {0, 128, 0};
    case kStateError:
        return {255, 0, 0};
    case kStateUpdated:
        return {128, 0, 0};
    default:
        return {0, 0, 128};
    }
}

std::string ExploreImageHint(int image)
{
    switch (image) {
    case kMarkImageNone:
        return "Not marked";
    case kMarkImageDownload:
        return "Marked for download";
    case kMarkImageMap:
        return "Marked for mapping";
    case kMarkImageUpdate:
        return "Marked for update";
    case kMarkImageError:
        return "Failed";
    case kMarkImageDone:
        return "Done";
    default:
        return {};
    }
}

bool MarkActsOnSelection(TExploreMark mark)
{
    switch (mark) {
    case TExploreMark::DownloadSelected:
    case TExploreMark::UpdateSelected:
    case TExploreMark::MapSelected:
    case TExploreMark::UnmarkSelected:
        return true;
    default:
        return false;
    }
}

bool MarkApplies(TExploreMark mark, int state, int action, bool isPage, bool busy)
{
    if (busy && (state == kStateDownloading || state == kStateUpdating || state == kStateMapping ||
                 state == kStateParsing))
        return false;
    switch (mark) {
    case TExploreMark::DownloadSelected:
    case TExploreMark::DownloadAll:
        return true;
    case TExploreMark::DownloadErrors:
        return state == kStateError;
    case TExploreMark::DownloadUnmarked:
        return action == kActionSkip;
    case TExploreMark::UpdateSelected:
    case TExploreMark::UpdateAll:
        return state >= kStateSaved;
    case TExploreMark::MapSelected:
    case TExploreMark::MapAll:
        return isPage;
    case TExploreMark::UnmarkSelected:
    case TExploreMark::UnmarkAll:
        return state == kStateNone;
    }
    return false;
}

bool MarkSavesTask(TExploreMark mark)
{
    return mark != TExploreMark::UpdateSelected && mark != TExploreMark::MapSelected;
}

TMarkResult ApplyMark(TPXTask& task, TExploreMark mark, const std::vector<TPXQItem*>& selected, bool running)
{
    TMarkResult result;
    TPXDownloadList& list = task.DownloadList();
    const auto apply = [&](TPXQItem& item) {
        if (!MarkApplies(mark, item.State(), item.Action(), item.IsPage(), running))
            return;
        item.Reload();
        switch (mark) {
        case TExploreMark::DownloadSelected:
        case TExploreMark::DownloadAll:
        case TExploreMark::DownloadErrors:
        case TExploreMark::DownloadUnmarked:
            item.SetState(kStateNone);
            item.SetAction(kActionDownload);
            break;
        case TExploreMark::UpdateSelected:
        case TExploreMark::UpdateAll:
            item.SetAction(kActionUpdate);
            item.SetState(kStateNone);
            break;
        case TExploreMark::MapSelected:
        case TExploreMark::MapAll:
            item.SetAction(kActionMap);
            item.SetState(kStateNone);
            break;
        case TExploreMark::UnmarkSelected:
        case TExploreMark::UnmarkAll:
            item.SetAction(kActionSkip);
            break;
        }
        item.WriteBack(true);
        ++result.changed;
    };
    if (MarkActsOnSelection(mark)) {
        for (TPXQItem* item : selected)
            if (item && item->List() == &list)
                apply(*item);
    } else {
        for (std::size_t pair = 0; pair < list.Count(); ++pair)
            if (TPXQItem* item = list.Item(pair))
                apply(*item);
    }
    if (result.changed > 0) {
        const TListResult saved = list.SaveList();
        if (!saved.ok)
            result.message = saved.message;
    }
    if (MarkSavesTask(mark)) {
        std::string error;
        result.taskSaved = task.Save(&error);
        if (!result.taskSaved && result.message.empty())
            result.message = "Cannot save the task: " + error;
    }
    return result;
}

bool ToggleMark(TPXQItem& item)
{
    if (item.State() != kStateNone || (item.Action() != kActionSkip && item.Action() != kActionDownload))
        return false;
    item.Reload();
    // The record line may say otherwise than memory: decide on what it holds.
    if (item.State() != kStateNone || (item.Action() != kActionSkip && item.Action() != kActionDownload)) {
        item.ReleaseStrings();
        return false;
    }
    item.SetAction(item.Action() == kActionSkip ? kActionDownload : kActionSkip);
    item.WriteBack(true);
    if (TPXDownloadList* list = item.List())
        list->SaveList();
    return true;
}

TExploreTarget ExploreBrowseTarget(const TPXApp& app, const TPXTask& task, const std::string& url, bool online,
                                   bool extract)
{
    TExploreTarget target;
    if (url.empty())
        return target;
    if (online) {
        if (app.NoAds()) {
            target.kind = TExploreTarget::TKind::Address;
            target.path = url;
            return target;
        }
        const TFramesetResult frameset = WriteBannerFrameset(app, url);
        if (!frameset.ok) {
            target.kind = TExploreTarget::TKind::Failed;
            target.message = frameset.message;
            return target;
        }
        target.kind = TExploreTarget::TKind::Address;
        target.path = frameset.path;
        return target;
    }
    if (task.IntranetMode()) {
        target.kind = TExploreTarget::TKind::LocalFile;
        target.path = task.LocalFileOf(url);
        return target;
    }
    const std::string zipPath = ToSlashes(task.Destination());
    std::error_code ec;
    if (zipPath.empty() || !fs::is_regular_file(zipPath, ec)) {
        target.kind = TExploreTarget::TKind::Failed;
        target.message = kZipFileMissing;
        return target;
    }
    if (!extract) {
        target.kind = TExploreTarget::TKind::ZipEntry;
        target.zipPath = zipPath;
        target.entry = EntryNameOf(task, url);
        return target;
    }
    const TOfflinePage page = PrepareOfflinePage(app, task);
    if (!page.ok) {
        target.kind = TExploreTarget::TKind::Failed;
        target.message = page.missingZip ? std::string(kZipFileMissing) : page.message;
        return target;
    }
    std::string temp = app.TempFolder();
    if (!temp.empty() && temp.back() != '/')
        temp += '/';
    target.kind = TExploreTarget::TKind::LocalFile;
    target.path = LocalFileName(temp, URLDirectory(url), url);
    return target;
}

} // namespace pellix
