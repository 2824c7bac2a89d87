// ZipEntryNames, StoredZipEntries and UnzipTest.
#include "tests/support/zip_entries.h"

#include <cstdio>

#include <sys/wait.h>
#include <zip.h>

#include "workspace/zip_engine.h"

namespace pellix::test {

std::set<std::string> ZipEntryNames(const std::string& zipPath)
{
    TZipEngine engine;
    engine.SetZipFileName(zipPath);
    engine.SetFilesToProcess({"*.*"});
    std::set<std::string> names;
    engine.OnListing = [&](const TZipEntry& entry) { names.insert(entry.name); };
    engine.List();
    return names;
}

std::vector<TStoredZipEntry> StoredZipEntries(const std::string& zipPath)
{
    std::vector<TStoredZipEntry> entries;
    int error = 0;
    zip_t* za = zip_open(zipPath.c_str(), ZIP_RDONLY, &error);
    if (!za)
        return entries;
    const zip_int64_t count = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        if (zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &st) != 0)
            continue;
        TStoredZipEntry entry;
        entry.name = st.name ? st.name : "";
        entry.crc = st.crc;
        entry.mtime = st.mtime;
        entry.size = st.size;
        entry.packed = st.comp_size;
        zip_uint32_t length = 0;
        if (const char* comment = zip_file_get_comment(za, static_cast<zip_uint64_t>(i), &length, ZIP_FL_ENC_RAW))
            entry.comment.assign(comment, length);
        entries.push_back(std::move(entry));
    }
    zip_discard(za);
    return entries;
}

bool UnzipTest(const std::string& zipPath, std::string* output)
{
    const std::string command = "unzip -tq '" + zipPath + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return false;
    std::string text;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, n);
    const int status = ::pclose(pipe);
    if (output)
        *output = text;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace pellix::test
