// TbwURL: one URL text split into protocol, host, port, path, file name, extension, query, anchor.
#include "links/url.h"

#include <algorithm>

namespace pellix {

void TbwURL::SetURL(std::string_view text)
{
    m_url.assign(text);
    m_protocol.clear();
    m_host.clear();
    m_port.clear();
    m_path.clear();
    m_fileName.clear();
    m_extension.clear();
    m_query.clear();
    m_anchor.clear();

    // The parts are cut from a view of the text; a copy is made only to turn backslashes round.
    std::string slashed;
    std::string_view rest = m_url;
    if (rest.find('\\') != std::string_view::npos) {
        slashed = m_url;
        std::replace(slashed.begin(), slashed.end(), '\\', '/');
        rest = slashed;
    }

    if (const auto scheme = rest.find("://"); scheme != std::string_view::npos) {
        m_protocol = rest.substr(0, scheme + 3);
        rest.remove_prefix(scheme + 3);
    }

    // The path, query or anchor ends the host as well as a port does: "http://h?x" and
    // "http://h#a b" are on host "h".
    auto hostEnd = std::min(rest.find_first_of("/:?#"), rest.size());
    if (!rest.empty() && rest.front() == '[') {
        // An IPv6 literal holds colons of its own.
        if (const auto close = rest.find(']'); close != std::string_view::npos
            && close < std::min(rest.find_first_of("/?#"), rest.size()))
            hostEnd = close + 1;
    }
    m_host = rest.substr(0, hostEnd);
    rest.remove_prefix(hostEnd);
    if (m_host == ".")
        m_host.clear();
    if (rest.empty())
        return;

    if (rest.front() == ':') {
        rest.remove_prefix(1);
        const auto portEnd = std::min(rest.find_first_of("/?#"), rest.size());
        m_port = rest.substr(0, portEnd);
        rest.remove_prefix(portEnd);
    }

    if (const auto hash = rest.find('#'); hash != std::string_view::npos) {
        m_anchor = rest.substr(hash);
        rest = rest.substr(0, hash);
    }
    if (const auto question = rest.find('?'); question != std::string_view::npos) {
        m_query = rest.substr(question);
        rest = rest.substr(0, question);
    }

    if (const auto slash = rest.rfind('/'); slash != std::string_view::npos) {
        m_path = rest.substr(0, slash + 1);
        m_fileName = rest.substr(slash + 1);
    } else {
        m_fileName = rest;
    }

    // A "\" or ":" after the last dot means the dot is not an extension's.
    if (const auto mark = m_fileName.find_last_of(".\\:");
        mark != std::string::npos && m_fileName[mark] == '.')
        m_extension = m_fileName.substr(mark);

    // A last segment without extension or query names a folder.
    if (m_extension.empty() && m_query.empty()) {
        m_path += m_fileName;
        m_fileName.clear();
    }

    if (!m_path.empty() && m_path.front() == '/')
        m_path.erase(0, 1);
    if (!m_path.empty() && m_path.back() != '/')
        m_path += '/';
}

int TbwURL::PortNumber() const
{
    if (m_port.empty())
        return 0;
    int value = 0;
    for (const char c : m_port) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
        if (value > 65535)
            return -1;
    }
    return value == 0 ? -1 : value;
}

std::string TbwURL::LookupHost() const
{
    if (m_host.size() >= 2 && m_host.front() == '[' && m_host.back() == ']')
        return m_host.substr(1, m_host.size() - 2);
    return m_host;
}

} // namespace pellix
