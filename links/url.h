// TbwURL: one URL text split into protocol, host, port, path, file name, extension, query, anchor.
#pragma once

#include <string>
#include <string_view>

namespace pellix {

// Splits any text, absolute or relative, without validating it: a text that lacks a protocol,
// host or path just yields empty parts. Backslashes count as slashes.
//
// The host runs up to the first "/", ":", "?" or "#"; an IPv6 literal keeps its brackets
// ("http://[::1]:8080/" has Host "[::1]" and Port "8080"). The port runs up to the next "/",
// "?" or "#".
//
// Parts of "http://host:8080/docs/guide/intro.html?q=1#top":
//   Protocol "http://", Host "host", Port "8080", Path "docs/guide/" (no leading "/", always a
//   trailing "/" when not empty), FileName "intro.html", Extension ".html", Query "?q=1",
//   Anchor "#top".
// A last segment without an extension and without a query names a folder: "http://host/docs"
// has Path "docs/" and no FileName. The Host is taken before any check of the protocol, so the
// relative text "docs/a.html" has Host "docs"; put a "/" in front to get only its path.
class TbwURL final {
public:
    TbwURL() = default;
    explicit TbwURL(std::string_view text) { SetURL(text); }

    // Keeps text as URL() and re-parses every part.
    void SetURL(std::string_view text);

    const std::string& URL() const { return m_url; }
    const std::string& Protocol() const { return m_protocol; }
    const std::string& Host() const { return m_host; }
    const std::string& Port() const { return m_port; }
    // The port as a number: 0 when the URL names none (no ":" or nothing after it), -1 when the
    // text after ":" is no port (anything but digits, 0, above 65535). Never wraps.
    int PortNumber() const;
    // The host as a resolver (getaddrinfo) takes it: an IPv6 literal without its brackets.
    std::string LookupHost() const;
    const std::string& Path() const { return m_path; }
    const std::string& FileName() const { return m_fileName; }
    const std::string& Extension() const { return m_extension; }
    const std::string& Query() const { return m_query; }
    const std::string& Anchor() const { return m_anchor; }
    // FileName() + Query().
    std::string Document() const { return m_fileName + m_query; }

private:
    std::string m_url;
    std::string m_protocol;
    std::string m_host;
    std::string m_port;
    std::string m_path;
    std::string m_fileName;
    std::string m_extension;
    std::string m_query;
    std::string m_anchor;
};

} // namespace pellix
