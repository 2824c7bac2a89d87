#include "engine/download_list.h"

#include <algorithm>
#include <charconv>
#include <system_error>

#include "engine/task.h"
#include "links/file_io.h"
#include "links/file_kind.h"
#include "links/text_helpers.h"
#include "links/url_rules.h"

namespace pellix {

namespace {

// A list file beyond this is not one we wrote; refusing it keeps a stray file from exhausting
// memory.
constexpr std::uintmax_t kMaxListFileSize = std::uintmax_t{1} << 30;

int Lower(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

// The parts of a URL that name the same thing in any letter case: the scheme (with its "://")
// and the host with its port. The user name, path and query keep their case: on this system
// "Index.html" and "index.html" are two files.
struct TCaseBlind {
    std::size_t schemeEnd = 0;
    std::size_t hostBegin = 0;
    std::size_t hostEnd = 0;

    bool Folds(std::size_t i) const { return i < schemeEnd || (i >= hostBegin && i < hostEnd); }
};

bool IsSchemeByte(unsigned char c, bool first)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return true;
    return !first && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.');
}

// One pass over the scheme and the authority, which comparisons of the index run often.
TCaseBlind CaseBlindPartsOf(std::string_view url)
{
    TCaseBlind parts;
    const std::size_t n = url.size();
    std::size_t i = 0;
    while (i < n && IsSchemeByte(static_cast<unsigned char>(url[i]), i == 0))
        ++i;
    if (i == 0 || i + 3 > n || url[i] != ':' || url[i + 1] != '/' || url[i + 2] != '/')
        return parts; // no scheme (a "://" further on belongs to a path or query)
    const std::size_t authority = i + 3;
    std::size_t hostBegin = authority;
    std::size_t end = authority;
    for (; end < n; ++end) {
        const char c = url[end];
        if (c == '/' || c == '?' || c == '#')
            break;
        if (c == '@')
            hostBegin = end + 1;
    }
    parts.schemeEnd = authority;
    parts.hostBegin = hostBegin;
    parts.hostEnd = end;
    return parts;
}

// Where the case-blind part of a URL ends (the end of its authority), or the largest value for a
// text without a scheme; worked out once per URL line for the index's comparisons.
std::uint32_t AuthorityEnd(std::string_view url)
{
    const TCaseBlind parts = CaseBlindPartsOf(url);
    if (parts.schemeEnd == 0 || parts.hostEnd >= UINT32_MAX)
        return UINT32_MAX;
    return static_cast<std::uint32_t>(parts.hostEnd);
}

// Orders URLs as their index keys (URLIndexKey) would, without making the keys. authorityEnd is
// AuthorityEnd of either URL.
bool LessURL(std::string_view a, std::string_view b, std::uint32_t authorityEnd)
{
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t m = 0;
    while (m < n && a[m] == b[m])
        ++m;
    // Most URLs of a list share their scheme and host: when the first difference lies past the
    // authority of one, the other has that same authority, and the difference is compared as it
    // stands.
    if (authorityEnd < m) {
        if (m == n)
            return a.size() < b.size();
        return static_cast<unsigned char>(a[m]) < static_cast<unsigned char>(b[m]);
    }
    const TCaseBlind foldA = CaseBlindPartsOf(a);
    const TCaseBlind foldB = CaseBlindPartsOf(b);
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char rawA = static_cast<unsigned char>(a[i]);
        const unsigned char rawB = static_cast<unsigned char>(b[i]);
        const int ca = foldA.Folds(i) ? Lower(rawA) : rawA;
        const int cb = foldB.Folds(i) ? Lower(rawB) : rawB;
        if (ca != cb)
            return ca < cb;
    }
    return a.size() < b.size();
}

// The hash of a URL's index key (URLIndexKey of a URL line) without making the key: the
// case-blind part folded byte by byte, the rest (most of a URL) hashed as it stands.
std::size_t KeyHash(std::string_view line, const TCaseBlind& fold)
{
    std::uint64_t head = 14695981039346656037ull; // FNV-1a
    for (std::size_t i = 0; i < fold.hostEnd; ++i) {
        const auto byte = static_cast<unsigned char>(line[i]);
        head ^= static_cast<std::uint64_t>(fold.Folds(i) ? Lower(byte) : byte);
        head *= 1099511628211ull;
    }
    const std::size_t tail = std::hash<std::string_view>{}(line.substr(fold.hostEnd));
    return static_cast<std::size_t>(head) ^ (tail + 0x9e3779b97f4a7c15ull + (head << 6) + (head >> 2));
}

// Whether two URL lines have the same index key, the case-blind part of a being fold. Equal keys
// have their case-blind parts in the same places (the bytes that end them have no case), so a's
// serve for both.
bool SameKey(std::string_view a, const TCaseBlind& fold, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    const std::size_t end = fold.hostEnd;
    if (a.compare(end, std::string_view::npos, b.substr(end)) != 0)
        return false;
    for (std::size_t i = 0; i < end; ++i) {
        const auto rawA = static_cast<unsigned char>(a[i]);
        const auto rawB = static_cast<unsigned char>(b[i]);
        if (rawA != rawB && (!fold.Folds(i) || Lower(rawA) != Lower(rawB)))
            return false;
    }
    return true;
}

bool NeedsRecordForm(std::string_view url)
{
    return std::any_of(url.begin(), url.end(),
                       [](char c) { return c == '\r' || c == '\n' || c == kRecordSeparator; });
}

// A decimal integer, blanks around it allowed; nothing when the text is not one.
template <typename T>
std::optional<T> ParseNumber(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The action of a record line: empty (and unreadable) reads as download.
int ActionOf(std::string_view field)
{
    return ParseNumber<int>(field).value_or(kActionDownload);
}

bool IsUTF8Continuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// A text field as a record line can hold it: no line breaks and no separator byte. CleanText
// keeps a 0xB6 byte that belongs to a UTF-8 character (as in "ö"); such a character becomes "?".
std::string RecordText(std::string_view text)
{
    std::string clean = CleanText(text);
    if (clean.find(kRecordSeparator) == std::string::npos)
        return clean;
    std::string out;
    out.reserve(clean.size());
    for (std::size_t i = 0; i < clean.size(); ++i) {
        if (clean[i] != kRecordSeparator) {
            out += clean[i];
            continue;
        }
        // Drop the lead and continuation bytes already copied, and those that follow.
        while (!out.empty() && IsUTF8Continuation(static_cast<unsigned char>(out.back())))
            out.pop_back();
        if (!out.empty() && static_cast<unsigned char>(out.back()) >= 0xC0)
            out.pop_back();
        while (i + 1 < clean.size() && IsUTF8Continuation(static_cast<unsigned char>(clean[i + 1]))
               && clean[i + 1] != kRecordSeparator)
            ++i;
        out += '?';
    }
    return out;
}


// Whether a URL line can be one the list wrote: a scheme, "://", and no control bytes. A file of
// other text or random bytes fails this on its first line.
bool LooksLikeURLLine(std::string_view line)
{
    if (CaseBlindPartsOf(line).schemeEnd == 0)
        return false;
    return std::none_of(line.begin(), line.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

// A short, printable rendering of a field for a message: the file may hold any bytes.
std::string Quoted(std::string_view text)
{
    constexpr std::size_t kMax = 40;
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size() && i < kMax; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        out += (byte < 0x20 || byte >= 0x7F) ? '?' : text[i];
    }
    if (text.size() > kMax)
        out += "...";
    return out + "\"";
}

// Splits a list file into lines the way a text-file reader does: CR LF, LF or a lone CR end a
// line; a last line without an ending still counts.
std::vector<std::string_view> SplitLines(std::string_view data)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] != '\r' && data[i] != '\n')
            continue;
        lines.push_back(data.substr(start, i - start));
        if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < data.size())
        lines.push_back(data.substr(start));
    return lines;
}

} // namespace

