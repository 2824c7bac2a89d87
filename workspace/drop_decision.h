// DecideDrop: what a drop onto the main window or the drop zone does, by what was dropped.
#pragma once

#include <string>
#include <vector>

namespace pellix {

// What the dragged data offered, as the window read it: the entries of a text/uri-list (file
// entries already turned into local paths, others as written) and the text/plain text.
struct TDropData {
    std::vector<std::string> localFiles; // file: entries of the uri-list
    std::vector<std::string> otherURIs;  // every other uri-list entry
    std::string text;                    // text/plain, empty when not offered
};

enum class TDropKind {
    Ignore,       // nothing usable: nothing happens
    Addresses,    // one or more web addresses: the profile chooser for each
    OpenZip,      // one Zip file: opened in the zip tree
    AddTaskFile,  // one task file: the task editor "Add a Task"
    ZipWizard,    // several files: the zip wizard lists them
};

struct TDropAction {
    TDropKind kind = TDropKind::Ignore;
    std::vector<std::string> items; // the addresses (normalised) or the files
};

// Addresses win over files (a link dragged from a browser offers both); several files, Zip files
// included, go to the zip wizard; one file is opened by its extension in any case, any other
// single file is ignored. Only http and https addresses count; text that is a file: URI or an
// absolute path is a file. Mixed drops keep their addresses and leave the files.
TDropAction DecideDrop(const TDropData& data);

// The drag effect by the key state: move-or-link when Shift alone is held, else copy-or-link.
enum class TDropEffect { CopyOrLink, MoveOrLink };
TDropEffect DropEffect(bool shift, bool control, bool alt);

// A file: URI's local path ("file:///a%20b.zip" gives "/a b.zip"); empty for anything else or a
// remote host.
std::string LocalPathOfFileURI(const std::string& uri);

} // namespace pellix
