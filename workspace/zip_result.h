// Zip result codes: the codes the zip engine returns and the messages the user is shown for them.
#pragma once

#include <string>

namespace pellix {

// Codes returned by TZipEngine. 0 is success; the others follow the historical numbering that the
// message table below knows, so that every failure reaches the user with a meaningful text.
enum TZipResultCode : int {
    kZipOk = 0,
    kZipNothingToDo = 10,      // no entry or file matched
    kZipWarning = 30,          // done, with a note that needs no message
    kZipSkipped = 40,          // some files were skipped (missing, unreadable, refused names)
    kZipEmpty = 50,            // the archive has no entries
    kZipNotFound = 100,        // the archive file does not exist
    kZipCorrupt = 110,         // the archive cannot be read as a Zip file
    kZipNoMemory = 120,
    kZipDiskFull = 150,
    kZipBadData = 160,         // an entry's data is damaged (CRC or inflate error)
    kZipBusy = 180,            // another process is writing the archive
    kZipAborted = 190,         // the abort flag or the user ended the operation
    kZipLibraryMissing = 240,  // the compression library could not be loaded
    kZipTempFile = 280,
    kZipNamesRepeated = 370,   // two files would get the same entry name without paths
    kZipAccess = 400,          // the archive or a file to process cannot be read or written
    kZipMultidisk = 410,
    kZipInternal = 999,        // anything else: shown as the generic message
};

// How the caller treats a result: carry on, carry on after a note, or stop.
enum class TZipYield { Success = 0, SuccessWithNote = 1, Error = 2 };

enum class TZipMessageKind { None, Information, Error };

struct TZipResultView {
    TZipYield yield = TZipYield::Success;
    TZipMessageKind kind = TZipMessageKind::None;
    std::string message;  // empty when nothing is shown
};

// The message table. verb: "adding", "deleting" or "extracting".
TZipResultView InterpretZipResult(int code, const std::string& verb);

// Why an add failed as a whole: the Zip file could not be written (or opened to be extended).
// DiskFull covers a full disk, a full quota and the file size limit.
enum class TZipAddFault { None, DiskFull, ReadOnly, Permission, Aborted, Other };

// The fault of an add that ended with code; systemError: errno of the failed write, or 0.
TZipAddFault ZipAddFaultOf(int code, int systemError);
// The reason in words: "disk full", "read-only file system", "permission denied", "file size
// limit reached", the system's text for another errno, else what the code means.
std::string ZipAddFailureReason(int code, int systemError);

} // namespace pellix