// A URL as a line or field can hold it: line breaks dropped, the separator byte percent-encoded
// (the same URL to a server).
std::string RecordURL(std::string_view url)
{
    std::string out;
    out.reserve(url.size());
    for (const char c : url) {
        if (c == '\r' || c == '\n')
            continue;
        if (c == kRecordSeparator)
            out += "%B6";
        else
            out += c;
    }
    return out;
}

std::string URLIndexKey(std::string_view url)
{
    std::string key = RecordURL(url);
    const TCaseBlind fold = CaseBlindPartsOf(key);
    for (std::size_t i = 0; i < key.size(); ++i)
        if (fold.Folds(i))
            key[i] = static_cast<char>(Lower(static_cast<unsigned char>(key[i])));
    return key;
}

TPXDownloadList::TPair::TPair(std::string url, std::string record, std::unique_ptr<TPXQItem> owned)
    : urlLine(std::move(url)), recordLine(std::move(record)), item(std::move(owned)),
      authorityEnd(AuthorityEnd(urlLine))
{
}

TPXDownloadList::TURLProbe::TURLProbe(std::string_view url)
{
    if (NeedsRecordForm(url)) {
        held = RecordURL(url);
        text = held;
    } else {
        text = url;
    }
    const TCaseBlind fold = CaseBlindPartsOf(text);
    schemeEnd = fold.schemeEnd;
    hostBegin = fold.hostBegin;
    hostEnd = fold.hostEnd;
    hash = KeyHash(text, fold);
}

