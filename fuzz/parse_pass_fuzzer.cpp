// Fuzz target for one whole rewrite of a page or style sheet by TPageRewriter (BASE removal, every
// link-table pass, the srcset lists, the style pass, the quoted-string passes, the banner), with
// settings and a link test taken from the input, and checked invariants:
// - the text the passes start from is the page without its first BASE tag;
// - each pass's text is the text it was given with the edits it reported made (rebuilt here,
//   independently), and is the text the next pass is given; a pass ends in bounded steps;
// - a pass left out because its tag is not in the page would have found nothing;
// - the links a pass tested lie inside its text, in ascending order, as written there;
// - a link is written in place exactly when the conversion settings say so, as LocalLink and its
//   anchor; the text written cannot end the attribute, string or url() it sits in; and the local
//   link, opened from the folder it was made for, reaches the link's own local file;
// - each accepted link new to the task is queued once per page, with the page's fields;
// - the result is the last pass's text, with the banner block when the page gets one.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/download_list.h"
#include "fuzz/fuzz_checks.h"
#include "links/banner.h"
#include "links/css_scanner.h"
#include "links/html_parser.h"
#include "links/page_rewriter.h"
#include "links/text_helpers.h"
#include "links/url_rules.h"

using namespace pellix;
using namespace pellix::fuzz;

