// TPageRewriter: finds the links of one saved page or style sheet, decides which to queue, and rewrites them for offline use.
#include "links/page_rewriter.h"

#include <map>
#include <optional>
#include <set>
#include <unordered_map>
#include <utility>

#include "engine/download_list.h"
#include "links/banner.h"
#include "links/css_scanner.h"
#include "links/file_kind.h"
#include "links/html_parser.h"
#include "links/resolved_link_cache.h"
#include "links/text_helpers.h"
#include "links/url_rules.h"

namespace pellix {

namespace {

// What a tag's link is, by the table row it was found with.
TFileKind TagKind(const TRewritePass& pass, const TPXParser& parser)
{
    const std::string_view tag = pass.tag;
    const std::string_view attribute = pass.attribute;
    if (pass.kind != TRewritePassKind::Tag)
        return TFileKind::None;
    if (tag == "LINK")
        return LinkTagKind(parser.AttributeValue("REL"), parser.AttributeValue("AS"));
    if (tag == "SCRIPT")
        return TFileKind::Script;
    if (tag == "IMG" || tag == "BODY" || (tag == "INPUT" && attribute == "SRC") || attribute == "POSTER")
        return TFileKind::Image;
    if (tag == "BGSOUND" || tag == "VIDEO" || tag == "AUDIO" || tag == "SOURCE")
        return TFileKind::Media;
    return TFileKind::None;
}

// URLAnchor of a resolved and validated address, without parsing it again: its scheme, host and
// port hold no "#", so the anchor starts at the first one.
std::string_view AnchorOf(std::string_view url)
{
    const std::size_t hash = url.find('#');
    return hash == std::string_view::npos ? std::string_view() : url.substr(hash);
}

// The work on one text: the state the passes share.
class TRewriteJob final {
public:
    TRewriteJob(const TPageRewriteInput& input, const TLinkTest& acceptLink, const TKnownURLTest& known,
                const TTypeExtensionLookup& typeOf, const TNewLinkClaim& claim, TResolvedLinkCache* resolved,
                std::string text, IPageRewriteObserver& observer)
        : m_input(input), m_acceptLink(acceptLink), m_known(known), m_typeOf(typeOf), m_claim(claim),
          m_resolved(resolved), m_observer(observer), m_text(std::move(text))
    {
        m_servedFolder = m_input.servedFolder.empty() ? URLDirectory(m_input.url) : m_input.servedFolder;
        m_ownFolder = URLDirectory(m_input.url);
        m_startFolder = URLDirectory(m_input.startURL);
        m_startRoot = URLAncestor(m_startFolder, 0);
    }

    TPageRewrite Run()
    {
        const TPageRewriteInput& in = m_input;
        // A page parsed before (a run stopped before its list was saved) holds the block: its
        // links are not the site's, and it is placed again with the address of today's layout.
        const bool hadBanner = !in.styleSheet && RemoveBanner(m_text);
        if (!in.styleSheet) {
            TakeBase();
            m_result.title = CleanText(TextBetween(m_text, "<TITLE>", "</TITLE>"));
        }
        m_observer.OnStart(m_text, m_result.title);
        if (!RunPasses()) {
            m_result.stopped = true;
            return std::move(m_result);
        }
        if (hadBanner || (!in.styleSheet && !in.framed && !in.noAds))
            m_text = InsertBanner(std::move(m_text), LocalBannerAddress(m_ownFolder));
        m_result.text = std::move(m_text);
        return std::move(m_result);
    }

private:
    // The passes in their order; false when the observer stopped the rewrite.
    bool RunPasses()
    {
        const int aggressive = m_input.aggressiveParser;
        if (m_input.styleSheet)
            return RunStylePass();
        if (aggressive != 2) {
            // A page holds a handful of the table's tags; passes for the others would scan it for
            // nothing, and a pass that has found all of its tags need not read on to the end.
            m_tagCounts = TagCountsIn(m_text);
            for (const TLinkTableRow& row : kLinkTable) {
                if (const std::size_t count = TagCount(row.tag);
                    count != 0 && !RunPass({TRewritePassKind::Tag, row.tag, row.attribute}, ">", pmTag, count))
                    return false;
            }
            for (const TLinkTableRow& row : kLinkListTable) {
                if (const std::size_t count = TagCount(row.tag);
                    count != 0 && !RunListPass({TRewritePassKind::List, row.tag, row.attribute}, count))
                    return false;
            }
            if (!RunStylePass())
                return false;
        }
        if (aggressive == 1 || aggressive == 2) {
            const auto mode = static_cast<TParserMode>(aggressive);
            for (const char* quote : {"'", "\""}) {
                if (!RunPass({TRewritePassKind::Strings, quote, ""}, quote, mode))
                    return false;
            }
        }
        return true;
    }