std::size_t TPXDownloadList::TURLHash::operator()(std::uint32_t pair) const
{
    const std::string& line = (*pairs)[pair].urlLine;
    return KeyHash(line, CaseBlindPartsOf(line));
}

bool TPXDownloadList::TURLEqual::operator()(std::uint32_t a, std::uint32_t b) const
{
    const std::string& first = (*pairs)[a].urlLine;
    return SameKey(first, CaseBlindPartsOf(first), (*pairs)[b].urlLine);
}

bool TPXDownloadList::TURLEqual::operator()(const TURLProbe& a, std::uint32_t b) const
{
    TCaseBlind fold;
    fold.schemeEnd = a.schemeEnd;
    fold.hostBegin = a.hostBegin;
    fold.hostEnd = a.hostEnd;
    return SameKey(a.text, fold, (*pairs)[b].urlLine);
}

TPXDownloadList::TPXDownloadList(TPXTask& task)
    : m_task(task), m_urlIndex(0, TURLHash{&m_pairs}, TURLEqual{&m_pairs})
{
}

TPXDownloadList::~TPXDownloadList() = default;

const std::filesystem::path& TPXDownloadList::FilePath()
{
    if (m_filePath.empty())
        m_filePath = m_task.DefaultDownloadListPath();
    return m_filePath;
}

// ---- changes (owner thread) ----

void TPXDownloadList::IndexLocked(std::uint32_t pair)
{
    m_urlIndex.insert(pair); // a URL already there (host in any case) keeps its entry
}

void TPXDownloadList::ApplyStateLocked(TPXQItem& item, int state, int action)
{
    item.m_state.store(state, std::memory_order_relaxed);
    item.m_action.store(action, std::memory_order_relaxed);
    const auto pair = static_cast<std::uint32_t>(item.m_listIndex / 2);
    const bool page = item.IsPage();
    const bool fetchAgain = action == kActionUpdate && (state == kStateNone || state == kStateDownloading);
    const bool waitingPage =
        page && (((action == kActionDownload || action == kActionMap) && state == kStateNone) || fetchAgain);
    const bool waitingResource =
        !page && ((action == kActionDownload && state == kStateNone) || fetchAgain);
    const bool savedPage = item.IsLinkSource() && state == kStateSaved;
    const auto setMember = [pair](std::set<std::uint32_t>& set, bool member) {
        if (member)
            set.insert(pair);
        else
            set.erase(pair);
    };
    setMember(m_waitingPages, waitingPage);
    setMember(m_waitingResources, waitingResource);
    setMember(m_savedPages, savedPage);
}

