// Zip result codes: the table that turns a code and a verb into what the user sees.
#include "workspace/zip_result.h"

#include <cerrno>

#include "links/file_io.h"

namespace pellix {

namespace {

TZipResultView Error(std::string message) {
    return {TZipYield::Error, TZipMessageKind::Error, std::move(message)};
}

} // namespace

TZipResultView InterpretZipResult(int code, const std::string& verb) {
    if (code <= 0) {
        return {};
    }
    switch (code) {
    case 10:
    case 30:
    case 140:
        return {TZipYield::SuccessWithNote, TZipMessageKind::None, {}};
    case 40:
        return {TZipYield::SuccessWithNote, TZipMessageKind::Information,
                "Some files were skipped while " + verb + "."};
    case 50:
        return {TZipYield::SuccessWithNote, TZipMessageKind::Information, "The Zip file is empty."};
    case 100:
        return Error("Could not find the archive file.");
    case 110:
    case 160:
        return Error("The archive file is corrupted. Try using the Fix option on it.");
    case 120:
        return Error("Ran out of memory while " + verb + ".");
    case 150:
        return Error("Disk full while " + verb + ".");
    case 180:
        return Error("Another application is currently performing a similar task. Wait until the "
                     "other application has completed its operation.");
    case 190:
        return {TZipYield::Error, TZipMessageKind::None, {}};
    case 200:
        return Error("Test failed - Errors in the archive.");
    case 210:
        return Error("No files ended up being tested in the archive.");
    case 240:
        // The table's text named two Windows DLLs; here the missing piece is zlib.
        return Error("The compression library (zlib) could not be loaded.");
    case 280:
        return Error("Problem with the temporary file.");
    case 350:
        return Error("Attempt to remove parent directory.");
    case 370:
        return Error("Names repeated in archive after discarding pathnames.");
    case 380:
        return Error("Could not update the Zip archive date. Archive only contains directories or "
                     "is empty.");
    case 400:
        return Error("Could not access the Zip file or one of the files to process.");
    case 410:
        return Error("Attempt to work with a multiple-disk Zip archive, but not in multidisk mode.");
    case 420:
        return Error("Wrong disk was inserted too many times.");
    default:
        return Error("An error occured while " + verb + " the specified files.");
    }
}

TZipAddFault ZipAddFaultOf(int code, int systemError) {
    if (InterpretZipResult(code, "adding").yield != TZipYield::Error) {
        return TZipAddFault::None;
    }
    switch (systemError) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return TZipAddFault::DiskFull;
    case EROFS:
        return TZipAddFault::ReadOnly;
    case EACCES:
    case EPERM:
        return TZipAddFault::Permission;
    case 0:
        break;
    default:
        return TZipAddFault::Other;
    }
    switch (code) {
    case kZipDiskFull:
        return TZipAddFault::DiskFull;
    case kZipAborted:
        return TZipAddFault::Aborted;
    default:
        return TZipAddFault::Other;
    }
}

std::string ZipAddFailureReason(int code, int systemError) {
    if (systemError != 0) {
        return WriteErrorReason(systemError);
    }
    switch (code) {
    case kZipDiskFull:
        return "disk full";
    case kZipNoMemory:
        return "out of memory";
    case kZipNotFound:
        return "the Zip file or its folder is missing";
    case kZipCorrupt:
    case kZipBadData:
        return "it is not a readable Zip file";
    case kZipBusy:
        return "another process is writing it";
    case kZipAborted:
        return "stopped";
    case kZipLibraryMissing:
        return "the compression library could not be loaded";
    case kZipNamesRepeated:
        return "two files would be stored under the same name";
    default:
        return "error " + std::to_string(code);
    }
}

} // namespace pellix