    // Reads and removes the first BASE tag. Its folder becomes the base links resolve against.
    void TakeBase()
    {
        // The parser borrows the text (without a replacement it hands the same text back), so
        // a page is not copied for the look.
        TPXParser parser(std::move(m_text), "BASE", ">", "HREF");
        const std::string value = parser.Next();
        const std::size_t open = parser.TagStart();
        const std::size_t close = parser.TagClose();
        m_text = parser.TakeText();
        if (value.empty())
            return;
        m_text.erase(open - 1, close - open + 1);
        m_baseURL = URLDirectory(ResolveURL(value, m_servedFolder));
    }

    // The folder links resolve against: the BASE tag's, or the one the item was served from.
    const std::string& Base() const { return m_baseURL.empty() ? m_servedFolder : m_baseURL; }

    bool EndPass(const TRewritePass& pass, const TPassCounts& counts)
    {
        m_result.passes.push_back(counts);
        const bool go = !m_handOverRefused && m_observer.OnPassEnd({pass, counts, m_text}, m_queued);
        KeepQueued();
        return go;
    }

    // What the observer left stays for the result, in the order found.
    void KeepQueued()
    {
        for (TQueuedLink& link : m_queued)
            m_result.queued.push_back(std::move(link));
        m_queued.clear();
    }

    // A batch of new links in the middle of a pass. A refusal ends the rewrite at the pass's end.
    void HandOverBatch(const TRewritePass& pass)
    {
        if (m_handOverRefused || m_queued.size() < IPageRewriteObserver::kQueueBatch)
            return;
        if (!m_observer.OnLinksQueued(pass, m_queued))
            m_handOverRefused = true;
        KeepQueued();
    }

    // How often the page holds a tag, counted again when an edit may have changed that.
    std::size_t TagCount(std::string_view tag)
    {
        if (m_tagCountsStale) {
            m_tagCounts = TagCountsIn(m_text);
            m_tagCountsStale = false;
        }
        const auto found = m_tagCounts.find(tag);
        return found == m_tagCounts.end() ? 0 : found->second;
    }

    void NoteEdit(std::string_view source, std::size_t start, std::string_view written)
    {
        if (!m_tagCountsStale && EditMayChangeTagCounts(source, start, written))
            m_tagCountsStale = true;
    }

    // A tag pass (a row of the link table) or a quoted-string pass. tagLimit: how often the page
    // holds the tag (0: not counted).
    bool RunPass(const TRewritePass& pass, const std::string& tagEnd, TParserMode mode, std::size_t tagLimit = 0)
    {
        TPassCounts counts;
        TPXParser parser(std::move(m_text), std::string(pass.tag), tagEnd, std::string(pass.attribute), mode);
        parser.SetTagLimit(tagLimit);
        while (!parser.Finished()) {
            const std::string value = parser.Next();
            if (!value.empty() && value[0] != '#')
                HandleValue(parser, value, pass, counts);
            m_observer.OnProgress(pass, counts);
        }
        m_text = parser.TakeText();
        return EndPass(pass, counts);
    }

    void HandleValue(TPXParser& parser, const std::string& value, const TRewritePass& pass, TPassCounts& counts)
    {
        const std::string* base = &Base();
        // Rewritten links must work from where the page is saved, which has no BASE tag any more.
        const std::string* localBase = &m_ownFolder;
        std::string codeBase;
        std::string localCodeBase;
        if (pass.attribute == "CODE") {
            const std::string codebase = parser.AttributeValue("CODEBASE");
            if (!codebase.empty()) {
                // A code base names a folder even when written without its closing "/".
                codeBase = WithTrailingSlash(StripAnchor(ResolveURL(codebase, *base)));
                localCodeBase = WithTrailingSlash(StripAnchor(ResolveURL(codebase, *localBase)));
                base = &codeBase;
                localBase = &localCodeBase;
            }
        }
        const std::size_t start = parser.ValueStart() - 1;
        if (std::optional<std::string> converted = HandleLink(value, start, value.size(), *base, *localBase, pass,
                                                              &parser, TagKind(pass, parser), counts)) {
            parser.ReplaceValue(*converted);
            NoteEdit(parser.Source(), start, *converted);
            m_observer.OnEdit(pass, {start, value.size(), *converted, false});
        }
    }