TPXQItem& TPXDownloadList::AddItem(std::unique_ptr<TPXQItem> owned)
{
    TPXQItem& item = *owned;
    item.m_task = &m_task;
    item.m_list = this;
    {
        std::lock_guard lock(m_mutex);
        const auto pair = static_cast<std::uint32_t>(m_pairs.size());
        item.m_listIndex = std::size_t{pair} * 2;
        m_pairs.emplace_back(RecordURL(item.m_url), BuildRecord(item, {}), std::move(owned));
        IndexLocked(pair);
        ApplyStateLocked(item, item.State(), item.Action());
    }
    if (item.IsPage())
        m_task.AddTotalPages(1);
    else
        m_task.AddTotalResources(1);
    m_unsaved.store(true, std::memory_order_relaxed);
    if (m_observer)
        m_observer->RowAdded(item);
    item.ReleaseStrings();
    return item;
}

void TPXDownloadList::Clear()
{
    std::vector<TPair> old;
    {
        std::lock_guard lock(m_mutex);
        m_waitingPages.clear();
        m_waitingResources.clear();
        m_savedPages.clear();
        m_urlIndex.clear();
        old.swap(m_pairs);
    }
    // Nothing left to save; a save now would replace the file with an empty list.
    m_unsaved.store(false, std::memory_order_relaxed);
    m_saveCountdown = 0;
    if (m_observer) {
        m_observer->BeginUpdate();
        m_observer->RowsCleared();
        m_observer->EndUpdate();
    }
    // The items die after the view has let go of its rows.
    old.clear();
}

void TPXDownloadList::ChangeState(TPXQItem& item, int state)
{
    std::lock_guard lock(m_mutex);
    ApplyStateLocked(item, state, item.Action());
}

void TPXDownloadList::ChangeAction(TPXQItem& item, int action)
{
    std::lock_guard lock(m_mutex);
    ApplyStateLocked(item, item.State(), action);
}

void TPXDownloadList::ChangeTypeGroup(TPXQItem& item, std::string typeGroup)
{
    std::lock_guard lock(m_mutex);
    item.m_typeGroup = std::move(typeGroup);
    ApplyStateLocked(item, item.State(), item.Action());
}

void TPXDownloadList::ChangeTypeExtension(TPXQItem& item, std::string extension)
{
    std::lock_guard lock(m_mutex);
    const bool sheetByURL =
        item.m_listIndex / 2 < m_pairs.size() && TPXQItem::IsStyleSheetURL(m_pairs[item.m_listIndex / 2].urlLine);
    item.m_typeExtension = std::move(extension);
    item.m_styleSheet.store(sheetByURL || item.m_typeExtension == ".css", std::memory_order_relaxed);
    ApplyStateLocked(item, item.State(), item.Action());
}

