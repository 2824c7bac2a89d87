// TPageRewriter: finds the links of one saved page or style sheet, decides which to queue, and rewrites them for offline use.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/queue_item.h"
#include "links/file_types.h"

namespace pellix {

class TResolvedLinkCache;

// One pass of the link table: the tag and the attribute that holds a link.
struct TLinkTableRow {
    const char* tag;
    const char* attribute;
};

// The passes over a page, in the order they run. Each value found is one link.
inline constexpr TLinkTableRow kLinkTable[] = {
    {"FRAME", "SRC"},      {"A", "HREF"},        {"IMG", "SRC"},     {"INPUT", "SRC"},
    {"META", "URL"},       {"BODY", "BACKGROUND"}, {"BGSOUND", "SRC"}, {"AREA", "HREF"},
    {"APPLET", "CODE"},    {"LINK", "HREF"},     {"SCRIPT", "SRC"},  {"IFRAME", "SRC"},
    {"EMBED", "SRC"},      {"SOURCE", "SRC"},    {"VIDEO", "SRC"},   {"VIDEO", "POSTER"},
    {"AUDIO", "SRC"},      {"OBJECT", "DATA"},
};

// Passes run after the link table whose values are comma lists of "link [descriptor]" items
// (responsive images); each link of a list is handled like a value of the table.
inline constexpr TLinkTableRow kLinkListTable[] = {
    {"IMG", "SRCSET"},     {"SOURCE", "SRCSET"},
};

// What a rewrite needs of the page item, its task and the settings, as plain values.
struct TPageRewriteInput {
    std::string url;          // the item's URL: where the page is saved, and the parent of its links
    std::string servedFolder; // folder of the address the page finally came from (redirects)
    std::string startURL;     // the task's start URL; its folder is the link test's start folder
    int depth = 0;
    int action = kActionDownload;
    bool framed = false;      // frame flag "Y": shown inside another page, so no banner
    bool styleSheet = false;  // only the style pass, over the whole text
    bool noAds = false;       // the "No Ads" setting: no banner
    // The profile's values.
    int aggressiveParser = 1;
    int convertFollowedLinks = 1;
    int convertUnfollowedLinks = 1;
    std::vector<TFileTypeGroup> groups;
};

// The profile's link test (TPXProfile::AcceptLink): whether an absolute URL is followed.
using TLinkTest = std::function<bool(std::string_view url, std::string_view startFolderURL, int level,
                                     std::string_view typeGroup)>;
// Whether the task's list already holds a URL (as its URL index keys it).
using TKnownURLTest = std::function<bool(std::string_view url)>;
// The type extension of the list's item for a URL (TPXDownloadList::TypeExtensionOf).
using TTypeExtensionLookup = std::function<std::string(std::string_view url)>;
// Claims an accepted new link (its URL without anchor, and that URL's index key) for this page to
// queue, with the type extension this page would name it with. Nothing: it is this page's;
// otherwise the extension of the item or page that has it already (pages rewritten at the same
// time on other threads), which the link is then made with, as for a known item.
using TNewLinkClaim = std::function<std::optional<std::string>(const std::string& url, const std::string& key,
                                                               const std::string& typeExtension)>;

// An accepted link new to the task: the fields of the queue item to add for it.
struct TQueuedLink {
    std::string url; // without its anchor
    std::string typeGroup;
    std::string typeExtension; // what the link's context says the file is (TPXQItem::TypeExtension)
    int action = kActionDownload;
    int depth = 0;
    std::string parentURL;
    std::string title;   // the link text of the tag it was found in; empty for other passes
    bool framed = false; // found in a FRAME or IFRAME tag: frame flag "Y"
};

enum class TRewritePassKind { Tag, List, Style, Strings };

// One pass: a row of a link table, the style pass, or a quoted-string pass (tag is the quote).
struct TRewritePass {
    TRewritePassKind kind = TRewritePassKind::Tag;
    std::string_view tag;
    std::string_view attribute;
};

// The status line's counts: links accepted in the pass so far, and those of them new to the task.
struct TPassCounts {
    int links = 0;
    int newLinks = 0;
};

// One link a pass tested, and what was decided. Offsets are 0-based in the text the pass was
// given: the link as written (a style link's escapes included).
struct TLinkDecision {
    std::size_t start = 0;
    std::size_t length = 0;
    std::string_view value;     // the link as read (a style link's escapes undone)
    std::string_view url;       // resolved and validated; empty when it is no web address
    std::string_view localBase; // the folder a rewritten link is made relative to
    std::string_view typeGroup;
    std::string_view typeExtension; // the target's, which its local link was made with
    int level = 0;              // the level the link was tested at
    bool accepted = false;
    bool queued = false;              // accepted and new to the task and the page
    const std::string* converted = nullptr; // the link to write in its place, or none
};

// A text a pass put in place of bytes [start, start + length) of the text it was given.
struct TRewriteEdit {
    std::size_t start = 0;
    std::size_t length = 0;
    std::string_view written;
    bool unquotedCss = false; // stands unquoted inside url(...)
};

// A pass that ended, with the text it left (the next pass's text).
struct TPassReport {
    TRewritePass pass;
    TPassCounts counts;
    std::string_view text;
};

// Follows a rewrite as it goes, on the rewriting thread. Every call is optional.
class IPageRewriteObserver {
public:
    virtual ~IPageRewriteObserver() = default;
    // Before the first pass: the text the passes start from (a page's without its BASE tag) and
    // a page's title (its TITLE text, cleaned; empty for a style sheet).
    virtual void OnStart(std::string_view /*text*/, const std::string& /*title*/) {}
    // After each value a pass found.
    virtual void OnProgress(const TRewritePass& /*pass*/, const TPassCounts& /*counts*/) {}
    virtual void OnLink(const TRewritePass& /*pass*/, const TLinkDecision& /*decision*/) {}
    // In ascending order of start within a pass.
    virtual void OnEdit(const TRewritePass& /*pass*/, const TRewriteEdit& /*edit*/) {}
    // After each pass, with the new links it accepted: the observer may take them (move them
    // out), so they can be fetched while the rest of the page is scanned; those left stay in the
    // result. False stops the rewrite: the rest of the page is not scanned.
    virtual bool OnPassEnd(const TPassReport& /*report*/, std::vector<TQueuedLink>& /*queued*/) { return true; }
    // Within a pass, whenever kQueueBatch new links wait: the same hand-over as at its end, so a
    // page with thousands of links (a site's index) feeds the crawl while it is scanned.
    virtual bool OnLinksQueued(const TRewritePass& /*pass*/, std::vector<TQueuedLink>& /*queued*/) { return true; }
    static constexpr std::size_t kQueueBatch = 256;
};

// What a rewrite decided.
struct TPageRewrite {
    std::string text;                // to be written in place of the page
    std::string title;               // a page's title; empty for a style sheet
    std::vector<TQueuedLink> queued; // new links the observer did not take, in the order found
    std::vector<TPassCounts> passes; // each pass that ran, in order
    bool stopped = false;            // an observer stopped it: text is unfinished, not to be written
};

// The work on one page's text: no threads, no files, no calls to the owner thread.
//
// A page: the first BASE tag is removed (its folder stays the base links resolve against), the
// title is read, and unless the "Aggressive Parser" setting is 2 one pass runs per row of the
// link tables whose tag the page holds, then one over its style blocks and style attributes; with
// the setting at 1 or 2 the quoted-string passes follow; last comes the banner block, unless the
// page is framed or "No Ads" is set. A style sheet gets only the style pass (url(...) and @import
// links, resolved against the sheet's own folder) and no banner.
//
// Links resolve against the BASE folder, or the folder the page was served from; rewritten links
// are made relative to where the page itself is saved. Each link is tested with the link test at
// the page's level + 1 (a framed page or refresh target at the page's own level); an accepted one
// new to the task and to this page is queued once, with the page's depth + 1.
//
// The tag, attribute or rule a link stands in tells what its file is (TFileKind): a link that a
// browser loads as a style sheet, script, image, font or media file is no page whatever its
// address, and a style sheet or script with a query keeps ".css" or ".js" in its local name. A
// known item's link is made with the type extension the list holds for it (typeOf).
class TPageRewriter final {
public:
    TPageRewriter(TPageRewriteInput input, TLinkTest acceptLink, TKnownURLTest known,
                  TTypeExtensionLookup typeOf = {});
    // Optional: without it every accepted link that is neither known nor queued by this page is new.
    void SetClaim(TNewLinkClaim claim) { m_claim = std::move(claim); }
    // Optional: where what links resolve to is kept across the pages of one task and run (the
    // caller empties it when either changes). Used by one rewrite at a time.
    void SetResolvedLinks(TResolvedLinkCache* cache) { m_resolvedLinks = cache; }

    // Rewrites text (the page or sheet as saved, not empty). The style pass holds its links one
    // at a time, so its memory does not grow with their number.
    TPageRewrite Rewrite(std::string text, IPageRewriteObserver* observer = nullptr) const;

    const TPageRewriteInput& Input() const { return m_input; }

private:
    TPageRewriteInput m_input;
    TLinkTest m_acceptLink;
    TKnownURLTest m_known;
    TTypeExtensionLookup m_typeOf;
    TNewLinkClaim m_claim;
    TResolvedLinkCache* m_resolvedLinks = nullptr;
};

// The status line's text for a pass in progress.
std::string ParsingStatusText(const TPassCounts& counts);

} // namespace pellix