    // A list attribute (srcset): each link of the value is handled on its own and the value is
    // rebuilt with the converted links in place, descriptors and commas kept.
    bool RunListPass(const TRewritePass& pass, std::size_t tagLimit)
    {
        TPassCounts counts;
        TPXParser parser(std::move(m_text), std::string(pass.tag), ">", std::string(pass.attribute), pmTag);
        parser.SetTagLimit(tagLimit);
        while (!parser.Finished()) {
            const std::string value = parser.Next();
            if (!value.empty()) {
                const std::size_t valueStart = parser.ValueStart() - 1;
                const std::string rebuilt = RebuildLinkList(value, [&](const std::string& link, std::size_t offset) {
                    return HandleLink(link, valueStart + offset, link.size(), Base(), m_ownFolder, pass, nullptr,
                                      TFileKind::Image, counts);
                });
                if (rebuilt != value) {
                    parser.ReplaceValue(rebuilt);
                    NoteEdit(parser.Source(), valueStart, rebuilt);
                    m_observer.OnEdit(pass, {valueStart, value.size(), rebuilt, false});
                }
            }
            m_observer.OnProgress(pass, counts);
        }
        m_text = parser.TakeText();
        return EndPass(pass, counts);
    }

    // The links of style text: the whole text of a style sheet, or the style blocks and style
    // attributes of a page. The links are taken one at a time and the new text is built as they
    // come, from the first one that changes, so memory stays at two texts however many there are.
    bool RunStylePass()
    {
        const TRewritePass pass{TRewritePassKind::Style, "STYLE", ""};
        TPassCounts counts;
        std::string out;
        std::size_t copied = 0;
        bool edited = false;
        const std::string& source = m_text;
        const TCssLinkVisitor visit = [&](const TCssLink& link) {
            // "#id" names an element of the same document (an SVG filter), never a file.
            if (link.value[0] != '#') {
                const TFileKind kind = link.import     ? TFileKind::StyleSheet
                                       : link.fontFace ? TFileKind::Font
                                                       : TFileKind::Image;
                std::optional<std::string> converted =
                    HandleLink(link.value, link.start, link.length, Base(), m_ownFolder, pass, nullptr, kind, counts);
                // The scanner gives links in ascending order inside the text; anything else is
                // left out rather than corrupting the text.
                if (converted && *converted != link.value && link.start >= copied && link.start <= source.size()
                    && link.length <= source.size() - link.start) {
                    const std::string written = link.quoted ? std::move(*converted) : UnquotedCssURL(*converted);
                    if (!edited) {
                        out.reserve(source.size() + source.size() / 8 + written.size());
                        edited = true;
                    }
                    out.append(source, copied, link.start - copied);
                    out += written;
                    copied = link.start + link.length;
                    m_observer.OnEdit(pass, {link.start, link.length, written, !link.quoted});
                }
            }
            m_observer.OnProgress(pass, counts);
        };
        if (m_input.styleSheet)
            VisitStyleSheetLinks(source, visit);
        else
            VisitPageStyleLinks(source, visit);
        if (edited) {
            out.append(source, copied, std::string::npos);
            m_text = std::move(out);
        }
        return EndPass(pass, counts);
    }

    // Tests one link and queues it when accepted and new. Returns the text to write in its
    // place when the conversion settings ask for it, otherwise nothing. The title of a new item
    // is the parser's tag text, when there is a parser.
    std::optional<std::string> HandleLink(const std::string& value, std::size_t start, std::size_t length,
                                          const std::string& base, const std::string& localBase,
                                          const TRewritePass& pass, const TPXParser* parser, TFileKind kind,
                                          TPassCounts& counts)
    {
        // A page names the same few files again and again (menus, headers): a link written the
        // same way in the same context was decided at its first sight. Seen again it is never
        // new, so it is counted and written as then, without resolving or testing it once more.
        std::string memoKey;
        if (&base == &Base() && &localBase == &m_ownFolder) {
            memoKey.reserve(value.size() + 3);
            memoKey.append(value).push_back('\0');
            memoKey.push_back(static_cast<char>('A' + static_cast<int>(kind)));
            memoKey.push_back(pass.attribute == "SRC" || pass.attribute == "URL" ? 'S' : 'N');
            if (const auto seen = m_decided.find(memoKey); seen != m_decided.end()) {
                const TDecided& earlier = seen->second;
                TLinkDecision decision = Decision(start, length, value, earlier.url, localBase, earlier.group,
                                                  earlier.level);
                decision.typeExtension = earlier.typeExtension;
                decision.accepted = earlier.accepted;
                decision.converted = earlier.converted ? &*earlier.converted : nullptr;
                if (earlier.accepted)
                    ++counts.links;
                m_observer.OnLink(pass, decision);
                return earlier.converted;
            }
        }
        return DecideLink(value, start, length, base, localBase, pass, parser, kind, counts,
                          memoKey.empty() ? nullptr : &memoKey);
    }