void TPXDownloadList::ReloadItem(TPXQItem& item)
{
    const std::size_t pair = item.m_listIndex / 2;
    if (pair >= m_pairs.size())
        return;
    const std::string& record = m_pairs[pair].recordLine;
    item.m_url = m_pairs[pair].urlLine;
    if (item.m_baseURL.empty() && !item.m_url.empty())
        item.m_baseURL = URLDirectory(item.m_url);
    if (!item.m_url.empty())
        item.m_styleSheet.store(TPXQItem::IsStyleSheetURL(item.m_url) || item.m_typeExtension == ".css",
                                std::memory_order_relaxed);
    item.m_statusText = FieldOf(record, kRecordSeparator, 1);
    item.m_depth = ParseNumber<int>(FieldOf(record, kRecordSeparator, 4)).value_or(0);
    item.m_parentURL = FieldOf(record, kRecordSeparator, 5);
    item.m_lastModified = FieldOf(record, kRecordSeparator, 6);
    item.m_title = FieldOf(record, kRecordSeparator, 8);
    item.m_size = ParseNumber<std::int64_t>(FieldOf(record, kRecordSeparator, 9)).value_or(0);
    item.m_frameFlag = FieldOf(record, kRecordSeparator, 10);

    // An unreadable state keeps the one in memory.
    const int state = ParseNumber<int>(FieldOf(record, kRecordSeparator, 0)).value_or(item.State());
    const int action = ActionOf(FieldOf(record, kRecordSeparator, 7));
    std::string typeGroup = FieldOf(record, kRecordSeparator, 2);
    std::lock_guard lock(m_mutex);
    if (typeGroup != item.m_typeGroup)
        item.m_typeGroup = std::move(typeGroup);
    ApplyStateLocked(item, state, action);
}

void TPXDownloadList::WriteBackItem(TPXQItem& item, bool release)
{
    const std::size_t pair = item.m_listIndex / 2;
    if (pair < m_pairs.size()) {
        std::string record = BuildRecord(item, m_pairs[pair].recordLine);
        {
            std::lock_guard lock(m_mutex);
            m_pairs[pair].recordLine = std::move(record);
        }
        m_unsaved.store(true, std::memory_order_relaxed);
        NotifyChanged(item);
    }
    if (release)
        item.ReleaseStrings();
}

void TPXDownloadList::NotifyChanged(TPXQItem& item)
{
    if (m_observer)
        m_observer->RowChanged(item, StateImage(item.State(), item.Action()));
}

std::string TPXDownloadList::RecordField(std::string_view record, int n)
{
    return FieldOf(record, kRecordSeparator, n);
}

std::string TPXDownloadList::BuildRecord(const TPXQItem& item, std::string_view stored)
{
    // A string that is empty in memory may only have been released: keep the stored value.
    const auto text = [stored](const std::string& value, int n) {
        std::string clean = RecordText(value);
        return clean.empty() ? FieldOf(stored, kRecordSeparator, n) : clean;
    };
    std::string parent = RecordURL(item.m_parentURL);
    if (parent.empty())
        parent = FieldOf(stored, kRecordSeparator, 5);

    const std::string fields[11] = {
        std::to_string(item.State()),
        text(item.m_statusText, 1),
        text(item.m_typeGroup, 2),
        item.m_typeExtension,
        std::to_string(item.m_depth),
        parent,
        text(item.m_lastModified, 6),
        std::to_string(item.Action()),
        text(item.m_title, 8),
        std::to_string(item.m_size),
        text(item.m_frameFlag, 10),
    };
    std::string record;
    for (const std::string& field : fields) {
        record += field;
        record += kRecordSeparator;
    }
    return record;
}

std::optional<int> TPXDownloadList::StateImage(int state, int action)
{
    if (state >= kStateNone && state <= kStateUpdating)
        return action;
    if (state == kStateError)
        return 4;
    if (state > kStateDownloaded)
        return 5;
    return std::nullopt;
}

// ---- files ----

TListResult TPXDownloadList::ReadFile()
{
    const std::filesystem::path& path = FilePath();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return {};
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec)
        return {false, "Cannot read the download list " + path.string() + ": " + ec.message()};
    if (size > kMaxListFileSize)
        return {false, "The download list " + path.string() + " is too large to be one (" +
                           std::to_string(size) + " bytes)."};
    const std::optional<std::string> data = ReadWholeFile(path);
    if (!data)
        return {false, "Cannot read the download list " + path.string() + "."};

    std::vector<std::string_view> lines = SplitLines(*data);
    TListResult result;
    if (lines.size() % 2 != 0) {
        lines.pop_back();
        result = {false, "The download list " + path.string() +
                             " ends with a URL line without its record line; that URL was left out."};
    }
    std::vector<TPair> pairs;
    pairs.reserve(lines.size() / 2);
    for (std::size_t i = 0; i + 1 < lines.size(); i += 2)
        pairs.emplace_back(std::string(lines[i]), std::string(lines[i + 1]), nullptr);
    std::lock_guard lock(m_mutex);
    m_pairs = std::move(pairs);
    return result;
}

