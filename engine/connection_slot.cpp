#include "engine/connection_slot.h"

#include "engine/queue_item.h"
#include "engine/slot_list.h"
#include "engine/task.h"
#include "engine/transfer_thread.h"
#include "links/text_helpers.h"
#include "workspace/app_settings.h"

namespace pellix {

std::string ServerKeyOf(std::string_view url)
{
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return {};
    const std::size_t end = url.find_first_of("/?#", scheme + 3);
    return LowerCase(url.substr(0, end));
}

TPXSocket::TPXSocket(TSlotList& list, IOwnerThread& owner, int number)
    : m_list(list), m_driver(std::make_unique<TbwHTTP>(owner)), m_number(number)
{
    m_driver->OnPageSaved = [this](TPXQItem& item) {
        if (m_list.OnPageSaved)
            m_list.OnPageSaved(item);
    };
    m_driver->OnTransferEnded = [this] {
        if (m_list.OnTransferEnded)
            m_list.OnTransferEnded();
    };
    m_driver->OnSetupClient = [this](TagHTTP& http) {
        if (m_list.OnSetupClient)
            m_list.OnSetupClient(http);
    };
    m_shown = Row();
}

TPXSocket::~TPXSocket()
{
    m_driver->Stop();
}

void TPXSocket::StartTransfer(TPXQItem& item, TPXTask& task, const TPXApp* app)
{
    item.Reload();
    m_driver->SetURL(item.URL());
    m_item = &item;

    std::string proxy;
    std::string proxyUser;
    std::string proxyPassword;
    if (app && app->UseProxy()) {
        if (!app->ProxyAddress().empty())
            proxy = app->ProxyAddress() + ":" + app->ProxyPort();
        const std::string authorization = app->ProxyAuthorization();
        if (!authorization.empty()) {
            const std::size_t colon = authorization.find(':');
            if (colon == std::string::npos) {
                proxyPassword = authorization;
            } else {
                proxyUser = authorization.substr(0, colon);
                proxyPassword = authorization.substr(colon + 1);
            }
        }
    }
    m_driver->SetProxy(proxy);
    m_driver->SetProxyUsername(proxyUser);
    m_driver->SetProxyPassword(proxyPassword);
    m_driver->SetUserName(task.UserName());
    m_driver->SetPassword(task.Password());
    m_driver->SetQItem(&item);

    // The item leaves state 0 before the coordinator picks again.
    item.SetState(item.Action() == kActionUpdate ? kStateUpdating : kStateDownloading);
    item.WriteBack(false);

    std::vector<TPipelinedGet> ahead;
    for (; m_aheadSent < m_ahead.size(); ++m_aheadSent)
        ahead.push_back(PipelinedGetOf(*m_ahead[m_aheadSent].item, task));
    m_driver->SetPipelineNext(std::move(ahead));
    m_driver->Start(task);
}

TPipelinedGet TPXSocket::PipelinedGetOf(TPXQItem& item, TPXTask& task)
{
    // The fields the item's own transfer will ask with, so that its request is the one sent.
    item.Reload();
    TPipelinedGet get;
    get.url = item.URL();
    if (item.Action() == kActionUpdate)
        get.ifModifiedSince = item.LastModified();
    if (std::string_view(item.StatusText()).starts_with("Incomplete"))
        get.range = TThreadHTTP::ResumeRange(item.StatusText(),
                                             task.LocalFileOf(item.URL(), item.TypeExtension()) + TThreadHTTP::kPartSuffix);
    return get;
}

void TPXSocket::AddAhead(TAhead ahead)
{
    m_ahead.push_back(std::move(ahead));
}

bool TPXSocket::TakeAhead(TAhead& ahead)
{
    if (m_ahead.empty())
        return false;
    ahead = std::move(m_ahead.front());
    m_ahead.pop_front();
    if (m_aheadSent > 0)
        --m_aheadSent;
    return true;
}

void TPXSocket::CopyFromDriver()
{
    m_urlText = m_driver->URL();
    m_bytes = m_driver->Bytes();
    m_percent = m_driver->Percent();
    m_statusText = m_driver->Status();
    m_size = m_item ? m_item->Size() : 0;
}

std::string TPXSocket::ProgressText(int percent)
{
    if (percent < 0)
        return "  ?";
    return std::string(static_cast<std::size_t>(percent / 10), '\x1E') + "  " + std::to_string(percent) + "%";
}

TSlotRow TPXSocket::Row() const
{
    TSlotRow row;
    row.caption = "HTTP Socket: " + std::to_string(m_number);
    row.retrieving = m_urlText;
    row.progress = ProgressText(m_percent);
    row.bytes = std::to_string(m_bytes);
    row.size = m_size == 0 ? "?" : std::to_string(m_size);
    row.status = m_statusText;
    return row;
}

bool TPXSocket::RefreshRow()
{
    TSlotRow row = Row();
    if (row == m_shown)
        return false;
    m_shown = std::move(row);
    return true;
}

} // namespace pellix