    static constexpr std::size_t kDecidedKept = 4096;

    // A decision's fields that say where the link stands and what it is.
    static TLinkDecision Decision(std::size_t start, std::size_t length, std::string_view value, std::string_view url,
                                  std::string_view localBase, std::string_view group, int level)
    {
        TLinkDecision decision;
        decision.start = start;
        decision.length = length;
        decision.value = value;
        decision.url = url;
        decision.localBase = localBase;
        decision.typeGroup = group;
        decision.level = level;
        return decision;
    }

    // What a link seen for the first time in its context came to (see HandleLink).
    struct TDecided {
        std::string url;
        std::string group;
        std::string typeExtension;
        int level = 0;
        bool accepted = false;
        std::optional<std::string> converted;
    };

    // HandleLink for a link not decided before; memoKey: where to keep the decision, or null.
    std::optional<std::string> DecideLink(const std::string& value, std::size_t start, std::size_t length,
                                          const std::string& base, const std::string& localBase,
                                          const TRewritePass& pass, const TPXParser* parser, TFileKind kind,
                                          TPassCounts& counts, std::string* memoKey)
    {
        // What depends only on how the link is written and where it stands is worked out once
        // per folder and kept for the next pages there.
        TResolvedLink fresh;
        TResolvedLink* resolved = &fresh;
        const auto resolve = [&] { return Resolve(value, base, kind); };
        if (m_resolved != nullptr)
            resolved = &m_resolved->Lookup(value, base, localBase, static_cast<char>('A' + static_cast<int>(kind)),
                                           resolve);
        else
            fresh = resolve();
        const std::string& url = resolved->url;
        const std::string& group = resolved->group;
        const std::string& itemURL = resolved->itemURL;
        std::optional<bool> knownToTask;
        const auto known = [&] {
            if (!knownToTask)
                knownToTask = m_known(itemURL);
            return *knownToTask;
        };
        const std::string& key = resolved->key;
        std::string typeExtension = TargetTypeExtension(itemURL, key, known, resolved->contextTypeExtension);
        const bool page = group == kPageGroup;
        int action = m_input.action;
        if (!page && action == kActionMap)
            action = kActionSkip;
        // A framed page or a refresh target counts as the same level as the page holding it.
        const int level = (page && (pass.attribute == "SRC" || pass.attribute == "URL")) ? m_input.depth
                                                                                       : m_input.depth + 1;
        const auto accepted = [&] {
            if (resolved->testedLevel != level) {
                resolved->accepted = m_acceptLink(url, m_startFolder, level, group);
                resolved->testedLevel = level;
            }
            return resolved->accepted;
        };
        const auto localLink = [&] {
            if (!resolved->local || resolved->localFor != typeExtension) {
                resolved->local = LocalLink(url, localBase, typeExtension).append(AnchorOf(url));
                resolved->localFor = typeExtension;
            }
            return *resolved->local;
        };
        TLinkDecision decision = Decision(start, length, value, url, localBase, group, level);
        std::optional<std::string> converted;
        if (!url.empty() && accepted()) {
            decision.accepted = true;
            bool queue = !m_queuedKeys.contains(key) && !known();
            if (queue && m_claim) {
                // Another page got there first: its name for the file holds, as for a known item.
                if (std::optional<std::string> other = m_claim(itemURL, key, typeExtension)) {
                    typeExtension = std::move(*other);
                    queue = false;
                }
            }
            if (m_input.convertFollowedLinks == 1)
                converted = localLink();
            if (queue) {
                TQueuedLink link;
                link.url = itemURL;
                link.typeGroup = group;
                link.typeExtension = typeExtension;
                link.action = action;
                link.depth = m_input.depth + 1;
                link.parentURL = m_input.url;
                if (parser != nullptr)
                    link.title = parser->TagText();
                // Framed pages are shown inside another page: no banner of their own.
                link.framed = pass.tag == "FRAME" || pass.tag == "IFRAME";
                m_queued.push_back(std::move(link));
                m_queuedExtensions.emplace(key, typeExtension);
                m_queuedKeys.insert(key);
                decision.queued = true;
                ++counts.newLinks;
                HandOverBatch(pass);
            }
            ++counts.links;
        } else if (!url.empty() && !ContainsText(url, "mailto:")) {
            const int convert = m_input.convertUnfollowedLinks;
            if (convert == 2 || (convert == 1 && url.find(m_startRoot) != std::string::npos))
                converted = localLink();
        }
        decision.typeExtension = typeExtension;
        decision.converted = converted ? &*converted : nullptr;
        m_observer.OnLink(pass, decision);
        // Bounded, so that a page of a hundred thousand distinct links does not double its memory.
        if (memoKey != nullptr && m_decided.size() < kDecidedKept)
            m_decided.emplace(std::move(*memoKey),
                              TDecided{url, group, std::move(typeExtension), level, decision.accepted, converted});
        return converted;
    }