TListResult TPXDownloadList::LoadList()
{
    TListResult result;
    if (m_pairs.empty())
        result = ReadFile();
    if (m_observer)
        m_observer->BeginUpdate();
    const std::size_t lineCount = m_pairs.size() * 2;
    for (std::size_t pair = 0; pair < m_pairs.size(); ++pair) {
        if (m_pairs[pair].item)
            continue; // made by an earlier load or an add
        const std::size_t recordIndex = pair * 2 + 1;
        if (!LooksLikeURLLine(m_pairs[pair].urlLine)) {
            // Nothing in a file that does not start like a list is taken for an item.
            result = {false, pair == 0 ? "Not a Pellix download list: " + FilePath().string() +
                                             " (line 1 is not a web address); nothing was loaded."
                                       : "The download list " + FilePath().string() + " has " +
                                             Quoted(m_pairs[pair].urlLine) + " on line " +
                                             std::to_string(recordIndex) +
                                             ", which is not a web address; loading stopped there."};
            break;
        }
        std::string& record = m_pairs[pair].recordLine;
        const std::string stateField = FieldOf(record, kRecordSeparator, 0);
        const std::optional<int> parsed = ParseNumber<int>(stateField);
        if (!parsed) {
            result = {false, "The download list " + FilePath().string() + " has " + Quoted(stateField) +
                                 " as the state on line " + std::to_string(recordIndex + 1) +
                                 ", which is not a valid integer value; loading stopped there."};
            break;
        }
        auto owned = std::make_unique<TPXQItem>(std::string(), FieldOf(record, kRecordSeparator, 2),
                                                ActionOf(FieldOf(record, kRecordSeparator, 7)));
        TPXQItem& item = *owned;
        item.m_task = &m_task;
        item.m_list = this;
        item.m_listIndex = pair * 2;
        // Lists written before the field held a type hold it empty: names come from the address.
        if (std::string extension = FieldOf(record, kRecordSeparator, 3); IsTypeExtension(extension))
            item.m_typeExtension = std::move(extension);
        item.m_styleSheet.store(TPXQItem::IsStyleSheetURL(m_pairs[pair].urlLine) || item.m_typeExtension == ".css",
                                std::memory_order_relaxed);
        const int state = *parsed < kStateError ? kStateNone : *parsed;
        {
            std::lock_guard lock(m_mutex);
            // Work that was cut off is waiting again; the record says so too, or a later reload
            // would bring the old state back.
            if (state != *parsed) {
                const std::size_t end = record.find(kRecordSeparator);
                record = "0" + (end == std::string::npos ? std::string() : record.substr(end));
            }
            m_pairs[pair].item = std::move(owned);
            IndexLocked(static_cast<std::uint32_t>(pair));
            ApplyStateLocked(item, state, item.Action());
        }
        if (m_observer)
            m_observer->RowAdded(item);
        if (recordIndex % 100 == 1 || pair + 1 == m_pairs.size())
            m_task.NotifyProgress("Opening task....", static_cast<std::int64_t>(recordIndex),
                                  static_cast<std::int64_t>(lineCount) - 1);
    }
    if (m_observer)
        m_observer->EndUpdate();
    return result;
}

