// Fuzz target for one whole parse of a page: BASE removal, every link-table pass, the srcset
// lists, the style pass and the quoted-string passes, converting every usable link to a local
// one the way the parse thread does, with checked invariants.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_checks.h"
#include "links/css_scanner.h"
#include "links/html_parser.h"
#include "links/parse_thread.h"
#include "links/url_rules.h"

using namespace pellix;
using namespace pellix::fuzz;

namespace {

constexpr std::string_view kPageURL = "http://example.org/dir/page.html";
constexpr std::string_view kRoot = "/r/";

std::string WithTrailingSlash(std::string folder)
{
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder;
}

// A value written where a link stood must not end the attribute, string or url() it sits in:
// every byte that could end one was already in the value it replaces (an anchor is kept as
// written), and the rest is printable ASCII.
void CheckCannotEscape(std::string_view original, std::string_view text, bool unquotedCss)
{
    for (const char c : text) {
        Check(static_cast<unsigned char>(c) > ' ' && static_cast<unsigned char>(c) < 0x7f);
        if (c == '"' || c == '\'' || c == '<' || c == '>')
            Check(original.find(c) != std::string_view::npos);
        if (unquotedCss)
            Check(c != '(' && c != ')' && c != '\\' && c != '"' && c != '\'');
    }
}

// One edit of the source a pass was given, in source offsets (0-based).
struct TEdit {
    std::size_t start;
    std::size_t length;
    std::string text;
};

// The source with the edits made, built independently of the scanners' own rebuilding.
std::string Rebuild(const std::string& source, const std::vector<TEdit>& edits)
{
    std::string out;
    std::size_t copied = 0;
    for (const TEdit& edit : edits) {
        Check(edit.start >= copied && edit.start + edit.length <= source.size());
        out.append(source, copied, edit.start - copied);
        out += edit.text;
        copied = edit.start + edit.length;
    }
    out.append(source, copied, std::string::npos);
    return out;
}

class TPassRunner {
public:
    explicit TPassRunner(std::string text) : m_text(std::move(text))
    {
        m_ownFolder = URLDirectory(kPageURL);
        m_servedFolder = m_ownFolder;
    }

    std::string& Text() { return m_text; }

    void TakeBase()
    {
        TPXParser parser(m_text, "BASE", ">", "HREF");
        const std::string value = parser.Next();
        if (value.empty())
            return;
        const std::size_t open = parser.TagStart();
        const std::size_t close = parser.TagClose();
        Check(open >= 1 && close >= open && close <= m_text.size());
        m_text.erase(open - 1, close - open + 1);
        m_baseURL = URLDirectory(ResolveURL(value, m_servedFolder));
    }

    // A tag or string pass. skipped: the pass would be left out because its tag is not in the
    // page, so it must find nothing.
    void RunPass(const std::string& tag, const std::string& tagEnd, const std::string& attribute,
                 TParserMode mode, bool skipped)
    {
        const std::string source = m_text;
        TPXParser parser(m_text, tag, tagEnd, attribute, mode);
        std::vector<TEdit> edits;
        std::size_t steps = 0;
        std::size_t lastStart = 0;
        while (!parser.Finished()) {
            Check(++steps <= source.size() + 2);
            const std::string value = parser.Next();
            if (value.empty())
                continue;
            Check(!skipped);
            Check(parser.ValueStart() > lastStart);
            lastStart = parser.ValueStart();
            Check(source.compare(parser.ValueStart() - 1, value.size(), value) == 0);
            if (value[0] == '#')
                continue;
            (void)parser.TagText();
            std::string base = Base();
            std::string localBase = m_ownFolder;
            if (attribute == "CODE") {
                const std::string codebase = parser.AttributeValue("CODEBASE");
                if (!codebase.empty()) {
                    base = WithTrailingSlash(StripAnchor(ResolveURL(codebase, base)));
                    localBase = WithTrailingSlash(StripAnchor(ResolveURL(codebase, localBase)));
                }
            }
            std::string converted;
            if (Convert(value, base, localBase, converted)) {
                CheckCannotEscape(value, converted, false);
                parser.ReplaceValue(converted);
                edits.push_back({parser.ValueStart() - 1, value.size(), converted});
            }
        }
        Check(parser.Source() == source);
        m_text = parser.TakeText();
        Check(m_text == Rebuild(source, edits));
    }

