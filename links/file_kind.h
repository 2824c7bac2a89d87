// TFileKind: what a linked file is (style sheet, script, image...), from the link's context or the reply's type.
#pragma once

#include <string>
#include <string_view>

namespace pellix {

// What a link's context says its file is: the tag and attribute it stands in, or where a style
// sheet names it. A browser treats the file that way whatever its address looks like.
enum class TFileKind {
    None,       // nothing known (an anchor, a frame, an object)
    StyleSheet, // <link rel=stylesheet>, @import
    Script,     // <script src>
    Image,      // <img src>, srcset, background, poster, url() in a rule
    Font,       // url() in @font-face
    Media,      // <video>, <audio>, <source src>, <bgsound>
};

// The kind a LINK tag's rel (and as) attributes give: "stylesheet" a style sheet, "icon" an
// image, "preload" by its "as", "modulepreload" a script.
TFileKind LinkTagKind(std::string_view rel, std::string_view as);

// The extension a file of this kind is named with whatever its type: ".css" and ".js". Images,
// fonts and media have several types, told by the reply; empty for them.
std::string KindExtension(TFileKind kind);

// An extension of the kind, standing for it when the file-type group of a link is looked up
// before the reply tells its type (".jpg" for an image); empty for None.
std::string KindGroupExtension(TFileKind kind);

// The usual extension of a reply's Content-Type ("image/png; q=1" gives ".png", "font/woff2"
// ".woff2", "text/css" ".css"); empty for pages, for generic types (text/plain,
// application/octet-stream) and for types not known here.
std::string ContentTypeExtension(std::string_view contentType);

// The type extension an item records when its link is found: the context's extension when the
// address alone would name the file otherwise ("/css?family=x" in a style sheet link gives
// ".css"; "theme.css?v=2" gives nothing, its own name says it already); otherwise empty.
std::string ContextTypeExtension(std::string_view url, TFileKind kind);

// The type extension an item records when its reply arrives: the one it has when its context
// decided it (a style sheet or a script); otherwise the Content-Type's, when the address alone
// does not name the file a style sheet, script, image, font or media file already; otherwise the
// one it has.
std::string ReplyTypeExtension(std::string_view url, std::string_view recorded, std::string_view contentType);

// Whether text can be an item's recorded type extension: "." and 1 to 8 lowercase letters or
// digits. Anything else in a list's field is ignored.
bool IsTypeExtension(std::string_view text);

} // namespace pellix