TListResult TPXDownloadList::SaveList()
{
    std::string data;
    {
        std::lock_guard lock(m_mutex);
        std::size_t size = 0;
        for (const TPair& pair : m_pairs)
            size += pair.urlLine.size() + pair.recordLine.size() + 4;
        data.reserve(size);
        for (const TPair& pair : m_pairs) {
            data += pair.urlLine;
            data += "\r\n";
            data += pair.recordLine;
            data += "\r\n";
        }
    }
    const std::filesystem::path& path = FilePath();
    std::error_code ec;
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path(), ec);
    std::string error;
    if (!WriteFileAtomically(path, data, &error))
        return {false, "Cannot save the download list: " + error};
    m_unsaved.store(false, std::memory_order_relaxed);
    m_saveCountdown = 0;
    return {};
}

TListResult TPXDownloadList::PeriodicSave()
{
    if (m_saveCountdown < kSaveInterval) {
        ++m_saveCountdown;
        return {};
    }
    return SaveList();
}

// ---- reads ----

TPXQItem* TPXDownloadList::NextPage() const
{
    std::lock_guard lock(m_mutex);
    return m_waitingPages.empty() ? nullptr : m_pairs[*m_waitingPages.begin()].item.get();
}

TPXQItem* TPXDownloadList::NextResource() const
{
    std::lock_guard lock(m_mutex);
    return m_waitingResources.empty() ? nullptr : m_pairs[*m_waitingResources.begin()].item.get();
}

namespace {

template <typename TSet, typename TPairs>
auto FirstAccepted(const TSet& waiting, const TPairs& pairs, const std::function<bool(std::string_view)>& accept,
                   std::size_t window) -> decltype(pairs[0].item.get())
{
    std::size_t looked = 0;
    for (auto it = waiting.begin(); it != waiting.end() && looked < window; ++it, ++looked)
        if (accept(pairs[*it].urlLine))
            return pairs[*it].item.get();
    return nullptr;
}

} // namespace

TPXQItem* TPXDownloadList::NextPageWhere(const std::function<bool(std::string_view)>& accept, std::size_t window) const
{
    std::lock_guard lock(m_mutex);
    return FirstAccepted(m_waitingPages, m_pairs, accept, window);
}

TPXQItem* TPXDownloadList::NextResourceWhere(const std::function<bool(std::string_view)>& accept,
                                             std::size_t window) const
{
    std::lock_guard lock(m_mutex);
    return FirstAccepted(m_waitingResources, m_pairs, accept, window);
}

TPXQItem* TPXDownloadList::NextSavedPage() const
{
    std::lock_guard lock(m_mutex);
    return m_savedPages.empty() ? nullptr : m_pairs[*m_savedPages.begin()].item.get();
}

TPXQItem* TPXDownloadList::NextSavedPageWhere(const std::function<bool(const TPXQItem&)>& accept,
                                              std::size_t window) const
{
    std::lock_guard lock(m_mutex);
    std::size_t looked = 0;
    for (const std::uint32_t pair : m_savedPages) {
        if (looked++ == window)
            break;
        TPXQItem* item = m_pairs[pair].item.get();
        if (item && accept(*item))
            return item;
    }
    return nullptr;
}

std::string TPXDownloadList::TypeExtensionOf(std::string_view url) const
{
    const TURLProbe probe(url);
    std::lock_guard lock(m_mutex);
    const auto found = m_urlIndex.find(probe);
    if (found == m_urlIndex.end() || !m_pairs[*found].item)
        return {};
    return m_pairs[*found].item->m_typeExtension;
}

bool TPXDownloadList::ContainsURL(std::string_view url) const
{
    const TURLProbe probe(url);
    std::lock_guard lock(m_mutex);
    return m_urlIndex.find(probe) != m_urlIndex.end();
}

std::size_t TPXDownloadList::URLIndexCount() const
{
    std::lock_guard lock(m_mutex);
    return m_urlIndex.size();
}