    // A srcset pass: each link of the list converted, separators and descriptors kept.
    void RunListPass(const std::string& tag, const std::string& attribute, bool skipped)
    {
        const std::string source = m_text;
        TPXParser parser(m_text, tag, ">", attribute, pmTag);
        std::vector<TEdit> edits;
        std::size_t steps = 0;
        while (!parser.Finished()) {
            Check(++steps <= source.size() + 2);
            const std::string value = parser.Next();
            if (value.empty())
                continue;
            Check(!skipped);
            Check(source.compare(parser.ValueStart() - 1, value.size(), value) == 0);
            std::string rebuilt;
            std::string kept; // rebuilt without its links: must equal the value without its links
            std::string keptSource;
            std::size_t i = 0;
            while (i < value.size()) {
                const std::size_t begin = value.find_first_not_of(" \t\r\n\f,", i);
                const std::size_t gapEnd = begin == std::string::npos ? value.size() : begin;
                rebuilt.append(value, i, gapEnd - i);
                kept.append(value, i, gapEnd - i);
                keptSource.append(value, i, gapEnd - i);
                if (begin == std::string::npos)
                    break;
                std::size_t end = value.find_first_of(" \t\r\n\f", begin);
                if (end == std::string::npos)
                    end = value.size();
                std::size_t linkEnd = end;
                while (linkEnd > begin && value[linkEnd - 1] == ',')
                    --linkEnd;
                const std::string link = value.substr(begin, linkEnd - begin);
                std::string converted;
                if (!link.empty() && link[0] != '#' && Convert(link, Base(), m_ownFolder, converted)) {
                    CheckCannotEscape(link, converted, false);
                    rebuilt += converted;
                } else {
                    rebuilt += link;
                }
                std::size_t next = linkEnd == end ? value.find(',', end) : linkEnd;
                if (next == std::string::npos)
                    next = value.size();
                Check(next >= linkEnd && next > i);
                rebuilt.append(value, linkEnd, next - linkEnd);
                kept.append(value, linkEnd, next - linkEnd);
                keptSource.append(value, linkEnd, next - linkEnd);
                i = next;
            }
            Check(kept == keptSource);
            if (rebuilt != value) {
                parser.ReplaceValue(rebuilt);
                edits.push_back({parser.ValueStart() - 1, value.size(), rebuilt});
            }
        }
        m_text = parser.TakeText();
        Check(m_text == Rebuild(source, edits));
    }

    void RunStylePass()
    {
        const std::vector<TCssLink> found = FindPageStyleLinks(m_text);
        std::vector<TTextEdit> edits;
        std::vector<TEdit> mine;
        std::size_t end = 0;
        for (const TCssLink& link : found) {
            Check(link.start >= end && link.length > 0 && link.start + link.length <= m_text.size());
            Check(!link.value.empty());
            end = link.start + link.length;
            if (link.value[0] == '#')
                continue;
            std::string converted;
            if (Convert(link.value, Base(), m_ownFolder, converted) && converted != link.value) {
                const std::string written = link.quoted ? converted : UnquotedCssURL(converted);
                CheckCannotEscape(link.value, written, !link.quoted);
                edits.push_back({link.start, link.length, written});
                mine.push_back({link.start, link.length, written});
            }
        }
        if (!edits.empty()) {
            const std::string rebuilt = ApplyTextEdits(m_text, edits);
            Check(rebuilt == Rebuild(m_text, mine));
            m_text = rebuilt;
        }
    }

private:
    std::string Base() const { return m_baseURL.empty() ? m_servedFolder : m_baseURL; }

    // Every usable link is converted (the widest rewriting settings allow). The local link,
    // opened from the local folder it was made for, must reach the link's own local file.
    static bool Convert(const std::string& value, const std::string& base, const std::string& localBase,
                        std::string& converted)
    {
        const std::string url = ResolveAndValidateURL(value, base);
        if (url.empty())
            return false;
        const std::string local = LocalLink(url, localBase);
        const std::string from = LocalFileName(kRoot, localBase, localBase);
        Check(Open(from, local) == LocalFileName(kRoot, localBase, url));
        converted = local + URLAnchor(url);
        return true;
    }

    std::string m_text;
    std::string m_baseURL;
    std::string m_ownFolder;
    std::string m_servedFolder;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // First byte: the aggressive-parser setting (0 tags only, 1 also script strings, 2 strings
    // anywhere instead of tags); the rest is the page.
    if (size == 0)
        return 0;
    const int aggressive = data[0] % 3;
    TPassRunner runner(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    runner.TakeBase();

    if (aggressive != 2) {
        const std::set<std::string> tags = TagNamesIn(runner.Text());
        for (const TLinkTableRow& row : kLinkTable)
            runner.RunPass(row.tag, ">", row.attribute, pmTag, !tags.contains(row.tag));
        for (const TLinkTableRow& row : kLinkListTable)
            runner.RunListPass(row.tag, row.attribute, !tags.contains(row.tag));
        runner.RunStylePass();
    }
    if (aggressive != 0) {
        const auto mode = static_cast<TParserMode>(aggressive);
        for (const char* quote : {"'", "\""})
            runner.RunPass(quote, quote, "", mode, false);
    }
    return 0;
}
