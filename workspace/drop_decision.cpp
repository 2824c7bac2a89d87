#include "workspace/drop_decision.h"

#include <filesystem>

#include "links/text_helpers.h"
#include "links/url_rules.h"

namespace pellix {

namespace {

std::string Trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

bool StartsWithNoCase(const std::string& text, std::string_view prefix)
{
    return text.size() >= prefix.size() && LowerCase(text.substr(0, prefix.size())) == prefix;
}

// A web address as the task would be made from: only an explicit http:// or https:// counts, so
// that a dragged word or sentence never becomes a task.
bool AsAddress(const std::string& entry, std::string& address)
{
    if (!StartsWithNoCase(entry, "http://") && !StartsWithNoCase(entry, "https://"))
        return false;
    address = entry;
    return ValidateURL(address);
}

std::string LowerExtension(const std::string& path)
{
    return LowerCase(std::filesystem::path(path).extension().string());
}

} // namespace

std::string LocalPathOfFileURI(const std::string& uri)
{
    if (!StartsWithNoCase(uri, "file:"))
        return {};
    std::string rest = uri.substr(5);
    if (rest.rfind("//", 0) == 0) {
        rest.erase(0, 2);
        const std::size_t slash = rest.find('/');
        if (slash == std::string::npos)
            return {};
        const std::string host = LowerCase(rest.substr(0, slash));
        if (!host.empty() && host != "localhost")
            return {};
        rest.erase(0, slash);
    }
    if (rest.empty() || rest.front() != '/')
        return {};
    // The query and fragment are not part of the file's name; %XX stands for the byte.
    std::string path = PercentDecode(std::string_view(rest).substr(0, rest.find_first_of("?#")));
    // A NUL byte names no file.
    if (path.find('\0') != std::string::npos)
        return {};
    return path;
}

TDropAction DecideDrop(const TDropData& data)
{
    std::vector<std::string> addresses;
    std::vector<std::string> files = data.localFiles;
    std::string address;
    for (const std::string& uri : data.otherURIs)
        if (AsAddress(Trimmed(uri), address))
            addresses.push_back(address);
    // Plain text is read only when there is no uri-list: it repeats the list's entries.
    if (data.localFiles.empty() && data.otherURIs.empty()) {
        std::string_view text = data.text;
        while (!text.empty()) {
            const std::size_t end = text.find('\n');
            const std::string line = Trimmed(text.substr(0, end));
            text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
            if (line.empty())
                continue;
            if (AsAddress(line, address))
                addresses.push_back(address);
            else if (std::string path = LocalPathOfFileURI(line); !path.empty())
                files.push_back(std::move(path));
            else if (line.front() == '/')
                files.push_back(line);
        }
    }

    TDropAction action;
    if (!addresses.empty()) {
        action.kind = TDropKind::Addresses;
        action.items = std::move(addresses);
        return action;
    }
    if (files.size() == 1) {
        const std::string extension = LowerExtension(files.front());
        if (extension == ".zip")
            action.kind = TDropKind::OpenZip;
        else if (extension == ".pxt")
            action.kind = TDropKind::AddTaskFile;
        else
            return action;
        action.items = std::move(files);
        return action;
    }
    if (files.size() > 1) {
        action.kind = TDropKind::ZipWizard;
        action.items = std::move(files);
    }
    return action;
}

TDropEffect DropEffect(bool shift, bool control, bool alt)
{
    return shift && !control && !alt ? TDropEffect::MoveOrLink : TDropEffect::CopyOrLink;
}

} // namespace pellix