std::vector<std::string> TPXDownloadList::IndexedURLs() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::uint32_t> order(m_urlIndex.begin(), m_urlIndex.end());
    std::sort(order.begin(), order.end(), [this](std::uint32_t a, std::uint32_t b) {
        const TPair& first = m_pairs[a];
        return LessURL(first.urlLine, m_pairs[b].urlLine, first.authorityEnd);
    });
    std::vector<std::string> urls;
    urls.reserve(order.size());
    for (const std::uint32_t pair : order)
        urls.push_back(m_pairs[pair].urlLine);
    return urls;
}

std::size_t TPXDownloadList::Count() const
{
    std::lock_guard lock(m_mutex);
    return m_pairs.size();
}

std::size_t TPXDownloadList::LineCount() const
{
    return Count() * 2;
}

std::string TPXDownloadList::Line(std::size_t index) const
{
    std::lock_guard lock(m_mutex);
    if (index / 2 >= m_pairs.size())
        return std::string();
    const TPair& pair = m_pairs[index / 2];
    return index % 2 == 0 ? pair.urlLine : pair.recordLine;
}

TPXQItem* TPXDownloadList::Item(std::size_t pairIndex) const
{
    std::lock_guard lock(m_mutex);
    return pairIndex < m_pairs.size() ? m_pairs[pairIndex].item.get() : nullptr;
}

// ---- run preparation ----

TListCounts TPXDownloadList::CountStates() const
{
    TListCounts counts;
    for (const TPair& pair : m_pairs) {
        const TPXQItem* item = pair.item.get();
        if (!item)
            continue;
        const bool page = item->IsPage();
        const int state = item->State();
        (page ? counts.totalPages : counts.totalResources) += 1;
        // The states a transfer leaves behind when it ends, as its end is counted; "Downloaded"
        // is never set and leaving it takes nothing off.
        if (state == kStateError || state >= kStateSaved)
            (page ? counts.pagesSaved : counts.resourcesSaved) += 1;
        if (state == kStateError)
            (page ? counts.pageErrors : counts.resourceErrors) += 1;
        if (state == kStateError || state >= kStateSaved) {
            const std::string_view record = pair.recordLine;
            const std::int64_t held = TPXQItem::BytesHeld(
                state, FieldOf(record, kRecordSeparator, 1),
                ParseNumber<std::int64_t>(FieldOf(record, kRecordSeparator, 9)).value_or(0));
            // A damaged record may claim anything; the sum saturates instead of wrapping.
            if (held > 0)
                counts.bytesHeld = held > INT64_MAX - counts.bytesHeld ? INT64_MAX : counts.bytesHeld + held;
        }
    }
    return counts;
}

void TPXDownloadList::ResetInterrupted()
{
    for (std::size_t pair = 0; pair < m_pairs.size(); ++pair) {
        TPXQItem* item = m_pairs[pair].item.get();
        if (!item || (item->State() != kStateDownloading && item->State() != kStateUpdating))
            continue;
        item->Reload();
        item->SetState(kStateNone);
        item->WriteBack(true);
    }
}

void TPXDownloadList::PrepareUpdate()
{
    for (std::size_t pair = 0; pair < m_pairs.size(); ++pair) {
        TPXQItem* item = m_pairs[pair].item.get();
        if (!item || item->State() <= kStateDownloaded)
            continue;
        item->Reload();
        item->SetState(kStateNone);
        item->SetAction(kActionUpdate);
        item->m_statusText.clear();
        item->WriteBack(true);
    }
}

void TPXDownloadList::PrepareRetry()
{
    for (std::size_t pair = 0; pair < m_pairs.size(); ++pair) {
        TPXQItem* item = m_pairs[pair].item.get();
        if (!item || item->State() != kStateError)
            continue;
        item->Reload();
        item->SetState(kStateNone);
        item->m_size = 0;
        // Write back keeps the stored status text, so an "Incomplete (n bytes)" item resumes.
        item->m_statusText.clear();
        item->WriteBack(true);
    }
}

} // namespace pellix