    // The type extension the target's local name is made with: the one its item holds when the
    // task or this page knows it already (the first link decided it), else the context's.
    // itemURL: the link's URL without its anchor, key: its URLIndexKey; known(): the task's list
    // holds it.
    template <typename TKnown>
    std::string TargetTypeExtension(const std::string& itemURL, const std::string& key, const TKnown& known,
                                    const std::string& contextTypeExtension) const
    {
        if (itemURL.empty())
            return {};
        if (const auto found = m_queuedExtensions.find(key); found != m_queuedExtensions.end())
            return found->second;
        if (known())
            return m_typeOf ? m_typeOf(itemURL) : std::string();
        return contextTypeExtension;
    }

    // The parts of a link's decision that depend only on how it is written and where it stands.
    TResolvedLink Resolve(const std::string& value, const std::string& base, TFileKind kind) const
    {
        TResolvedLink link;
        link.url = ResolveAndValidateURL(value, base);
        if (link.url.empty())
            return link;
        link.group = FileTypeOfURL(m_input.groups, link.url);
        // A file a browser loads as a style sheet, script, image... is no page: scanned as one it
        // would get the banner block written into it.
        if (link.group == kPageGroup && kind != TFileKind::None)
            link.group = FileTypeOfFile(m_input.groups, "file" + KindGroupExtension(kind));
        link.itemURL = StripAnchor(link.url);
        // The key of this page's queued links; made once for both looks.
        link.key = URLIndexKey(link.itemURL);
        link.contextTypeExtension = ContextTypeExtension(link.itemURL, kind);
        return link;
    }

    const TPageRewriteInput& m_input;
    const TLinkTest& m_acceptLink;
    const TKnownURLTest& m_known;
    const TTypeExtensionLookup& m_typeOf;
    const TNewLinkClaim& m_claim;
    TResolvedLinkCache* m_resolved; // or null
    IPageRewriteObserver& m_observer;
    std::string m_text;
    std::string m_servedFolder;
    std::string m_baseURL;
    std::string m_ownFolder;
    std::string m_startFolder;
    std::string m_startRoot;
    std::set<std::string> m_queuedKeys; // accepted new URLs of this page, as the URL index keys them
    std::map<std::string, std::string> m_queuedExtensions; // their type extensions, by key
    std::map<std::string, std::size_t, std::less<>> m_tagCounts; // TagCountsIn of the text the next pass reads
    bool m_tagCountsStale = false; // an edit may have changed them
    std::unordered_map<std::string, TDecided> m_decided; // links decided on this page, by value and context
    std::vector<TQueuedLink> m_queued;  // those of the pass in progress
    bool m_handOverRefused = false;     // the observer refused a batch: stop after this pass
    TPageRewrite m_result;
};

} // namespace

TPageRewriter::TPageRewriter(TPageRewriteInput input, TLinkTest acceptLink, TKnownURLTest known,
                             TTypeExtensionLookup typeOf)
    : m_input(std::move(input)), m_acceptLink(std::move(acceptLink)), m_known(std::move(known)),
      m_typeOf(std::move(typeOf))
{
    if (!m_acceptLink)
        m_acceptLink = [](std::string_view, std::string_view, int, std::string_view) { return false; };
    if (!m_known)
        m_known = [](std::string_view) { return false; };
}

TPageRewrite TPageRewriter::Rewrite(std::string text, IPageRewriteObserver* observer) const
{
    IPageRewriteObserver none;
    if (m_resolvedLinks != nullptr)
        m_resolvedLinks->UseGroups(m_input.groups);
    TRewriteJob job(m_input, m_acceptLink, m_known, m_typeOf, m_claim, m_resolvedLinks, std::move(text),
                    observer ? *observer : none);
    return job.Run();
}

std::string ParsingStatusText(const TPassCounts& counts)
{
    return "Parsing... Links: " + std::to_string(counts.links) + "  New Links: " + std::to_string(counts.newLinks);
}

} // namespace pellix
