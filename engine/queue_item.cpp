#include "engine/queue_item.h"

#include <charconv>
#include <optional>

#include "engine/download_list.h"
#include "engine/task.h"
#include "links/url_rules.h"

namespace pellix {

namespace {

// n of a status text "Incomplete (n bytes)", when it has that form.
std::optional<std::int64_t> IncompleteBytes(std::string_view statusText)
{
    static constexpr std::string_view kPrefix = "Incomplete (";
    static constexpr std::string_view kSuffix = " bytes)";
    const std::string_view text = statusText;
    if (text.size() <= kPrefix.size() + kSuffix.size() || !text.starts_with(kPrefix)
        || !text.ends_with(kSuffix))
        return std::nullopt;
    const std::string_view digits =
        text.substr(kPrefix.size(), text.size() - kPrefix.size() - kSuffix.size());
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

} // namespace

TPXQItem::TPXQItem(std::string url, std::string typeGroup, int action)
    : m_url(std::move(url)), m_typeGroup(std::move(typeGroup)), m_action(action)
{
    if (!m_url.empty()) {
        m_baseURL = URLDirectory(m_url);
        m_styleSheet.store(IsStyleSheetURL(m_url), std::memory_order_relaxed);
    }
}

void TPXQItem::SetURL(std::string url)
{
    m_url = std::move(url);
    if (!m_url.empty())
        m_styleSheet.store(IsStyleSheetURL(m_url) || m_typeExtension == ".css", std::memory_order_relaxed);
}

void TPXQItem::SetTypeExtension(std::string extension)
{
    if (m_list) {
        // Other threads read it through the list, and it may make the item a style sheet.
        m_list->ChangeTypeExtension(*this, std::move(extension));
        return;
    }
    m_typeExtension = std::move(extension);
    m_styleSheet.store(m_typeExtension == ".css" || (!m_url.empty() && IsStyleSheetURL(m_url)),
                       std::memory_order_relaxed);
}

bool TPXQItem::IsStyleSheetURL(std::string_view url)
{
    url = url.substr(0, url.find_first_of("?#"));
    constexpr std::string_view kExtension = ".css";
    if (url.size() < kExtension.size())
        return false;
    const std::string_view tail = url.substr(url.size() - kExtension.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        const char c = tail[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c) != kExtension[i])
            return false;
    }
    return true;
}

void TPXQItem::SetState(TItemState newState)
{
    const int oldState = State();
    if (m_task && newState == kStateNone) {
        const bool page = IsPage();
        if (oldState == kStateError) {
            if (page) {
                m_task->AddPageErrors(-1);
                m_task->AddPagesSaved(-1);
            } else {
                m_task->AddResourceErrors(-1);
                m_task->AddResourcesSaved(-1);
            }
        } else if (oldState >= kStateSaved) {
            if (page)
                m_task->AddPagesSaved(-1);
            else
                m_task->AddResourcesSaved(-1);
            m_task->AddTotalBytes(-BytesHeld(oldState, m_statusText, m_size));
        }
    }
    if (m_list)
        m_list->ChangeState(*this, newState);
    else
        m_state.store(newState, std::memory_order_relaxed);
    if (m_task)
        m_task->NotifyProgress("", 0, 0);
}

std::int64_t TPXQItem::BytesHeld(int state, std::string_view statusText, std::int64_t size)
{
    const std::optional<std::int64_t> incomplete = IncompleteBytes(statusText);
    if (state >= kStateSaved)
        return incomplete.value_or(size);
    // A failed body that broke off keeps its bytes for the next try, which asks only for the rest.
    if (state == kStateError)
        return incomplete.value_or(0);
    return 0;
}

void TPXQItem::SetAction(TItemAction action)
{
    if (m_list)
        m_list->ChangeAction(*this, action);
    else
        m_action.store(action, std::memory_order_relaxed);
}

void TPXQItem::Reload()
{
    if (m_list)
        m_list->ReloadItem(*this);
}

void TPXQItem::WriteBack(bool release)
{
    if (m_list)
        m_list->WriteBackItem(*this, release);
    else if (release)
        ReleaseStrings();
}

void TPXQItem::ReleaseStrings()
{
    // Assigning an empty string keeps the capacity; swapping it out frees the memory.
    std::string().swap(m_url);
    std::string().swap(m_statusText);
    std::string().swap(m_parentURL);
    std::string().swap(m_lastModified);
    std::string().swap(m_title);
}

std::string TPXQItem::StateText(int state)
{
    static constexpr const char* kTexts[] = {"None",    "Downloading", "Updating", "Error",
                                             "Downloaded", "Saved",    "Updated",  "Mapping",
                                             "Parsing", "Mapped",      "Parsed",   "Zipped"};
    if (state < 0 || state >= static_cast<int>(std::size(kTexts)))
        return "Unknown";
    return kTexts[state];
}

} // namespace pellix
