#include "tests/support/zip_fixture.h"

#include <zip.h>

namespace pellix::test {

bool WriteZipFixture(const std::string& zipPath, const TZipFixtureEntries& entries, std::time_t mtime) {
    int error = 0;
    zip_t* za = zip_open(zipPath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (za == nullptr) {
        return false;
    }
    for (const auto& [name, data] : entries) {
        zip_source_t* source = zip_source_buffer(za, data.data(), data.size(), 0);
        const zip_int64_t index = source == nullptr ? -1 : zip_file_add(za, name.c_str(), source, ZIP_FL_ENC_RAW);
        if (index < 0) {
            zip_source_free(source);
            zip_discard(za);
            return false;
        }
        if (mtime != 0) {
            zip_file_set_mtime(za, static_cast<zip_uint64_t>(index), mtime, 0);
        }
    }
    return zip_close(za) == 0;
}

} // namespace pellix::test
