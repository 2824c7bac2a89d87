// TPageLinkKeys: what the links of each page parsed in this process can lead to, for the link repair at completion.
#include "links/page_link_keys.h"

#include <algorithm>

#include "links/css_scanner.h"
#include "links/link_repair.h"
#include "links/page_rewriter.h"

namespace pellix {

void TLinkKeyList::Add(const TRewritePass& pass, const TLinkDecision& decision)
{
    auto add = [this](const std::string& written) {
        if (const std::uint64_t key = TLinkRepair::LinkKey(written); key != TLinkRepair::kNoFileKey)
            m_keys.push_back(key);
    };
    // The value as found too: a converted link that could not be put in its place stays so.
    add(std::string(decision.value));
    if (decision.converted == nullptr)
        return;
    add(*decision.converted);
    // Unquoted inside url(...) the link is written escaped; both forms name the same file.
    if (pass.kind == TRewritePassKind::Style)
        add(UnquotedCssURL(*decision.converted));
}

std::vector<std::uint64_t> TLinkKeyList::Take()
{
    std::sort(m_keys.begin(), m_keys.end());
    m_keys.erase(std::unique(m_keys.begin(), m_keys.end()), m_keys.end());
    m_keys.shrink_to_fit();
    return std::move(m_keys);
}

void TPageLinkKeys::Set(const std::string& pageURL, std::vector<std::uint64_t> keys)
{
    std::lock_guard lock(m_mutex);
    m_pages.insert_or_assign(pageURL, std::move(keys));
}

bool TPageLinkKeys::MayChange(const std::string& pageURL, const TLinkRepair& repair) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_pages.find(pageURL);
    return found == m_pages.end() || repair.MayChange(found->second);
}

void TPageLinkKeys::Clear()
{
    std::lock_guard lock(m_mutex);
    m_pages.clear();
}

std::size_t TPageLinkKeys::Count() const
{
    std::lock_guard lock(m_mutex);
    return m_pages.size();
}

} // namespace pellix
