// TOptionsForm: what the preferences dialog shows and writes: the settings it edits read from the
// application object, written back on OK in one pass, and the system proxy it offers.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pellix {

class TPXApp;

// The dialog's controls as texts and checks, before any cleaning.
struct TOptionsValues {
    // "General".
    bool zipLast = false;
    bool noAds = false;
    bool zipPropertiesFirst = false;
    bool beepOnCompletion = true;
    std::string maxURLHistory;
    std::string maxFileHistory;
    std::string tempFolder;
    // "Zip Folders".
    std::string downloadsFolder;
    bool lastZipFolder = true; // false: the folder in zipFolder
    std::string zipFolder;
    bool lastUnzipFolder = true;
    std::string unzipFolder;
    // "Connection".
    bool useProxy = false;
    std::string proxyAddress;
    std::string proxyPort;
    std::string proxyUserName;
    std::string proxyPassword;
    std::string userAgent;
    // "Personal Intranet".
    std::string intranetFolder;
};

struct TOptionsWriteResult {
    bool ok = true;
    std::string message; // why nothing was written
};

// A proxy split for the address and port edits.
struct TProxyParts {
    std::string address;
    std::string port;
};

class TOptionsForm final {
public:
    using TEnvironment = std::function<std::optional<std::string>(const char* name)>;

    // The controls filled from the settings (the folders through the application's getters).
    static TOptionsValues Read(TPXApp& app);
    // Writes every setting in the dialog's order. A temp folder the application would refuse
    // writes nothing at all and returns the message to show; the dialog then stays open.
    static TOptionsWriteResult Write(TPXApp& app, const TOptionsValues& values);

    // A history count as typed: its number, or the fallback when it is none (or negative).
    static std::uint32_t HistoryCount(const std::string& text, std::uint32_t fallback);
    // Blanks and control characters removed at both ends.
    static std::string TrimProxyText(const std::string& text);
    // The address trimmed, without a leading "http://".
    static std::string CleanProxyAddress(const std::string& text);
    // "user:password" when both are non-empty, otherwise empty; and the reverse, split at the
    // first ":".
    static std::string JoinAuthorization(const std::string& userName, const std::string& password);
    static std::pair<std::string, std::string> SplitAuthorization(const std::string& stored);

    // The choices of "Indentify Pellix as:" (any other text may be typed).
    static const std::vector<std::string>& UserAgentChoices();

    // The HTTP proxy the system's environment names (http_proxy, then https_proxy, either case)
    // as "host:port"; nothing when none is set. The default environment is the process's.
    static std::optional<std::string> SystemProxy(const TEnvironment& environment = {});
    // "host:port" into the two edits; an IPv6 host keeps its brackets; without a port, the whole
    // text is the address.
    static TProxyParts SplitProxy(const std::string& proxy);
    static std::string ProxyOfferText(const std::string& proxy);
};

} // namespace pellix