namespace {

constexpr std::string_view kPageURL = "http://example.org/dir/page.html";
constexpr std::string_view kStartURL = "http://example.org/dir/index.html";
constexpr std::string_view kRedirectFolder = "http://example.org/other/deep/";
constexpr std::string_view kRoot = "/r/";

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

// One edit of a text, in its offsets.
struct TEdit {
    std::size_t start;
    std::size_t length;
    std::string text;
};

// The text with the edits made, built independently of the rewriter's own rebuilding.
std::string Rebuild(std::string_view source, const std::vector<TEdit>& edits)
{
    std::string out;
    std::size_t copied = 0;
    for (const TEdit& edit : edits) {
        Check(edit.start >= copied && edit.start <= source.size() && edit.length <= source.size() - edit.start);
        out.append(source.substr(copied, edit.start - copied));
        out += edit.text;
        copied = edit.start + edit.length;
    }
    out.append(source.substr(copied));
    return out;
}

std::uint32_t Hash(std::string_view text)
{
    std::uint32_t hash = 2166136261u;
    for (const char c : text)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

// A decision as reported, kept past the call.
struct TDecision {
    std::size_t start;
    std::size_t length;
    std::string value;
    std::string url;
    bool accepted;
    bool queued;
    bool converted;
    std::string written; // the converted link
};

struct TPlannedPass {
    TRewritePassKind kind;
    std::string tag;
    std::string attribute;
};

class TChecker final : public IPageRewriteObserver {
public:
    TChecker(const TPageRewriteInput& input, std::string_view original, std::uint8_t seed)
        : m_input(input), m_original(original), m_seed(seed)
    {
        m_startRoot = URLAncestor(URLDirectory(input.startURL), 0);
        if (input.styleSheet) {
            m_plan.push_back({TRewritePassKind::Style, "STYLE", ""});
            return;
        }
        if (input.aggressiveParser != 2) {
            for (const TLinkTableRow& row : kLinkTable)
                m_plan.push_back({TRewritePassKind::Tag, row.tag, row.attribute});
            for (const TLinkTableRow& row : kLinkListTable)
                m_plan.push_back({TRewritePassKind::List, row.tag, row.attribute});
            m_plan.push_back({TRewritePassKind::Style, "STYLE", ""});
        }
        if (input.aggressiveParser == 1 || input.aggressiveParser == 2) {
            m_plan.push_back({TRewritePassKind::Strings, "'", ""});
            m_plan.push_back({TRewritePassKind::Strings, "\"", ""});
        }
    }

    // The link test and the task's list, from the input's seed byte.
    bool Accept(std::string_view url) const { return ((Hash(url) ^ m_seed) & 3) != 0; }
    bool Known(std::string_view url) const { return (((Hash(url) >> 2) ^ m_seed) & 7) == 0; }

    void OnStart(std::string_view text, const std::string& /*title*/) override
    {
        Check(!m_started);
        m_started = true;
        std::string expected(m_original);
        if (!m_input.styleSheet) {
            TPXParser parser(expected, "BASE", ">", "HREF");
            if (!parser.Next().empty()) {
                const std::size_t open = parser.TagStart();
                const std::size_t close = parser.TagClose();
                Check(open >= 1 && close >= open && close <= expected.size());
                expected.erase(open - 1, close - open + 1);
            }
        }
        Check(text == expected);
        m_text = expected;
    }

    void OnProgress(const TRewritePass& /*pass*/, const TPassCounts& /*counts*/) override
    {
        Check(++m_steps <= m_text.size() + 2);
    }

    void OnLink(const TRewritePass& pass, const TLinkDecision& d) override
    {
        Check(!d.value.empty() && d.value[0] != '#');
        Check(d.start <= m_text.size() && d.length <= m_text.size() - d.start);
        Check(m_decisions.empty() || d.start >= m_decisions.back().start + m_decisions.back().length);
        if (pass.kind == TRewritePassKind::Style)
            Check(d.length >= d.value.size()); // escapes undone
        else
            Check(std::string_view(m_text).substr(d.start, d.length) == d.value);

        const bool page = d.typeGroup == kPageGroup;
        const bool sameLevel = page && (pass.attribute == "SRC" || pass.attribute == "URL");
        Check(d.level == (sameLevel ? m_input.depth : m_input.depth + 1));
        Check(!d.accepted || (!d.url.empty() && Accept(d.url)));
        Check(d.accepted || d.url.empty() || !Accept(d.url));
        Check(!d.queued || d.accepted);
        if (d.accepted) {
            // Queued when new to the task and to the page.
            const std::string itemURL = StripAnchor(d.url);
            const std::string key = URLIndexKey(itemURL);
            Check(d.queued == (!Known(itemURL) && !m_seenKeys.contains(key)));
            if (d.queued)
                m_seenKeys.insert(key);
        }

        bool convert = false;
        if (d.accepted)
            convert = m_input.convertFollowedLinks == 1;
        else if (!d.url.empty() && !ContainsText(d.url, "mailto:"))
            convert = m_input.convertUnfollowedLinks == 2
                   || (m_input.convertUnfollowedLinks == 1 && d.url.find(m_startRoot) != std::string_view::npos);
        Check(convert == (d.converted != nullptr));
        if (d.converted != nullptr) {
            const std::string local = LocalLink(d.url, d.localBase);
            Check(*d.converted == local + URLAnchor(d.url));
            CheckCannotEscape(d.value, *d.converted, false);
            const std::string from = LocalFileName(kRoot, d.localBase, d.localBase);
            Check(Open(from, local) == LocalFileName(kRoot, d.localBase, d.url));
        }
        m_decisions.push_back({d.start, d.length, std::string(d.value), std::string(d.url), d.accepted, d.queued,
                               d.converted != nullptr, d.converted ? *d.converted : std::string()});
    }

    void OnEdit(const TRewritePass& pass, const TRewriteEdit& edit) override
    {
        Check(m_edits.empty() || edit.start >= m_edits.back().start + m_edits.back().length);
        Check(edit.start <= m_text.size() && edit.length <= m_text.size() - edit.start);
        if (pass.kind == TRewritePassKind::List) {
            // The list rebuilt: its converted links in place, everything else as it was.
            std::vector<TEdit> inner;
            for (const TDecision& d : m_decisions) {
                if (d.start >= edit.start && d.start < edit.start + edit.length && d.converted) {
                    Check(d.start + d.length <= edit.start + edit.length);
                    inner.push_back({d.start - edit.start, d.length, d.written});
                }
            }
            Check(!edit.unquotedCss);
            Check(Rebuild(std::string_view(m_text).substr(edit.start, edit.length), inner) == edit.written);
        } else {
            // One link's conversion, made on the last link tested.
            Check(!m_decisions.empty());
            const TDecision& d = m_decisions.back();
            Check(d.start == edit.start && d.length == edit.length && d.converted);
            if (pass.kind == TRewritePassKind::Style) {
                Check(edit.written == (edit.unquotedCss ? UnquotedCssURL(d.written) : d.written));
                CheckCannotEscape(d.value, edit.written, edit.unquotedCss);
            } else {
                Check(!edit.unquotedCss && edit.written == d.written);
            }
            m_editedStarts.insert(edit.start);
        }
        m_edits.push_back({edit.start, edit.length, std::string(edit.written)});
    }

    bool OnPassEnd(const TPassReport& report, std::vector<TQueuedLink>& queued) override
    {
        Check(m_started);
        // Passes left out before this one must have had nothing to find.
        while (m_next < m_plan.size() && !SamePass(m_plan[m_next], report.pass))
            CheckSkipped(m_plan[m_next++]);
        Check(m_next < m_plan.size());
        ++m_next;

        Check(report.text == Rebuild(m_text, m_edits));
        int links = 0;
        int newLinks = 0;
        for (const TDecision& d : m_decisions) {
            links += d.accepted;
            newLinks += d.queued;
            // Tag and string passes write every conversion; the style pass those that change.
            if (d.converted && report.pass.kind != TRewritePassKind::List
                && (report.pass.kind != TRewritePassKind::Style || d.written != d.value))
                Check(m_editedStarts.contains(d.start));
        }
        Check(report.counts.links == links && report.counts.newLinks == newLinks);
        Check(static_cast<int>(queued.size()) == newLinks);
        const bool framed = report.pass.tag == "FRAME" || report.pass.tag == "IFRAME";
        const bool titled = report.pass.kind == TRewritePassKind::Tag || report.pass.kind == TRewritePassKind::Strings;
        for (const TQueuedLink& link : queued)
            CheckQueued(link, framed, titled);
        // Take the links of every other pass; the rest must come back in the result.
        if (m_passes % 2 == 0) {
            queued.clear();
        } else {
            m_left.insert(m_left.end(), queued.begin(), queued.end());
        }
        m_counts.push_back(report.counts);
        ++m_passes;

        m_text = std::string(report.text);
        m_decisions.clear();
        m_edits.clear();
        m_editedStarts.clear();
        m_steps = 0;
        return true;
    }

    void CheckResult(const TPageRewrite& result)
    {
        Check(m_started && !result.stopped);
        while (m_next < m_plan.size())
            CheckSkipped(m_plan[m_next++]);
        const bool banner = !m_input.styleSheet && !m_input.framed && !m_input.noAds;
        Check(result.text == (banner ? InsertBanner(m_text, LocalBannerAddress(URLDirectory(m_input.url))) : m_text));
        Check(result.passes.size() == m_counts.size());
        for (std::size_t i = 0; i < m_counts.size(); ++i)
            Check(result.passes[i].links == m_counts[i].links && result.passes[i].newLinks == m_counts[i].newLinks);
        Check(result.queued.size() == m_left.size());
        for (std::size_t i = 0; i < m_left.size(); ++i)
            Check(result.queued[i].url == m_left[i].url);
        Check(m_input.styleSheet ? result.title.empty() : true);
    }

private:
    static bool SamePass(const TPlannedPass& planned, const TRewritePass& pass)
    {
        return planned.kind == pass.kind && planned.tag == pass.tag && planned.attribute == pass.attribute;
    }

    // Only a link-table pass may be left out, and only when its parser would find nothing.
    void CheckSkipped(const TPlannedPass& planned) const
    {
        Check(planned.kind == TRewritePassKind::Tag || planned.kind == TRewritePassKind::List);
        TPXParser parser(m_text, planned.tag, ">", planned.attribute, pmTag);
        std::size_t steps = 0;
        while (!parser.Finished()) {
            Check(++steps <= m_text.size() + 2);
            Check(parser.Next().empty());
        }
    }

    void CheckQueued(const TQueuedLink& link, bool framed, bool titled)
    {
        Check(!link.url.empty() && StripAnchor(link.url) == link.url);
        Check(!Known(link.url));
        Check(m_queuedKeys.insert(URLIndexKey(link.url)).second);
        Check(link.parentURL == m_input.url);
        Check(link.depth == m_input.depth + 1);
        Check(link.framed == framed);
        const bool resourceUnderMap = link.typeGroup != kPageGroup && m_input.action == kActionMap;
        Check(link.action == (resourceUnderMap ? kActionSkip : m_input.action));
        Check(titled || link.title.empty());
    }

    const TPageRewriteInput& m_input;
    std::string_view m_original;
    std::uint8_t m_seed;
    std::string m_startRoot;
    std::vector<TPlannedPass> m_plan;
    std::size_t m_next = 0;
    bool m_started = false;

    std::string m_text; // the text the pass in progress was given
    std::vector<TDecision> m_decisions;
    std::vector<TEdit> m_edits;
    std::set<std::size_t> m_editedStarts;
    std::size_t m_steps = 0;

    std::set<std::string> m_seenKeys;   // as the decisions queued them
    std::set<std::string> m_queuedKeys; // as the passes handed them over
    std::vector<TQueuedLink> m_left;
    std::vector<TPassCounts> m_counts;
    std::size_t m_passes = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // First byte: the settings; second: the link test, the task's list, the depth and the
    // address the page was served from; the rest is the page or sheet.
    if (size < 3)
        return 0;
    const std::uint8_t mode = data[0];
    const std::uint8_t seed = data[1];
    const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);

    TPageRewriteInput input;
    input.url = std::string(kPageURL);
    input.startURL = std::string(kStartURL);
    input.servedFolder = (seed & 0x20) != 0 ? std::string(kRedirectFolder) : URLDirectory(kPageURL);
    input.depth = seed >> 6;
    input.aggressiveParser = mode % 3;
    input.styleSheet = (mode / 3) % 2 == 1;
    input.convertFollowedLinks = (mode / 6) % 2;
    input.convertUnfollowedLinks = (mode / 12) % 3;
    input.framed = (mode / 36) % 2 == 1;
    input.action = (mode / 72) % 2 == 1 ? kActionMap : kActionDownload;
    input.groups = {{"HTML", ".htm;.html;"}, {"Images", ".gif;.jpg;.png;"}};

    TChecker checker(input, text, seed);
    const TPageRewriter rewriter(
        input,
        [&checker](std::string_view url, std::string_view, int, std::string_view) { return checker.Accept(url); },
        [&checker](std::string_view url) { return checker.Known(url); });
    checker.CheckResult(rewriter.Rewrite(std::string(text), &checker));
    return 0;
}
