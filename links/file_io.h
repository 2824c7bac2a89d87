// Whole-file reads and crash-safe whole-file writes, shared by every store the program keeps.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pellix {

// The file's bytes, or nothing when it cannot be opened. A missing file is not an error for
// callers that treat it as empty.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);

// Writes data to a temp file beside path, flushes it to disk and renames it over path, so that a
// process killed at any moment leaves either the old or the new file, never a torn one.
// ownerOnly: create the file with mode 0600 (files that may hold passwords).
// On failure the old file is untouched and error (when given) says why.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view data,
                         std::string* error = nullptr, bool ownerOnly = false);

// The same temp-and-rename without waiting for the disk: a killed process still leaves the old
// or the new file, a power cut may not. For files the program can make again (saved pages while
// their links are rewritten), where a flush per file would pace the whole crawl.
bool ReplaceFileQuickly(const std::filesystem::path& path, std::string_view data,
                        std::string* error = nullptr);

// ReplaceFileQuickly for a folder that is removed whole once its files are of no further use (a
// task's working folder): the replaced file stays beside path, emptied, under a temp name. A file
// system that keeps freed inodes from reuse for a while (ext4 without a journal) makes every
// later file creation step over each one freed recently; a crawl that freed one per saved page
// would slow down with every page.
// spare (optional) carries the replaced file from one call to the next instead of emptying it:
// the next data is written over it and swapped in, so that no new file is made, and afterwards it
// names the file replaced then. It must lie in the same folder tree; one that is gone or linked
// under another name too is not used, and a new temp file is made instead.
bool ReplaceFileInWorkFolder(const std::filesystem::path& path, std::string_view data,
                             std::string* error = nullptr, std::string* spare = nullptr);

// Makes sure folder exists as a folder of this user's alone, so that files written there cannot
// be read, replaced or redirected by another local user: created with mode 0700 when missing
// (its parents as usual), refused when it is a symbolic link, not a folder, or owned by another
// user; a group- or world-accessible folder of ours is tightened to 0700. False with the reason in
// error ("it is a symbolic link", "it belongs to another user", ...).
bool EnsurePrivateFolder(const std::filesystem::path& folder, std::string* error = nullptr);

// Removes folder and everything in it as remove_all does (symbolic links themselves, never what
// they point at), its subfolders shared among up to threads threads. False when something
// stayed.
bool RemoveFolderTree(const std::filesystem::path& folder, unsigned threads);

// Both writers leave the cause of a failure in errno when they return false.

// Local write failures that every later write would share: the disk or the quota is full, the
// file system is read-only, permission is denied, the file size limit is reached. A run stops on
// them (and can be resumed) instead of marking item after item failed.
bool IsRunStoppingWriteError(int error);
// "disk full", "read-only file system", "permission denied", "file size limit reached", or the
// system's text for any other error.
std::string WriteErrorReason(int error);

} // namespace pellix
